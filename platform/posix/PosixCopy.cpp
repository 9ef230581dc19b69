#include "platform/posix/PosixCopy.h"

#include "platform/posix/PosixIo.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <random>
#include <set>
#include <sys/xattr.h>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// Copied per call, so that a source changing mid-copy is seen between pieces.
constexpr off_t kPiece = off_t{4} << 20;
constexpr char kAclName[] = "system.posix_acl_access";

PlatformError changed() {
    return PlatformError(u"The destination changed during the copy.", EAGAIN);
}

std::pair<std::string, std::string> splitPath(const std::string& hostPath) {
    const std::size_t slash = hostPath.rfind('/');
    return {hostPath.substr(0, slash + 1), hostPath.substr(slash + 1)};
}

FileDescriptor openFolder(const std::string& folder) {
    FileDescriptor fd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        throwErrno();
    return fd;
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

// Runs an extended-attribute query into a buffer that grows until the answer fits.
template <typename Query> bool queryInto(std::string& out, Query query) {
    out.resize(256);
    for (;;) {
        const ssize_t got = query(out.data(), out.size());
        if (got >= 0) {
            out.resize(static_cast<std::size_t>(got));
            return true;
        }
        if (errno != ERANGE)
            return false;
        const ssize_t needed = query(nullptr, 0);
        if (needed < 0)
            return false;
        out.resize(static_cast<std::size_t>(needed) + 256);
    }
}

bool isUnsupported(int error) {
    return error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS;
}

// Every copy takes the source's last-modified time, as the Windows copy does.
void takeTime(int out, const struct stat& source) {
    const timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
    if (::futimens(out, times) != 0)
        throwErrno();
}

} // namespace

struct PosixCopy::Source {
    FileDescriptor fd;
    struct stat info {};
};

// The target resolved once: the folder of its final file held open, and the name in it.
struct PosixCopy::Target {
    FileDescriptor folder;
    std::string folderPath;
    std::string name;
    FileDescriptor file; // O_PATH, while present
    struct stat info {};
    bool present = false;

