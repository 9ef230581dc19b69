#pragma once

#include <QDialog>
#include <QString>

class QDialogButtonBox;
class QLabel;

// A modal message box of our own. Qt's own box turns word wrap back on past a fixed width
// each time it is shown; this one keeps every line of its text whole while it fits the
// screen's available width, wraps at spaces only beyond it, and is wide enough for its title.
class MessageDialog : public QDialog {
    Q_OBJECT

  public:
    // `style` is a message-box style value (buttons, icon, default button).
    MessageDialog(QWidget* parent, const QString& text, int style, const QString& title);

    // The message-box answer of the button that closed it (OK, Yes or No).
    int answer() const { return m_answer; }
    QLabel* textLabel() const { return m_text; }
    QDialogButtonBox* buttons() const { return m_buttons; }
    bool hasWarningIcon() const { return m_warning; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QLabel* m_text;
    QDialogButtonBox* m_buttons;
    bool m_warning;
    int m_answer;
};
