#include "platform/posix/PosixFileServices.h"

#include "platform/PlatformError.h"
#include "platform/posix/WindowsPath.h"
#include "shared/Text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
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

[[noreturn]] void throwErrno() {
    throw PlatformError::fromErrno(errno);
}

// After a failed call: true when nothing was there to find; any other fault is thrown.
bool failedAsNotFound() {
    const PlatformError error = PlatformError::fromErrno(errno);
    if (!error.isNotFound())
        throw error;
    return true;
}

// read() that goes on when interrupted; 0 at the end of the file.
std::size_t readSome(int fd, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            throwErrno();
    }
}

struct stat statOf(const std::string& hostPath) {
    struct stat info {};
    if (::stat(hostPath.c_str(), &info) != 0)
        throwErrno();
    return info;
}

std::string_view baseName(std::string_view hostPath) {
    return hostPath.substr(hostPath.rfind('/') + 1);
}

bool isHiddenName(std::string_view name) {
    return !name.empty() && name[0] == '.';
}

// Windows wildcard match: * any run, ? one character; a final ".*" also matches no extension.
bool wildcardMatch(std::u16string_view pattern, std::u16string_view name) {
    if (pattern == u"*.*")
        return true;
    std::size_t p = 0, n = 0, starP = std::u16string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u16string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    if (p == pattern.size())
        return true;
    return pattern.substr(p) == u".*";
}

std::string temporaryName() {
    thread_local std::mt19937_64 generator{std::random_device{}() ^
                                           (static_cast<std::uint64_t>(::getpid()) << 32)};
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string name = ".quorvane-000000000000.tmp";
    std::uint64_t bits = generator();
    for (std::size_t i = 10; i < 22; ++i, bits >>= 4)
        name[i] = kDigits[bits & 0xF];
    return name;
}

// Copies `length` bytes in the kernel; falls back to read and write where it cannot.
void copyContents(int in, int out, off_t length) {
    while (length > 0) {
        const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, length, 0);
        if (copied > 0) {
            length -= copied;
            continue;
        }
        if (copied == 0)
            return; // the source shrank
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            throwErrno();
        break;
    }
    if (length == 0)
        return;
    std::unique_ptr<char[]> buffer(new char[1 << 17]);
    while (length > 0) {
        const auto chunk = static_cast<std::size_t>(std::min<off_t>(length, 1 << 17));
        const auto got = static_cast<ssize_t>(readSome(in, buffer.get(), chunk));
        if (got == 0)
            return;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer.get() + done, got - done);
            if (put < 0 && errno != EINTR)
                throwErrno();
            done += std::max<ssize_t>(put, 0);
        }
        length -= got;
    }
}

} // namespace

PosixFileServices::PosixFileServices() : m_uid(::geteuid()), m_gid(::getegid()) {
    m_umask = ::umask(022);
    ::umask(m_umask);
}

std::int64_t PosixFileServices::lastModified(std::u16string_view path) {
    return statOf(toHostPath(path)).st_mtim.tv_sec;
}

std::uint32_t PosixFileServices::attributes(std::u16string_view path) {
    const std::string host = toHostPath(path);
    const struct stat info = statOf(host);
    std::uint32_t bits = 0;
    if (S_ISDIR(info.st_mode))
        bits |= AttributeDirectory;
    if ((info.st_mode & 0222) == 0)
        bits |= AttributeReadOnly;
    std::string_view name = host;
    if (name.size() > 1 && name.back() == '/')
        name.remove_suffix(1);
    if (isHiddenName(baseName(name)))
        bits |= AttributeHidden;
    return bits == 0 ? AttributeNormal : bits;
}

