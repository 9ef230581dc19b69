#include "platform/posix/PosixFileServices.h"

#include "base/Text.h"
#include "platform/PlatformError.h"
#include "platform/posix/PosixIo.h"
#include "platform/posix/WindowsPath.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// After a failed call: true when nothing was there to find; any other fault is thrown.
bool failedAsNotFound() {
    const PlatformError error = PlatformError::fromErrno(errno);
    if (!error.isNotFound())
        throw error;
    return true;
}

struct stat statOf(const std::string& hostPath) {
    struct stat info {};
    if (::stat(hostPath.c_str(), &info) != 0)
        throwErrno();
    return info;
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

// Opens a regular file for reading without ever blocking on a FIFO or a device.
OsHandle openRegular(std::u16string_view path) {
    OsHandle fd(::open(toHostPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid())
        throwErrno();
    struct stat info {};
    if (::fstat(fdOf(fd), &info) != 0)
        throwErrno();
    if (!S_ISREG(info.st_mode))
        throw PlatformError::fromErrno(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
    return fd;
}

} // namespace

// read() that goes on when interrupted.
std::size_t HandleInputFile::read(char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(fdOf(m_file), buffer, size);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            throwErrno();
    }
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

PosixFileServices::PosixFileServices(std::unique_ptr<PosixCopyPrimitives> primitives)
    : CopyingFileServices(*primitives, [] { return std::make_unique<PosixCopyPrimitives>(); }),
      m_primitives(std::move(primitives)) {}

HostString PosixFileServices::hostPath(std::u16string_view path) {
    return toHostPath(path);
}

std::u16string PosixFileServices::windowsPath(const HostString& path) {
    return toWindowsPath(path);
}

bool PosixFileServices::openExisting(std::u16string_view path) {
    const std::string* mapped = nullptr;
    try {
        mapped = &hostSource(path);
    } catch (const PlatformError&) {
        return false;
    }
    const std::string& host = *mapped;
    // An open without access (O_PATH) fails exactly where stat fails and needs no permission
    // on the file itself; stat answers the same in one call and never blocks.
    struct stat info {};
    if (::stat(host.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    m_primitives->sourceProbed(host, info);
    return true;
}

bool PosixFileServices::probeFolder(std::u16string_view path) {
    if (const std::error_code error = m_primitives->probeFolder(toHostPath(path)))
        throw PlatformError::fromCode(error);
    return true;
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
    // Trailing dots fall away in mapping, but "*." still asks for names without an extension.
    const bool noExtension = asksForNoExtension(pattern);
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
        if (!wildcardMatch(wideName, candidate) ||
            (noExtension && candidate.find(u'.') != candidate.npos))
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

std::string PosixFileServices::readFileBytes(std::u16string_view path) {
    OsHandle fd = openRegular(path);
    struct stat info {};
    if (::fstat(fdOf(fd), &info) != 0)
        throwErrno();
    HandleInputFile file(std::move(fd));
    return readToEnd(file, static_cast<std::size_t>(info.st_size) + 1);
}

std::unique_ptr<InputFile> PosixFileServices::openForReading(std::u16string_view path) {
    return std::make_unique<HandleInputFile>(openRegular(path));
}

std::size_t PosixFileServices::decodeAnsi(std::string_view bytes, bool atStart, bool last,
                                          std::u16string& text) {
    return appendUtf8Text(bytes, atStart, last, text);
}

std::optional<std::u16string> PosixFileServices::mapNativeName(std::u16string_view name) {
    if (!name.starts_with(u'/'))
        return std::nullopt;
    // Past the longest Win32 path a name names nothing; it is not copied to be told so.
    if (name.size() > kLongestPath)
        return std::u16string();
    return nativeToWindows(name).value_or(std::u16string());
}

void PosixFileServices::makeDurable() {
    CopyingFileServices::makeDurable();
    const std::error_code failure = m_primitives->syncWritten();
    m_primitives->releaseHeld();
    if (failure)
        throw PlatformError::fromCode(failure);
}

std::u16string PosixFileServices::installationFolder() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0)
        throwErrno();
    // The link is resolved, so a lexical ".." climbs the real folders.
    const std::filesystem::path executable(std::string(buffer, static_cast<std::size_t>(length)));
    return toWindowsPath(
        (executable.parent_path() / QUORVANE_DATA_FROM_APP).lexically_normal().native());
}
