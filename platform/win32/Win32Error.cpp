#include "platform/PlatformError.h"
#include "platform/win32/Win32Io.h"

#include <string>

PlatformError PlatformError::fromWin32(unsigned long code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string description = fromWide(std::wstring_view(text ? text : L"", length));
    if (text)
        ::LocalFree(text);
    // The system's text ends with a line break the report does not want.
    while (!description.empty() && (description.back() == u'\n' || description.back() == u'\r'))
        description.pop_back();
    if (description.empty())
        description = u"Error " + fromWide(std::to_wstring(code));
    // The standard library gives this one no errno of its own: a name the code page cannot
    // carry is an illegal byte sequence.
    const std::error_code error =
        code == ERROR_NO_UNICODE_TRANSLATION
            ? std::make_error_code(std::errc::illegal_byte_sequence)
            : std::error_code(static_cast<int>(code), std::system_category());
    return PlatformError(std::move(description), error);
}

PlatformError PlatformError::fromCondition(std::errc condition) {
    switch (condition) {
    case std::errc::permission_denied:
        return fromWin32(ERROR_ACCESS_DENIED);
    case std::errc::file_exists:
        return fromWin32(ERROR_FILE_EXISTS);
    case std::errc::no_such_file_or_directory:
        return fromWin32(ERROR_FILE_NOT_FOUND);
    default:
        return PlatformError(u"Error", std::make_error_code(condition));
    }
}

PlatformError PlatformError::fromCode(const std::error_code& code) {
    return code.category() == std::system_category()
               ? fromWin32(static_cast<unsigned long>(code.value()))
               : fromErrno(code.value());
}