    void lookUp(const std::string& path) {
        std::tie(folderPath, name) = splitPath(path);
        folder = openFolder(folderPath);
        file =
            FileDescriptor(::openat(folder.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        present = file.valid();
        if (!present && errno != ENOENT)
            throwErrno();
        if (present && ::fstat(file.get(), &info) != 0)
            throwErrno();
    }
};

// What a replaced target keeps besides its permission bits and owner.
struct PosixCopy::Kept {
    bool hasAcl = false;
    std::string acl;
    std::vector<std::pair<std::string, std::string>> userAttributes;
};

// The new content's file: anonymous, or under a hidden temporary name that goes when it is
// dropped unless it was taken over by the target's name.
class PosixCopy::NewFile {
  public:
    NewFile(FileDescriptor fd, int folder, std::string name)
        : m_fd(std::move(fd)), m_folder(folder), m_name(std::move(name)) {}
    NewFile(NewFile&& other) noexcept
        : m_fd(std::move(other.m_fd)), m_folder(other.m_folder),
          m_name(std::exchange(other.m_name, {})) {}
    ~NewFile() { discard(); }

    int fd() const { return m_fd.get(); }
    bool anonymous() const { return m_name.empty(); }
    const std::string& name() const { return m_name; }
    void setName(std::string name) { m_name = std::move(name); }
    // The name now belongs to the target.
    void release() { m_name.clear(); }
    void discard() {
        if (!m_name.empty())
            ::unlinkat(m_folder, m_name.c_str(), 0);
        m_name.clear();
    }

  private:
    FileDescriptor m_fd;
    int m_folder;
    std::string m_name;
};

PosixCopy::PosixCopy()
    : m_uid(::geteuid()), m_gid(::getegid()), m_proc(::access("/proc/self/fd", F_OK) == 0) {
    m_umask = ::umask(022);
    ::umask(m_umask);
}

CopyOutcome PosixCopy::copy(const std::string& source, const std::string& destination) {
    return run(source, destination, false);
}

CopyOutcome PosixCopy::check(const std::string& source, const std::string& destination) {
    return run(source, destination, true);
}

CopyOutcome PosixCopy::run(const std::string& source, const std::string& destination,
                           bool checkOnly) {
    Source from;
    from.fd = FileDescriptor(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!from.fd.valid())
        throwErrno();
    if (::fstat(from.fd.get(), &from.info) != 0)
        throwErrno();
    if (!S_ISREG(from.info.st_mode))
        throw PlatformError::refused(Refusal::NotRegular);

    Target target = resolve(destination);
    if (checkOnly)
        return foresee(from, target);
    if (!target.present) {
        reach(CopyPoint::TargetChecked);
        return create(from, target, false);
    }
    const Kept kept = judge(target, from);
    reach(CopyPoint::TargetChecked);
    return replace(from, target, kept, false);
}

// The outcome a copy would have, from the same checks, with nothing written. A name that an
// earlier check would have created counts as present from then on.
CopyOutcome PosixCopy::foresee(const Source& source, const Target& target) {
    struct stat folder {};
    if (::fstat(target.folder.get(), &folder) != 0)
        throwErrno();
    const bool folderTakesFiles =
        ::faccessat(target.folder.get(), "", W_OK | X_OK, AT_EACCESS | AT_EMPTY_PATH) == 0;
    const auto key = std::make_tuple(folder.st_dev, folder.st_ino, target.name);
    if (!target.present) {
        if (m_foreseen.contains(key))
            return folderTakesFiles ? CopyOutcome::Replaced : CopyOutcome::InPlace;
        if (!folderTakesFiles)
            throw PlatformError::fromErrno(EACCES);
        m_foreseen.insert(key);
        return CopyOutcome::Created;
    }
    judge(target, source);
    // A sticky folder keeps another user's name from all but its owner and root.
    const bool keepsName = (folder.st_mode & S_ISVTX) && m_uid != 0 &&
                           target.info.st_uid != m_uid && folder.st_uid != m_uid;
    return folderTakesFiles && !keepsName ? CopyOutcome::Replaced : CopyOutcome::InPlace;
}

PosixCopy::Target PosixCopy::resolve(const std::string& destination) {
    Target target;
    target.lookUp(destination);
    if (!target.present || !S_ISLNK(target.info.st_mode))
        return target;
    // A link is followed once, to its final file; from here on only that file's folder counts.
    if (isHiddenName(target.name))
        throw PlatformError::refused(Refusal::Hidden);
    const std::unique_ptr<char, void (*)(void*)> real(::realpath(destination.c_str(), nullptr),
                                                      std::free);
    if (!real) {
        if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP)
            throw PlatformError::refused(Refusal::DanglingLink);
        throwErrno();
    }
    target.lookUp(real.get());
    if (!target.present)
        throw PlatformError::refused(Refusal::DanglingLink);
    if (S_ISLNK(target.info.st_mode))
        throw changed();
    return target;
}

PosixCopy::Kept PosixCopy::judge(const Target& target, const Source& source) {
    const mode_t mode = target.info.st_mode;
    if (S_ISDIR(mode))
        throw PlatformError::refused(Refusal::Folder);
    if (!S_ISREG(mode))
        throw PlatformError::refused(Refusal::NotRegular);
    if (isHiddenName(target.name))
        throw PlatformError::refused(Refusal::Hidden);
    // Read-only by its mode bits, also for root.
    if ((mode & 0222) == 0)
        throw PlatformError::refused(Refusal::ReadOnly);
    if (sameFile(target.info, source.info))
        throw PlatformError::refused(Refusal::SameFile);
    if (!mayWrite(target))
        throw PlatformError::refused(Refusal::NotWritable);

    Kept kept;
    const std::string path = inodePath(target);
    std::string names;
    if (!queryInto(names, [&](char* buffer, std::size_t size) {
            return ::listxattr(path.c_str(), buffer, size);
        })) {
        if (isUnsupported(errno))
            return kept;
        throw PlatformError::refused(Refusal::Acl);
    }
    for (std::size_t at = 0; at < names.size();
         at += std::char_traits<char>::length(&names[at]) + 1) {
        const std::string name = &names[at];
        const bool acl = name == kAclName;
        if (!acl && !name.starts_with("user."))
            continue;
        std::string value;
        if (!queryInto(value, [&](char* buffer, std::size_t size) {
                return ::getxattr(path.c_str(), name.c_str(), buffer, size);
            })) {
            if (errno == ENODATA)
                continue;
            throw PlatformError::refused(Refusal::Acl);
        }
        if (acl) {
            kept.hasAcl = true;
            kept.acl = std::move(value);
        } else {
            kept.userAttributes.emplace_back(name, std::move(value));
        }
    }
    return kept;
}

// Write access to the file itself, as the Windows copy needs, by the process's own rights.
bool PosixCopy::mayWrite(const Target& target) {
    int result = ::faccessat(target.file.get(), "", W_OK, AT_EACCESS | AT_EMPTY_PATH);
    // Kernels before 5.8 take no flags here.
    if (result != 0 && (errno == EINVAL || errno == ENOSYS || errno == ENOENT))
        result = useProc() ? ::faccessat(AT_FDCWD, inodePath(target).c_str(), W_OK, AT_EACCESS)
                           : ::faccessat(target.folder.get(), target.name.c_str(), W_OK,
                                         AT_EACCESS | AT_SYMLINK_NOFOLLOW);
    if (result == 0)
        return true;
    if (errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY)
        return false;
    throwErrno();
}

// The checked file itself through /proc; its path where there is no /proc.
std::string PosixCopy::inodePath(const Target& target) const {
    return useProc() ? procPath(target.file.get()) : target.folderPath + target.name;
}

PosixCopy::NewFile PosixCopy::newFile(const Target& target, mode_t mode, bool anonymous) {
    const int folder = target.folder.get();
    if (anonymous && !seams.noAnonymousFiles) {
        // Without O_EXCL, so that it can be linked once whole.
        FileDescriptor fd(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
        if (fd.valid())
            return NewFile(std::move(fd), folder, {});
        if (!isUnsupported(errno) && errno != EISDIR && errno != EINVAL)
            throwErrno();
    }
    for (int attempt = 0;; ++attempt) {
        std::string name = temporaryName();
        FileDescriptor fd(::openat(folder, name.c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (fd.valid())
            return NewFile(std::move(fd), folder, std::move(name));
        if (errno != EEXIST || attempt == 8)
            throwErrno();
    }
}

void PosixCopy::keep(NewFile& file, const Target& target, const Kept& kept) {
    const int fd = file.fd();
    const struct stat& old = target.info;
    if ((old.st_uid != m_uid || old.st_gid != m_gid) && ::fchown(fd, old.st_uid, old.st_gid) != 0)
        (void)!::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    // Exactly the old file's own ACL, never the one a new file inherits from its folder.
    bool inherited = false;
    if (kept.hasAcl) {
        if (::fsetxattr(fd, kAclName, kept.acl.data(), kept.acl.size(), 0) != 0)
            throw PlatformError::refused(Refusal::Acl);
    } else if (::fgetxattr(fd, kAclName, nullptr, 0) >= 0) {
        if (::fremovexattr(fd, kAclName) != 0)
            throw PlatformError::refused(Refusal::Acl);
        inherited = true;
    } else if (errno != ENODATA && !isUnsupported(errno)) {
        throw PlatformError::refused(Refusal::Acl);
    }
    // Set-user-ID and set-group-ID never travel with a copy.
    const mode_t mode = old.st_mode & 0777;
    if (!kept.hasAcl && (inherited || (mode & ~m_umask) != mode) && ::fchmod(fd, mode) != 0)
        throwErrno();
    for (const auto& [name, value] : kept.userAttributes)
        if (::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0)
            throw PlatformError::refused(Refusal::Acl);
}

// Copies the source whole as it was opened; a source that yields other than its size, or
// changed meanwhile, fails the copy.
void PosixCopy::writeContent(const Source& source, int out) {
    const int in = source.fd.get();
    const off_t size = source.info.st_size;
    off_t done = 0;
    bool kernel = true;
    std::unique_ptr<char[]> buffer;
    while (done < size) {
        const off_t piece = std::min(size - done, kPiece);
        ssize_t got;
        if (kernel) {
            off_t inAt = done, outAt = done;
            got = ::copy_file_range(in, &inAt, out, &outAt, static_cast<std::size_t>(piece), 0);
            if (got < 0 && (errno == EXDEV || errno == EINVAL || isUnsupported(errno))) {
                kernel = false;
                continue;
            }
        } else {
            if (!buffer)
                buffer.reset(new char[1 << 17]);
            got = ::pread(in, buffer.get(), std::min<off_t>(piece, 1 << 17), done);
            for (ssize_t put = 0; got > 0 && put < got;) {
                const ssize_t n = ::pwrite(out, buffer.get() + put, got - put, done + put);
                if (n < 0 && errno != EINTR)
                    throwErrno();
                put += std::max<ssize_t>(n, 0);
            }
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throwErrno();
        if (got == 0)
            throw PlatformError::refused(Refusal::SourceChanged);
        done += got;
        reach(CopyPoint::ContentCopied);
    }
    // Files such as those under /proc say they are empty and yet have content.
    char probe;
    if (size == 0 && ::pread(in, &probe, 1, 0) > 0)
        throw PlatformError::refused(Refusal::SourceChanged);
    struct stat now {};
    if (::fstat(in, &now) != 0)
        throwErrno();
    if (now.st_size != size || now.st_mtim.tv_sec != source.info.st_mtim.tv_sec ||
        now.st_mtim.tv_nsec != source.info.st_mtim.tv_nsec)
        throw PlatformError::refused(Refusal::SourceChanged);
}

// Gives an anonymous file a name; 0 or the error number.
int PosixCopy::linkAnonymous(NewFile& file, const Target& target, const std::string& name) {
    const int folder = target.folder.get();
    if (useProc() && ::linkat(AT_FDCWD, procPath(file.fd()).c_str(), folder, name.c_str(),
                              AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno == EEXIST)
        return EEXIST;
    // Needs a capability on many kernels; without it the copy starts again with a named file.
    if (seams.noEmptyPathLinks)
        return ENOENT;
    return ::linkat(file.fd(), "", folder, name.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
}

CopyOutcome PosixCopy::create(const Source& source, const Target& target, bool named) {
    NewFile file = newFile(target, source.info.st_mode & 0777, !named);
    writeContent(source, file.fd());
    takeTime(file.fd(), source.info);
    reach(CopyPoint::BeforeLastCheck);
    const int folder = target.folder.get();
    if (file.anonymous()) {
        const int error = linkAnonymous(file, target, target.name);
        if (error == EEXIST)
            throw changed();
        if (error != 0)
            return create(source, target, true);
        return CopyOutcome::Created;
    }
    if (::renameat2(folder, file.name().c_str(), folder, target.name.c_str(), RENAME_NOREPLACE) !=
        0) {
        if (errno == EEXIST)
            throw changed();
        if (errno != EINVAL && !isUnsupported(errno))
            throwErrno();
        struct stat now {};
        if (::fstatat(folder, target.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0)
            throw changed();
        if (::renameat(folder, file.name().c_str(), folder, target.name.c_str()) != 0)
            throwErrno();
    }
    file.release();
    return CopyOutcome::Created;
}

CopyOutcome PosixCopy::replace(const Source& source, Target& target, const Kept& kept, bool named) {
    const auto refusesNewFiles = [](int error) { return error == EACCES || error == EPERM; };
    const int folder = target.folder.get();
    std::unique_ptr<NewFile> file;
    try {
        file = std::make_unique<NewFile>(newFile(target, target.info.st_mode & 0777, !named));
    } catch (const PlatformError& error) {
        if (!refusesNewFiles(error.code().value()))
            throw;
        return writeInPlace(source, target);
    }
    keep(*file, target, kept);
    writeContent(source, file->fd());
    takeTime(file->fd(), source.info);
    if (file->anonymous()) {
        for (int attempt = 0; file->anonymous(); ++attempt) {
            std::string name = temporaryName();
            const int error = linkAnonymous(*file, target, name);
            if (error == 0)
                file->setName(std::move(name));
            else if (error != EEXIST)
                return replace(source, target, kept, true);
            else if (attempt == 8)
                throw PlatformError::fromErrno(EEXIST);
        }
    }
    reach(CopyPoint::BeforeLastCheck);
    // Held open until here, the checked file's inode cannot be freed and handed to a file
    // swapped in under its name, so the check below cannot be fooled by a reused number.
    struct stat now {};
    if (::fstatat(folder, target.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        !sameFile(now, target.info))
        throw changed();
    // Held across the rename, the old file would outlive it and be freed later at a higher
    // price (ext4 keeps it on its orphan list meanwhile).
    target.file = FileDescriptor();
    // A rename never writes through a link, so the instant after that check is harmless.
    if (::renameat(folder, file->name().c_str(), folder, target.name.c_str()) != 0) {
        if (!refusesNewFiles(errno)) // a sticky folder keeps another user's name
            throwErrno();
        file->discard();
        return writeInPlace(source, target);
    }
    file->release();
    return CopyOutcome::Replaced;
}

// Where the folder takes no new file, the checked file is written over as the Windows copy
// would, with its space reserved first so that a full disk cannot leave it half-written.
CopyOutcome PosixCopy::writeInPlace(const Source& source, Target& target) {
    FileDescriptor out;
    const int flags = O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    if (useProc() && !target.file.valid()) {
        // Found again without opening it, so that nothing swapped in (a device) is opened.
        target.file = FileDescriptor(
            ::openat(target.folder.get(), target.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat found {};
        if (!target.file.valid() || ::fstat(target.file.get(), &found) != 0 ||
            !sameFile(found, target.info))
            throw changed();
    }
    if (useProc()) {
        out = FileDescriptor(::open(procPath(target.file.get()).c_str(), flags));
    } else {
        out =
            FileDescriptor(::openat(target.folder.get(), target.name.c_str(), flags | O_NOFOLLOW));
        // Without /proc a file swapped in here is opened before it can be told apart.
        struct stat opened {};
        if (out.valid() && (::fstat(out.get(), &opened) != 0 || !sameFile(opened, target.info)))
            throw changed();
    }
    if (!out.valid())
        throwErrno();
    const off_t size = source.info.st_size;
    if (size > 0 && ::fallocate(out.get(), FALLOC_FL_KEEP_SIZE, 0, size) != 0 &&
        !isUnsupported(errno))
        throwErrno();
    writeContent(source, out.get());
    if (::ftruncate(out.get(), size) != 0)
        throwErrno();
    // Only a file's owner may set its time; the content is written all the same.
    try {
        takeTime(out.get(), source.info);
    } catch (const PlatformError& error) {
        if (error.code() != std::errc::operation_not_permitted)
            throw;
    }
    out.close();
    return CopyOutcome::InPlace;
}
