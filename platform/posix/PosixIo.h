#pragma once

#include "platform/FileServices.h"
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

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now, so that a failing close counts as a failed write.
    void close() {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            throw PlatformError::fromErrno(errno);
    }

  private:
    int m_fd;
};

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

// read() that goes on when interrupted; 0 at the end of the file.
std::size_t readSome(int fd, char* buffer, std::size_t size);
