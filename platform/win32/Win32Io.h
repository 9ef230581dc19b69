#pragma once

#include "platform/FileServices.h"
#include "platform/PlatformError.h"

#include <cstring>
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

// The 128-bit number where the file system has it (ReFS's 64-bit index is not unique), else
// the volume's serial and the 64-bit index `info` holds.
inline FileIdentity identityOf(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info) {
    FileIdentity identity;
    if (FILE_ID_INFO id{}; ::GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id)) {
        identity.volume = id.VolumeSerialNumber;
        std::memcpy(&identity.index, id.FileId.Identifier, sizeof identity.index);
        std::memcpy(&identity.indexHigh, id.FileId.Identifier + sizeof identity.index,
                    sizeof identity.indexHigh);
    } else {
        identity.volume = info.dwVolumeSerialNumber;
        identity.index =
            (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    }
    return identity;
}

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
