#include "platform/qt/QtMessageBoxes.h"

#include "platform/qt/MessageDialog.h"
#include "platform/qt/QtPlatform.h"

#include <QApplication>

std::unique_ptr<MessageDialog> QtMessageBoxes::create(std::u16string_view prompt, int style,
                                                      std::u16string_view title) const {
    // Line breaks in the text are CR LF or a bare CR; Qt breaks at LF.
    QString text = toQString(prompt);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return std::make_unique<MessageDialog>(
        QApplication::activeWindow(), text, style,
        toQString(title.empty() ? std::u16string_view(m_title) : title));
}

int QtMessageBoxes::msgBox(std::u16string_view prompt, int style, std::u16string_view title) {
    const std::unique_ptr<MessageDialog> box = create(prompt, style, title);
    box->exec();
    return box->answer();
}
