#pragma once

#include "platform/CommonDialog.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <string>

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
