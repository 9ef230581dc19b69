#pragma once

#include "platform/PlatformError.h"

#include <string>
#include <string_view>
#include <windows.h>

// Small helpers the Win32 file services share.

class Handle {
  public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : m_handle(handle) {}
    Handle(Handle&& other) noexcept : m_handle(other.m_handle) {
        other.m_handle = INVALID_HANDLE_VALUE;
    }
    Handle& operator=(Handle&& other) noexcept {
        std::swap(m_handle, other.m_handle);
        return *this;
    }
    ~Handle() {
        if (valid())
            ::CloseHandle(m_handle);
    }
    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }

  private:
    HANDLE m_handle;
};

[[noreturn]] inline void throwLastError() {
    throw PlatformError::fromWin32(::GetLastError());
}

// A path as the wide API takes it. A name holding U+0000 names nothing.
inline std::wstring widePath(std::u16string_view path) {
    if (path.find(u'\0') != path.npos)
        throw PlatformError::fromWin32(ERROR_INVALID_NAME);
    return std::wstring(path.begin(), path.end());
}

inline std::u16string fromWide(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}
