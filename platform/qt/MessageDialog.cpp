#include "platform/qt/MessageDialog.h"

#include "platform/MessageBoxes.h"
#include "platform/qt/QtPlatform.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

namespace {

// What the window frame adds around a title: the icon and the title-bar buttons.
constexpr int kTitleBarChrome = 140;

} // namespace

MessageDialog::MessageDialog(QWidget* parent, const QString& text, int style, const QString& title)
    : QDialog(parent), m_warning((style & 0x70) == MsgBoxExclamation) {
    setWindowTitle(title);
    // A screen reader announces the box as an alert: its title, then its text.
    announceClassAs("MessageDialog", QAccessible::AlertMessage);
    setAccessibleDescription(text);
    // As a Windows message box: a title and a close box, nothing to minimise or maximise.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    setWindowModality(Qt::ApplicationModal);
    const bool yesNo = (style & 0x7) == MsgBoxYesNo;
    m_answer = yesNo ? MsgBoxNo : MsgBoxOk; // what Esc and the close box answer

    auto* layout = new QGridLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setHorizontalSpacing(16);
    layout->setVerticalSpacing(16);
    if (m_warning) {
        auto* icon = new QLabel(this);
        const int size = this->style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
        icon->setPixmap(
            this->style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(size, size));
        icon->setAlignment(Qt::AlignTop);
        layout->addWidget(icon, 0, 0);
    }

    m_text = new QLabel(text, this);
    m_text->setObjectName(QStringLiteral("text"));
    m_text->setTextFormat(Qt::PlainText);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const QFontMetrics metrics(m_text->font());
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const int room = (screen ? screen->availableGeometry().width() : 1024) - 120;
    if (widest > room) {
        m_text->setWordWrap(true);
        m_text->setFixedWidth(room);
    }
    layout->addWidget(m_text, 0, 1);
    layout->setColumnStretch(1, 1); // the text keeps to the left, as on Windows

    m_buttons = new QDialogButtonBox(
        yesNo ? QDialogButtonBox::Yes | QDialogButtonBox::No : QDialogButtonBox::Ok, this);
    m_buttons->setCenterButtons(true);
    for (QAbstractButton* button : m_buttons->buttons())
        button->setIcon(QIcon()); // text only, as on Windows
    QPushButton* preferred = m_buttons->button(
        !yesNo ? QDialogButtonBox::Ok
               : ((style & 0x300) ? QDialogButtonBox::No : QDialogButtonBox::Yes));
    preferred->setDefault(true);
    preferred->setFocus();
    layout->addWidget(m_buttons, 1, 0, 1, 2);
    connect(m_buttons, &QDialogButtonBox::clicked, this, [this](QAbstractButton* button) {
        const auto role = m_buttons->standardButton(button);
        m_answer = role == QDialogButtonBox::Yes  ? MsgBoxYes
                   : role == QDialogButtonBox::No ? MsgBoxNo
                                                  : MsgBoxOk;
        done(m_answer);
    });

    // The title must show whole, however short the text.
    const QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
    const QMargins margins = layout->contentsMargins();
    m_buttons->setMinimumWidth(QFontMetrics(titleFont).horizontalAdvance(title) + kTitleBarChrome -
                               margins.left() - margins.right());
}

void MessageDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    QAccessibleEvent alert(this, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}
