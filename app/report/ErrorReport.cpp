#include "app/report/ErrorReport.h"

#include "platform/MessageBoxes.h"

std::u16string procedureTag(std::u16string_view procedure) {
    std::u16string tag = u"in Tarnwick2021/08/31.Form1.";
    tag += procedure;
    tag += u' ';
    return tag;
}

std::u16string errorReportText(std::u16string_view description, std::u16string_view tag, int line) {
    std::u16string text(description);
    text += u"\r\n";
    text += tag;
    text += u"at line ";
    for (char c : std::to_string(line))
        text += static_cast<char16_t>(c);
    text += u"\r\rPlease email screenshot of this message to ";
    text += kSupportAddress;
    return text;
}

void ShowErrorReport(MessageBoxes& boxes, std::u16string_view description, std::u16string_view tag,
                     int line) {
    boxes.msgBox(errorReportText(description, tag, line), MsgBoxExclamation, u"Application Error");
}
