#pragma once

#include "platform/CommonDialog.h"
#include "platform/MessageBoxes.h"
#include "platform/RandomSource.h"
#include "platform/Shell.h"
#include "platform/SkinEngine.h"

#include <QAccessible>
#include <QColor>
#include <QCursor>
#include <QIcon>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <random>
#include <string>

class MessageDialog;

// The look the window is designed with, whatever the desktop's theme: the Fusion style with
// its light palette, Arial's metric twin for boxes and dialogs on Linux, and the icon.
void applyDesignLook();

// Why no window can be shown here, with advice that works; empty where one can.
std::string missingDisplayAdvice();

// The name under which Qt finds a file named by a Windows path.
QString hostFileName(std::u16string_view windowsPath);

// A colour value: 0x00BBGGRR fixed, 0x800000nn the system colour with index nn.
QColor colorFromOle(std::uint32_t colour);

// Screen readers announce every widget of the named class in `role` (Qt gives a plain top-level
// widget the role of a filler, a plain dialog that of a dialog).
void announceClassAs(const char* className, QAccessible::Role role);

// The icon built into the program.
QIcon applicationIcon();

// A cursor from the bytes of a .cur file, with the hot spot the file gives, or of an icon file,
// with the hot spot at its centre, as the Windows picture loader takes one. Throws
// PlatformError when the bytes are neither.
QCursor cursorFromFile(const std::string& bytes);

// Message boxes as modal Qt dialogs.
class QtMessageBoxes : public MessageBoxes {
  public:
    explicit QtMessageBoxes(std::u16string defaultTitle) : m_title(std::move(defaultTitle)) {}
    int msgBox(std::u16string_view prompt, int style, std::u16string_view title) override;
    std::u16string applicationTitle() const override { return m_title; }
    void setApplicationTitle(std::u16string_view title) override { m_title = title; }
    // The box as the style value asks, not yet shown.
    std::unique_ptr<MessageDialog> create(std::u16string_view prompt, int style,
                                          std::u16string_view title) const;

  private:
    std::u16string m_title;
};

// What a picked or dropped file whose name Windows rules cannot carry is told with.
inline constexpr std::u16string_view kRefusedName =
    u"This file cannot be used: its name contains \\, * or ?, or ends in a dot or a space.";

// The file-open dialog; paths come back in Windows form.
class QtCommonDialog : public CommonDialog {
  public:
    void ShowOpen() override;
    // The Windows form of a picked file, or nothing when Windows rules cannot carry its name.
    static std::optional<std::u16string> windowsPathOf(const QString& picked);
    // The Qt name filters for a Windows filter: "*.*" also matches names without a dot, and
    // patterns match regardless of case, as on Windows.
    static QStringList nameFilters(std::u16string_view filter);
};

// Opens folders and addresses with the desktop's own opener (xdg-open, detached, output to the
// null device; the Windows shell), and starts command lines.
class DesktopShell : public Shell {
  public:
    void shellExecute(std::uintptr_t owner, std::u16string_view operation, std::u16string_view file,
                      std::u16string_view parameters, std::u16string_view directory,
                      int showCommand) override;
    void launch(std::u16string_view commandLine, int windowStyle) override;
    // Splits a Windows command line into its words.
    static QStringList splitCommandLine(std::u16string_view commandLine);
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
