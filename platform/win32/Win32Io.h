#pragma once

#include "platform/FileServices.h"
#include "platform/OsHandle.h"
#include "platform/PlatformError.h"

#include <cstring>
#include <string>
#include <string_view>
#include <windows.h>

// Small helpers the Win32 file services share.

inline HANDLE handleOf(OsHandle::Native native) {
    return reinterpret_cast<HANDLE>(native);
}

inline HANDLE handleOf(const OsHandle& handle) {
    return handleOf(handle.get());
}

// Takes a handle the system gave (INVALID_HANDLE_VALUE or null when it gave none).
inline OsHandle ownHandle(HANDLE handle) {
    return OsHandle(reinterpret_cast<OsHandle::Native>(handle));
}

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
        BY_HANDLE_FILE_INFORMATION full = info;
        // Read without its number (one query for attributes, times and size), it is asked now.
        if (full.dwVolumeSerialNumber == 0 && full.nFileIndexHigh == 0 && full.nFileIndexLow == 0)
            ::GetFileInformationByHandle(file, &full);
        identity.volume = full.dwVolumeSerialNumber;
        identity.index =
            (static_cast<std::uint64_t>(full.nFileIndexHigh) << 32) | full.nFileIndexLow;
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

// A path in the "\\?\" form, which the wide calls take past 260 characters whether or not the
// system's long-path switch is on (it is off by default, and the manifest alone gives nothing):
// made full as the plain name would be ("." and "..", trailing dots and spaces), as a share
// "\\?\UNC\...". A device ("\\.\") and a name in that form already stay as they are.
// Empty where the system cannot make the name full, with its reason as the last error.
inline std::wstring longPathOrNone(const std::wstring& given) {
    if (given.starts_with(LR"(\\?\)"))
        return given;
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()),
                                                full.data(), nullptr);
        if (length == 0)
            return {};
        if (length < full.size()) {
            full.resize(length);
            break;
        }
        full.resize(length);
    }
    if (full.starts_with(LR"(\\.\)"))
        return full;
    if (full.starts_with(LR"(\\)"))
        return LR"(\\?\UNC\)" + full.substr(2);
    return LR"(\\?\)" + full;
}

inline std::wstring longPath(std::u16string_view path) {
    std::wstring full = longPathOrNone(widePath(path));
    if (full.empty())
        throwLastError();
    return full;
}

inline std::u16string fromWide(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}
