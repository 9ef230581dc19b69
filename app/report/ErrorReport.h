#pragma once

#include <string>
#include <string_view>

class MessageBoxes;

inline constexpr std::u16string_view kSupportAddress = u"support@quorvane.example";

// "in Tarnwick2021/08/31.Form1.<procedure> ", the tag that names a guarded procedure.
std::u16string procedureTag(std::u16string_view procedure);

std::u16string errorReportText(std::u16string_view description, std::u16string_view tag, int line);

// Shows the error report and returns once it is dismissed.
void ShowErrorReport(MessageBoxes& boxes, std::u16string_view description, std::u16string_view tag,
                     int line);
