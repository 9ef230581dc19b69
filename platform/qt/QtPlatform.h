#pragma once

#include "platform/CommonDialog.h"
#include "platform/MessageBoxes.h"
#include "platform/RandomSource.h"
#include "platform/Shell.h"
#include "platform/SkinEngine.h"

#include <QColor>
#include <QCursor>
#include <QIcon>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <random>
#include <string>

// A colour value: 0x00BBGGRR fixed, 0x800000nn the system colour with index nn.
QColor colorFromOle(std::uint32_t colour);

// The icon built into the program.
QIcon applicationIcon();

// A cursor from the bytes of a .cur file, with the hot spot the file gives. Throws
// PlatformError when the bytes are no cursor.
QCursor cursorFromFile(const std::string& bytes);

// Message boxes as modal Qt dialogs.
class QtMessageBoxes : public MessageBoxes {
  public:
    explicit QtMessageBoxes(std::u16string defaultTitle) : m_title(std::move(defaultTitle)) {}
    int msgBox(std::u16string_view prompt, int style, std::u16string_view title) override;
    std::u16string applicationTitle() const override { return m_title; }
    void setApplicationTitle(std::u16string_view title) override { m_title = title; }
    // Sets a box up as the style value asks, without showing it.
    void configure(QMessageBox& box, std::u16string_view prompt, int style,
                   std::u16string_view title) const;

  private:
    std::u16string m_title;
};

// The file-open dialog; paths come back in Windows form.
class QtCommonDialog : public CommonDialog {
  public:
    void ShowOpen() override;
    // The Qt name filters for a Windows filter: "*.*" also matches names without a dot, and
    // patterns match regardless of case, as on Windows.
    static QStringList nameFilters(std::u16string_view filter);
};

// Opens folders and addresses with xdg-open, detached, output to the null device.
class DesktopShell : public Shell {
  public:
    void shellExecute(std::uintptr_t owner, std::u16string_view operation, std::u16string_view file,
                      std::u16string_view parameters, std::u16string_view directory,
                      int showCommand) override;
    void launch(std::u16string_view commandLine, int windowStyle) override;
    // Splits a Windows command line; "explorer" stands for the desktop's opener.
    static QStringList splitCommandLine(std::u16string_view commandLine);

  private:
    static void startDetached(const QString& program, const QStringList& arguments);
};

class ClockRandom : public RandomSource {
  public:
    void randomize() override;
    double rnd() override;

  private:
    std::mt19937_64 m_generator;
};

// Our skin engine: a skin file is a Qt style sheet, applied to the window it is given.
class StyleSheetSkin : public SkinEngine {
  public:
    DispValue getProperty(int member) override;
    void putProperty(int member, const DispValue& value) override;
    void callMethod(int member, const std::vector<DispValue>& arguments) override;

  private:
    QString m_sheet;
    std::int32_t m_options = 0;
    bool m_dialogs = false;
    bool m_frameColours = false;
};
