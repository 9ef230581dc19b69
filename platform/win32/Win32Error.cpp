#include "platform/PlatformError.h"

#include <string>
#include <windows.h>

bool PlatformError::isNotFound() const {
    switch (m_code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
    case ERROR_NO_UNICODE_TRANSLATION:
        return true;
    default:
        return false;
    }
}

PlatformError PlatformError::fromWin32(unsigned long code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string description(reinterpret_cast<const char16_t*>(text ? text : L""), length);
    if (text)
        ::LocalFree(text);
    // The system's text ends with a line break the report does not want.
    while (!description.empty() && (description.back() == u'\n' || description.back() == u'\r'))
        description.pop_back();
    if (description.empty()) {
        const std::wstring number = std::to_wstring(code);
        description = u"Error " + std::u16string(number.begin(), number.end());
    }
    return PlatformError(std::move(description), static_cast<int>(code));
}