bool PosixFileServices::openExisting(std::u16string_view path) {
    std::string host;
    try {
        host = toHostPath(path);
    } catch (const PlatformError&) {
        return false;
    }
    // An open without access (O_PATH) fails exactly where stat fails and needs no permission
    // on the file itself; stat answers the same in one call and never blocks.
    struct stat info {};
    return ::stat(host.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::vector<std::u16string> PosixFileServices::findOrdinaryFiles(std::u16string_view pattern,
                                                                 std::size_t limit) {
    std::vector<std::u16string> found;
    std::string host;
    try {
        host = toHostPath(pattern, true);
    } catch (const PlatformError& error) {
        if (error.isNotFound())
            return found;
        throw;
    }
    const std::size_t slash = host.rfind('/');
    const std::string folder = host.substr(0, slash + 1);
    const std::string name = host.substr(slash + 1);
    if (name.empty() || isHiddenName(name) || limit == 0)
        return found;

    const std::u16string wideName = decodeUtf8Lossless(name);
    if (!hasWildcard(wideName)) {
        struct stat info {};
        if (::stat(host.c_str(), &info) == 0) {
            if (S_ISREG(info.st_mode))
                found.push_back(wideName);
            return found;
        }
        failedAsNotFound();
        return found;
    }

    DIR* dir = ::opendir(folder.c_str());
    if (!dir && failedAsNotFound())
        return found;
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
    while (const dirent* entry = ::readdir(dir)) {
        if (isHiddenName(entry->d_name))
            continue;
        std::u16string candidate = decodeUtf8Lossless(entry->d_name);
        if (!wildcardMatch(wideName, candidate))
            continue;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat info {};
            regular =
                ::fstatat(::dirfd(dir), entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
        }
        if (!regular)
            continue;
        found.push_back(std::move(candidate));
        if (found.size() == limit)
            break;
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::int64_t PosixFileServices::fileLength(std::u16string_view path) {
    const struct stat info = statOf(toHostPath(path));
    if (S_ISDIR(info.st_mode))
        throw PlatformError::fromErrno(EISDIR);
    return info.st_size;
}

std::string PosixFileServices::readWholeFile(std::u16string_view path) {
    const FileDescriptor fd(
        ::open(toHostPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        throwErrno();
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        throwErrno();
    if (!S_ISREG(info.st_mode))
        throw PlatformError::fromErrno(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
    std::string bytes(static_cast<std::size_t>(info.st_size) + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size())
            bytes.resize(bytes.size() * 2);
        const std::size_t got = readSome(fd.get(), bytes.data() + used, bytes.size() - used);
        if (got == 0)
            break;
        used += got;
    }
    bytes.resize(used);
    return bytes;
}

std::u16string PosixFileServices::decodeAnsi(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    return decodeUtf8Lossless(bytes);
}

void PosixFileServices::copyFile(std::u16string_view source, std::u16string_view destination) {
    const std::string from = toHostPath(source, true);
    std::string to = toHostPath(destination);
    const std::string_view name = baseName(from);
    if (name.find_first_of("*?") == name.npos) {
        if (to.back() == '/')
            to += name;
        copyOne(from, to);
        return;
    }
    if (to.back() != '/')
        to += '/';
    const std::string folder = from.substr(0, from.size() - name.size());
    const std::vector<std::u16string> matches = findOrdinaryFiles(source, SIZE_MAX);
    if (matches.empty())
        throw PlatformError::fromErrno(ENOENT);
    // Every match is tried; the first failure is reported after the rest are copied.
    std::exception_ptr firstFailure;
    for (const std::u16string& match : matches) {
        const std::string matchName = *encodeUtf8Lossless(match);
        try {
            copyOne(folder + matchName, to + matchName);
        } catch (const PlatformError&) {
            if (!firstFailure)
                firstFailure = std::current_exception();
        }
    }
    if (firstFailure)
        std::rethrow_exception(firstFailure);
}

void PosixFileServices::copyOne(const std::string& source, const std::string& destination) {
    const FileDescriptor in(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (in.get() < 0)
        throwErrno();
    struct stat from {};
    if (::fstat(in.get(), &from) != 0)
        throwErrno();
    if (!S_ISREG(from.st_mode))
        throw PlatformError(u"The source is not an ordinary file.", EINVAL);

    // The copy replaces the file a symbolic link points to, not the link.
    std::string target = destination;
    struct stat old {};
    bool replacing = false;
    if (::lstat(destination.c_str(), &old) == 0) {
        if (isHiddenName(baseName(destination)))
            throw PlatformError::fromErrno(EACCES);
        if (S_ISLNK(old.st_mode)) {
            old = statOf(destination); // a dangling link fails here
            const std::unique_ptr<char, void (*)(void*)> real(
                ::realpath(destination.c_str(), nullptr), std::free);
            if (!real)
                throwErrno();
            target = real.get();
        }
        if (S_ISDIR(old.st_mode))
            throw PlatformError::fromErrno(EISDIR);
        if (!S_ISREG(old.st_mode))
            throw PlatformError(u"The destination is not an ordinary file.", EINVAL);
        // Read-only by its mode bits, also for root.
        if ((old.st_mode & 0222) == 0)
            throw PlatformError::fromErrno(EACCES);
        if (old.st_dev == from.st_dev && old.st_ino == from.st_ino)
            throw PlatformError(u"The source and the destination are the same file.", EEXIST);
        replacing = true;
    } else if (errno != ENOENT) {
        throwErrno();
    }

    const mode_t mode = (replacing ? old.st_mode : from.st_mode) & 0777;
    const std::string folder = target.substr(0, target.rfind('/') + 1);
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temporary = folder + temporaryName();
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && (errno != EEXIST || attempt == 8))
            throwErrno();
    }
    FileDescriptor out(fd);
    try {
        if (replacing) {
            // Keep the replaced file's owner where allowed, then its own mode bits.
            if (old.st_uid != m_uid || old.st_gid != m_gid)
                (void)!::fchown(out.get(), old.st_uid, old.st_gid);
            if ((mode & ~m_umask) != mode && ::fchmod(out.get(), mode) != 0)
                throwErrno();
        }
        copyContents(in.get(), out.get(), from.st_size);
        const timespec times[2] = {{0, UTIME_OMIT}, from.st_mtim};
        if (::futimens(out.get(), times) != 0)
            throwErrno();
        out.close();
        if (::rename(temporary.c_str(), target.c_str()) != 0)
            throwErrno();
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

std::u16string PosixFileServices::installationFolder() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0)
        throwErrno();
    std::string_view executable(buffer, static_cast<std::size_t>(length));
    const std::size_t slash = executable.rfind('/');
    return toWindowsPath(slash == 0 ? "/" : executable.substr(0, slash));
}
