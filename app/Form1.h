#pragma once

#include "app/StartUp.h"
#include "app/report/WindowHost.h"

#include <QCursor>
#include <QWidget>
#include <optional>

class QGroupBox;
class QLineEdit;
class QPushButton;
class RandomSource;
class SkinEngine;

// The platform services the window works through.
struct PlatformServices {
    FileServices& files;
    MessageBoxes& boxes;
    CommonDialog& dialog;
    Shell& shell;
    RandomSource& random;
    SkinEngine& skin;
};

// The main window: two input boxes, five buttons, the busy flag and the pointer setting.
class Form1 : public QWidget, public WindowHost {
    Q_OBJECT

  public:
    explicit Form1(PlatformServices services,
                   std::u16string productName = std::u16string(kProductName));

    // The start-up sequence; runs while the window is still hidden.
    void Form_Load();
    // Shows the window centred on its screen, Text1 focused.
    void showCentred();

    std::u16string text1() const override;
    std::u16string text2() const override;
    void setText1(const std::u16string& text) override;
    void setText2(const std::u16string& text) override;
    bool busy() const override { return m_busy; }
    void setBusy(bool busy) override { m_busy = busy; }
    int mousePointer() const override { return m_pointer; }
    void setMousePointer(int pointer) override;
    MessageBoxes& messageBoxes() override { return m_services.boxes; }
    FileServices& fileServices() override { return m_services.files; }
    CommonDialog& commonDialog() override { return m_services.dialog; }
    Shell& shell() override { return m_services.shell; }
    std::uintptr_t windowHandle() override;

    bool hasHandPointer() const { return m_hand.has_value(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    QPushButton* addButton(QWidget* parent, const char* name, const QString& caption,
                           const QRect& twips);
    QLineEdit* addTextBox(QWidget* parent, const char* name, const QRect& twips);
    QGroupBox* addFrame(const char* name, const QString& caption, const QRect& twips);
    QRect pixels(const QRect& twips) const;
    void applySkin();
    void loadHandPointer(const std::u16string& path);
    void takeDroppedFile(bool intoText1, const QString& file);
    void centreFrame();

    PlatformServices m_services;
    std::u16string m_productName;
    double m_pixelsPerTwip;
    bool m_busy = false;
    bool m_centreWhenFramed = false;
    int m_pointer = PointerDefault;
    std::optional<QCursor> m_hand;
    QLineEdit* m_text1;
    QLineEdit* m_text2;
    QList<QPushButton*> m_buttons;
};
