#pragma once

#include "platform/FileServices.h"
#include "platform/OsHandle.h"
#include "platform/PlatformError.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

// Small helpers the POSIX file services share.

inline FileIdentity identityOf(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino), 0};
}

// The descriptor a handle holds.
inline int fdOf(OsHandle::Native native) {
    return static_cast<int>(native);
}

inline int fdOf(const OsHandle& handle) {
    return fdOf(handle.get());
}

[[noreturn]] inline void throwErrno() {
    throw PlatformError::fromErrno(errno);
}

inline std::string_view baseName(std::string_view hostPath) {
    return hostPath.substr(hostPath.rfind('/') + 1);
}

inline bool isHiddenName(std::string_view name) {
    return !name.empty() && name[0] == '.';
}

inline bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The path through /proc that reaches an open file itself, whatever its name is now; made
// without allocating, as it is made for every copy.
struct ProcPath {
    char text[32];
    const char* c_str() const { return text; }
};

inline ProcPath procPath(int fd) {
    ProcPath path;
    std::snprintf(path.text, sizeof path.text, "/proc/self/fd/%d", fd);
    return path;
}
