#include "platform/posix/PosixCopyPrimitives.h"

#include "platform/PlatformError.h"
#include "platform/posix/LiveNames.h"
#include "platform/posix/PosixIo.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

constexpr char kAclName[] = "system.posix_acl_access";
constexpr std::size_t kBufferSize = 1 << 17;

std::error_code lastError() {
    return {errno, std::generic_category()};
}

std::error_code notSupported() {
    return std::make_error_code(std::errc::not_supported);
}

// The process's file-creation mask. Linux shows it in /proc/self/status; elsewhere it is read
// by setting it and setting it back, which changes it for every thread for a moment, so it is
// read once, as the program loads, before any thread starts.
mode_t readUmask() {
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status))
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found)
            return static_cast<mode_t>(mask);
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

const mode_t kUmask = readUmask();

// Network file systems that linux/magic.h does not name.
constexpr long kCifsMagic = 0xFF534D42;
constexpr long kSmb2Magic = 0xFE534D42;
constexpr long kCephMagic = 0x00C36400;
// File systems of settings that linux/magic.h does not name.
constexpr long kConfigfsMagic = 0x62656570;
constexpr long kFuseControlMagic = 0x65735543;

// The upper layer of the overlay mounted as `device`, from the mount table.
std::optional<std::string> upperLayerOf(dev_t device) {
    std::FILE* table = std::fopen("/proc/self/mountinfo", "re");
    if (!table)
        return std::nullopt;
    const std::string numbers =
        std::to_string(major(device)) + ':' + std::to_string(minor(device)) + ' ';
    std::optional<std::string> upper;
    char* line = nullptr;
    std::size_t size = 0;
    while (!upper && ::getline(&line, &size, table) > 0) {
        const std::string_view text = line;
        const std::size_t at = text.find(' ', text.find(' ') + 1) + 1;
        const std::size_t option = text.find(",upperdir=");
        if (text.compare(at, numbers.size(), numbers) != 0 || option == text.npos)
            continue;
        // Spaces and the like are written as octal escapes.
        std::string path;
        for (std::size_t i = option + 10; i < text.size() && text[i] != ',' && text[i] != '\n';
             ++i) {
            if (text[i] == '\\' && i + 3 < text.size()) {
                path +=
                    static_cast<char>(std::stoi(std::string(text.substr(i + 1, 3)), nullptr, 8));
                i += 3;
            } else {
                path += text[i];
            }
        }
        upper = std::move(path);
    }
    std::free(line);
    std::fclose(table);
    return upper;
}

bool isUnsupported(int error) {
    return error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS;
}

std::int64_t nanoseconds(const timespec& time) {
    return std::int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
}

FileFacts factsOf(const struct stat& info, std::string_view name) {
    FileFacts facts;
    facts.kind = S_ISREG(info.st_mode)   ? FileKind::Regular
                 : S_ISDIR(info.st_mode) ? FileKind::Folder
                 : S_ISLNK(info.st_mode) ? FileKind::Link
                                         : FileKind::Other;
    facts.identity = identityOf(info);
    facts.size = info.st_size;
    facts.allocated = std::int64_t{info.st_blocks} * 512;
    facts.modified = nanoseconds(info.st_mtim);
    facts.changed = nanoseconds(info.st_ctim);
    // Read-only by its mode bits, also for root.
    facts.readOnly = (info.st_mode & 0222) == 0;
    facts.hidden = isHiddenName(name);
    facts.permissions = info.st_mode & 07777;
    facts.owner = info.st_uid;
    facts.group = info.st_gid;
    return facts;
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

// How a new file's data is put on disk before the file takes its name.
enum class Ordering {
    WriteOut, // local, with a journal or copy on write: a commit carrying the name could reach
              // the disk before the data and leave the target empty, so the data is written first
    None,     // nothing to order (memory), or not known to need it (F2FS); the run's syncfs,
              // a checkpoint with a flush there, vouches for it before "Done."
    Sync,     // syncfs cannot vouch for it (FUSE, NFS, SMB, 9p, or unknown): each file is synced
    Settle,   // FAT, exFAT: no order at all between data, allocation table and names. Each file
              // is synced before it takes its name, and its name is on the device before the
              // file it replaced lets its clusters go
};

Ordering orderingOf(long type) {
    switch (type) {
    case EXT4_SUPER_MAGIC:
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
        return Ordering::WriteOut;
    case TMPFS_MAGIC:
    case RAMFS_MAGIC:
    case F2FS_SUPER_MAGIC:
        return Ordering::None;
    case MSDOS_SUPER_MAGIC:
    case EXFAT_SUPER_MAGIC:
        return Ordering::Settle;
    default:
        return Ordering::Sync;
    }
}

// Links one path may pass through, as the kernel allows before ELOOP.
constexpr std::size_t kMostLinks = 40;

// A name still to pass on the way down a path; an empty one ends the link numbered `ends`.
struct Step {
    std::string name;
    std::size_t ends = 0;
};

// Queues the names of `text` so that they are passed first, "/" for its root.
void queueNames(std::vector<Step>& steps, std::string_view text) {
    const std::size_t first = steps.size();
    if (text.starts_with('/'))
        steps.push_back({"/"});
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('/', at), text.size());
        if (end > at && text.substr(at, end - at) != ".")
            steps.push_back({std::string(text.substr(at, end - at))});
        at = end + 1;
    }
    std::reverse(steps.begin() + static_cast<std::ptrdiff_t>(first), steps.end());
}

// Opens what `path` names as the kernel would, but one name at a time, so that each link met is
// seen: whether `self` made it, and whether what it finally leads to belongs to its owner.
// `real` gets the path without links.
Result<OsHandle> walk(const std::string& path, uid_t self, std::vector<LinkMet>& met,
                      std::string& real) {
    OsHandle at(::open(path.starts_with('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::vector<std::string> parts;
    std::vector<Step> steps;
    std::vector<uid_t> owners; // of each link this walk met
    const std::size_t first = met.size();
    queueNames(steps, path);
    while (at.valid() && !steps.empty()) {
        const Step step = std::move(steps.back());
        steps.pop_back();
        struct stat info {};
        if (step.name.empty()) {
            if (::fstat(fdOf(at), &info) != 0)
                return lastError();
            met[first + step.ends].toOwnersOwn = info.st_uid == owners[step.ends];
        } else if (step.name == "/") {
            at = OsHandle(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
            parts.clear();
        } else if (step.name == "..") {
            at = OsHandle(::openat(fdOf(at), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!parts.empty())
                parts.pop_back();
        } else {
            OsHandle next(::openat(fdOf(at), step.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
            if (!next.valid() || ::fstat(fdOf(next), &info) != 0)
                return lastError();
            if (!S_ISLNK(info.st_mode)) {
                at = std::move(next);
                parts.push_back(step.name);
                continue;
            }
            if (owners.size() == kMostLinks)
                return std::make_error_code(std::errc::too_many_symbolic_link_levels);
            std::string text(PATH_MAX, '\0');
            const ssize_t length =
                ::readlinkat(fdOf(at), step.name.c_str(), text.data(), text.size());
            if (length < 0)
                return lastError();
            text.resize(static_cast<std::size_t>(length));
            met.push_back({.mine = info.st_uid == self});
            steps.push_back({.name = {}, .ends = owners.size()});
            owners.push_back(info.st_uid);
            queueNames(steps, text);
        }
    }
    if (!at.valid())
        return lastError();
    real.clear();
    for (const std::string& part : parts)
        real += '/' + part;
    if (real.empty())
        real = "/";
    return at;
}

// The folder `path` names. A path without links opens in one call, as a plain open would; one
// with links is walked name by name, so that each link is told, and `real` gets the folder's
// path without them, ending with "/" (else it stays empty).
Result<OsHandle> openFolder(const std::string& path, uid_t self, std::vector<LinkMet>& met,
                            std::string& real) {
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    OsHandle folder(
        static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how)));
    if (folder.valid())
        return folder;
    // Links on the way, or a kernel or sandbox without openat2.
    if (errno != ELOOP && errno != ENOSYS && errno != EPERM)
        return lastError();
    Result<OsHandle> walked = walk(path, self, met, real);
    if (walked.error())
        return walked;
    struct stat info {};
    if (::fstat(fdOf(*walked), &info) != 0)
        return lastError();
    if (!S_ISDIR(info.st_mode))
        return std::make_error_code(std::errc::not_a_directory);
    if (!real.ends_with('/'))
        real += '/';
    return walked;
}

} // namespace

PosixCopyPrimitives::PosixCopyPrimitives()
    : PosixCopyPrimitives(::access("/proc/self/fd", F_OK) == 0) {}

PosixCopyPrimitives::PosixCopyPrimitives(bool procLinks)
    : m_uid(::geteuid()), m_gid(::getegid()), m_proc(procLinks), m_maker(currentMaker()),
      m_prefix(namePrefix(m_maker)) {
    m_groups.resize(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    m_groups.resize(static_cast<std::size_t>(
        std::max(::getgroups(static_cast<int>(m_groups.size()), m_groups.data()), 0)));
}

void PosixCopyPrimitives::sourceProbed(std::string_view path, const struct stat& info) {
    m_probedPath.assign(path);
    m_probedInfo = info;
    m_probed = true;
}

std::error_code PosixCopyPrimitives::probeFolder(std::string path) {
    m_folderLinks.clear();
    m_folderReal.clear();
    Result<OsHandle> folder = openFolder(path, m_uid, m_folderLinks, m_folderReal);
    if (folder.error())
        return folder.error();
    m_folderPath = std::move(path);
    m_folder = std::move(*folder);
    return {};
}

void PosixCopyPrimitives::releaseHeld() {
    m_source.reset();
    m_folder.reset();
    m_folderPath.clear();
    m_probed = false;
}

Result<CopySource> PosixCopyPrimitives::openSource(const HostString& path) {
    CopySource source;
    // What the probe found is used once, by the copy of its own line.
    const bool probed = std::exchange(m_probed, false) && path == m_probedPath;
    if (!(probed && m_source.valid() && sameFile(m_sourceInfo, m_probedInfo))) {
        // Held open, the file's number cannot pass to another while later lines compare it.
        OsHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!file.valid() || ::fstat(fdOf(file), &m_sourceInfo) != 0)
            return lastError();
        m_source = std::move(file);
        m_probedInfo = m_sourceInfo;
    }
    source.file = m_source.get();
    source.facts = factsOf(m_probedInfo, {});
    return source;
}

std::error_code PosixCopyPrimitives::lookUp(const HostString& path, CopyTarget& target) {
    const std::size_t cut = path.rfind('/') + 1;
    target.given = path;
    target.folderPath.assign(path, 0, cut);
    target.name.assign(path, cut);
    std::string real;
    if (m_folder.valid() && target.folderPath == m_folderPath) {
        target.folder = m_folder.get();
        target.links = m_folderLinks;
        real = m_folderReal;
    } else {
        Result<OsHandle> folder = openFolder(target.folderPath, m_uid, target.links, real);
        if (folder.error())
            return folder.error();
        target.ownFolder = std::move(*folder);
        target.folder = target.ownFolder.get();
    }
    if (!real.empty())
        target.folderPath = std::move(real);
    target.file = OsHandle(
        ::openat(fdOf(target.folder), target.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    target.present = target.file.valid();
    if (!target.present)
        return errno == ENOENT ? std::error_code() : lastError();
    struct stat info {};
    if (::fstat(fdOf(target.file), &info) != 0)
        return lastError();
    target.facts = factsOf(info, target.name);
    return {};
}

bool PosixCopyPrimitives::sameName(const HostString& one, const HostString& other) {
    return one == other;
}

Result<std::optional<HostString>> PosixCopyPrimitives::finalPath(const HostString& path,
                                                                 std::vector<LinkMet>& met) {
    std::string real;
    const Result<OsHandle> walked = walk(path, m_uid, met, real);
    if (!walked.error())
        return std::optional<HostString>(std::move(real));
    if (walked.error() == std::errc::no_such_file_or_directory ||
        walked.error() == std::errc::not_a_directory ||
        walked.error() == std::errc::too_many_symbolic_link_levels)
        return std::optional<HostString>();
    return walked.error();
}

// Write access to the file itself, by the process's own rights.
Result<bool> PosixCopyPrimitives::mayWrite(const CopyTarget& target) {
    int result = ::faccessat(fdOf(target.file), "", W_OK, AT_EACCESS | AT_EMPTY_PATH);
    // Kernels before 5.8 take no flags here.
    if (result != 0 && (errno == EINVAL || errno == ENOSYS || errno == ENOENT))
        result = m_proc ? ::faccessat(AT_FDCWD, inodePath(target).c_str(), W_OK, AT_EACCESS)
                        : ::faccessat(fdOf(target.folder), target.name.c_str(), W_OK,
                                      AT_EACCESS | AT_SYMLINK_NOFOLLOW);
    if (result == 0)
        return true;
    if (errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY)
        return false;
    return lastError();
}

Result<bool> PosixCopyPrimitives::plantedInSharedFolder(const CopyTarget& target) {
    if (target.facts.owner == m_uid)
        return false;
    struct stat folder {};
    if (::fstat(fdOf(target.folder), &folder) != 0)
        return lastError();
    return (folder.st_mode & S_ISVTX) && (folder.st_mode & (S_IWOTH | S_IWGRP)) &&
           target.facts.owner != folder.st_uid;
}

// Root may give a file to anyone; others only keep their own file, in a group of theirs.
Result<bool> PosixCopyPrimitives::mayKeepOwner(const CopyTarget& target) {
    const FileFacts& old = target.facts;
    return m_uid == 0 ||
           (old.owner == m_uid && (old.group == m_gid || std::find(m_groups.begin(), m_groups.end(),
                                                                   old.group) != m_groups.end()));
}

std::string PosixCopyPrimitives::inodePath(const CopyTarget& target) const {
    return m_proc ? procPath(fdOf(target.file)).c_str() : target.folderPath + target.name;
}

Result<KeptFacts> PosixCopyPrimitives::readKept(const CopyTarget& target) {
    KeptFacts kept;
    const std::string path = inodePath(target);
    std::string names;
    if (!queryInto(names, [&](char* buffer, std::size_t size) {
            return ::listxattr(path.c_str(), buffer, size);
        }))
        return isUnsupported(errno) ? Result<KeptFacts>(kept) : lastError();
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
            return lastError();
        }
        if (acl) {
            kept.hasAcl = true;
            kept.acl = std::move(value);
        } else {
            kept.attributes.emplace_back(name, std::move(value));
        }
    }
    return kept;
}

Result<bool> PosixCopyPrimitives::carryKept(NewFile& file, const CopyTarget& target,
                                            const KeptFacts& kept) {
    const int fd = fdOf(file.file);
    const FileFacts& old = target.facts;
    if ((old.owner != m_uid || old.group != m_gid) && ::fchown(fd, old.owner, old.group) != 0)
        return lastError();
    // Exactly the old file's own ACL, never the one a new file inherits from its folder. What
    // the file system cannot keep is a fact; a full disk or a failing one is the failure itself.
    const auto cannotKeep = [] {
        return isUnsupported(errno) || errno == EPERM || errno == EACCES || errno == EINVAL ||
               errno == ERANGE || errno == E2BIG;
    };
    bool inherited = false;
    if (kept.hasAcl) {
        if (::fsetxattr(fd, kAclName, kept.acl.data(), kept.acl.size(), 0) != 0)
            return cannotKeep() ? Result(false) : lastError();
    } else if (::fgetxattr(fd, kAclName, nullptr, 0) >= 0) {
        if (::fremovexattr(fd, kAclName) != 0)
            return cannotKeep() ? Result(false) : lastError();
        inherited = true;
    } else if (errno != ENODATA && !isUnsupported(errno)) {
        return cannotKeep() ? Result(false) : lastError();
    }
    // Set-user-ID and set-group-ID never travel with a copy.
    const mode_t mode = old.permissions & 0777;
    if (!kept.hasAcl && (inherited || (mode & ~kUmask) != mode) && ::fchmod(fd, mode) != 0)
        return lastError();
    for (const auto& [name, value] : kept.attributes)
        if (::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0)
            return cannotKeep() ? Result(false) : lastError();
    return true;
}

Result<NewFile> PosixCopyPrimitives::createAnonymous(const CopyTarget& target,
                                                     std::uint32_t permissions) {
    // Without O_EXCL, so that it can be linked once whole.
    NewFile file;
    file.file = OsHandle(
        ::openat(fdOf(target.folder), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, permissions & 0777));
    if (file.file.valid())
        return file;
    if (isUnsupported(errno) || errno == EISDIR || errno == EINVAL)
        return notSupported();
    return lastError();
}

// Encryption here is the folder's (fscrypt): every new file in it is as encrypted as the
// folder, which keeps what it is asked to.
Result<NewFile> PosixCopyPrimitives::createNamed(const CopyTarget& target, const HostString& name,
                                                 std::uint32_t permissions, bool encrypted) {
    NewFile file;
    const liveNames::Making making;
    file.file = OsHandle(::openat(fdOf(target.folder), name.c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                  permissions & 0777));
    if (!file.file.valid())
        return lastError();
    file.name = name;
    file.encrypted = encrypted;
    // A name no stop could remove is not kept: the registry holds more than a run writes ahead.
    if (!liveNames::add(fdOf(target.folder), target.folderPath, name.c_str())) {
        ::unlinkat(fdOf(target.folder), name.c_str(), 0);
        return std::make_error_code(std::errc::too_many_files_open);
    }
    return file;
}

std::error_code PosixCopyPrimitives::linkAnonymous(NewFile& file, const CopyTarget& target,
                                                   const HostString& name) {
    const int folder = fdOf(target.folder);
    const bool temporary = name != target.name;
    {
        const liveNames::Making making;
        if (const std::error_code error = linkAt(file, folder, name))
            return error;
        if (temporary && !liveNames::add(folder, target.folderPath, name.c_str())) {
            ::unlinkat(folder, name.c_str(), 0);
            return std::make_error_code(std::errc::too_many_files_open);
        }
    }
    // Named, the file needs no descriptor any more. Network and FUSE file systems report write
    // errors at its close: then the name it just took goes again.
    const std::error_code error = file.file.close();
    if (error) {
        ::unlinkat(folder, name.c_str(), 0);
        if (temporary)
            liveNames::remove(name.c_str());
    }
    return error;
}

std::error_code PosixCopyPrimitives::linkAt(NewFile& file, int folder, const HostString& name) {
    const int fd = fdOf(file.file);
    int linked;
    if (m_proc)
        linked = ::linkat(AT_FDCWD, procPath(fd).c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW);
    else
        linked = ::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH);
    if (linked == 0)
        return {};
    // The kernel's word for a file it will not name: without /proc, AT_EMPTY_PATH needs a
    // capability on many kernels. Any other failure keeps its own reason.
    if (errno == ENOENT || isUnsupported(errno))
        return notSupported();
    return lastError();
}

std::error_code PosixCopyPrimitives::publish(NewFile& file, const CopyTarget& target,
                                             bool replace) {
    const int folder = fdOf(target.folder);
    Result<Folder> where = folderOf(target);
    if (where.error())
        return where.error();
    // FAT frees a replaced file's clusters when it is last let go, and may write that before
    // the new name: held until that name is on the device, the old file keeps them till then.
    const bool settles = orderingOf(where->type) == Ordering::Settle;
    OsHandle renamed, replaced;
    if (settles) {
        renamed = OsHandle(::fcntl(fdOf(file.file), F_DUPFD_CLOEXEC, 0));
        if (!renamed.valid())
            return lastError();
    }
    if (settles && replace)
        replaced = OsHandle(::openat(folder, target.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    // A named file is closed before it takes the target's name: network and FUSE file systems
    // report write errors at the close, and then the old file must still be there.
    if (const std::error_code error = file.file.close())
        return error;
    const std::error_code error = rename(folder, file.name, target.name, replace);
    if (error)
        return error;
    liveNames::remove(file.name.c_str());
    // Renamed, the copy is made; what keeps it from the device is a failure to make it durable.
    if (settles) {
        const std::error_code unsettled = settle(target, where->type, renamed);
        if (!m_unsettled)
            m_unsettled = unsettled;
    }
    return {};
}

// vfat writes the temporary name's removal with the folder and the new name with the file: the
// folder goes first, so that no cut leaves two names on one chain for a later removal to free.
// exFAT writes every name in one fsync, and cannot order its two writes of a rename.
std::error_code PosixCopyPrimitives::settle(const CopyTarget& target, long type,
                                            OsHandle& renamed) {
    if (type == MSDOS_SUPER_MAGIC) {
        const OsHandle folder(
            ::openat(fdOf(target.folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder.valid() || ::fsync(fdOf(folder)) != 0)
            return lastError();
    }
    return ::fsync(fdOf(renamed)) == 0 ? std::error_code() : lastError();
}

std::error_code PosixCopyPrimitives::rename(int folder, const HostString& from,
                                            const HostString& to, bool replace) {
    if (replace)
        return ::renameat(folder, from.c_str(), folder, to.c_str()) == 0 ? std::error_code()
                                                                         : lastError();
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    if (errno != EINVAL && !isUnsupported(errno))
        return lastError();
    // Where the file system cannot refuse to replace, the name is looked at just before.
    struct stat now {};
    if (::fstatat(folder, to.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0)
        return std::make_error_code(std::errc::file_exists);
    return ::renameat(folder, from.c_str(), folder, to.c_str()) == 0 ? std::error_code()
                                                                     : lastError();
}

// Opens here never exclude each other: a file another program holds is renamed over as any.
bool PosixCopyPrimitives::heldElsewhere(const CopyTarget&, bool) {
    return false;
}

std::error_code PosixCopyPrimitives::publishOverHeld(NewFile&, const CopyTarget&) {
    return notSupported();
}

// Best effort: a folder that cannot be listed, or a name that will not go, is left as it is.
void PosixCopyPrimitives::removeLeftovers(const CopyTarget& target) {
    if (!m_maker || m_cleared.contains(target.folderPath))
        return;
    // A cut in an exFAT rename can leave a target's only new copy under its temporary name.
    Result<Folder> where = folderOf(target);
    if (where.error() || where->type == EXFAT_SUPER_MAGIC)
        return;
    if (m_cleared.size() >= 4096)
        m_cleared.clear();
    m_cleared.insert(target.folderPath);
    const int listed = ::openat(fdOf(target.folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0)
        return;
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::fdopendir(listed), ::closedir);
    if (!folder) {
        ::close(listed);
        return;
    }
    const std::string ours = namePrefix(std::nullopt) + m_maker->machine + '-';
    while (const dirent* entry = ::readdir(folder.get())) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(ours))
            continue;
        const std::optional<NameMaker> maker = makerOf(name);
        struct stat info {};
        if (maker && makerGone(*maker, *m_maker) &&
            ::fstatat(listed, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode))
            ::unlinkat(listed, entry->d_name, 0);
    }
}

std::error_code PosixCopyPrimitives::writeOut(const CopyTarget& target, OsHandle& out) {
    Result<Folder> folder = folderOf(target);
    if (folder.error())
        return folder.error();
    const int fd = fdOf(out);
    switch (orderingOf(folder->type)) {
    case Ordering::WriteOut:
        return ::sync_file_range(fd, 0, 0,
                                 SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                     SYNC_FILE_RANGE_WAIT_AFTER) == 0
                   ? std::error_code()
                   : lastError();
    case Ordering::Sync:
    case Ordering::Settle:
        return ::fdatasync(fd) == 0 ? std::error_code() : lastError();
    case Ordering::None:
        break;
    }
    return {};
}

std::error_code PosixCopyPrimitives::removeName(NewFile& file, const CopyTarget& target) {
    const int folder = fdOf(target.folder);
    const std::error_code error =
        ::unlinkat(folder, file.name.c_str(), 0) == 0 ? std::error_code() : lastError();
    liveNames::remove(file.name.c_str());
    return error;
}

Result<bool> PosixCopyPrimitives::holdsNoDocuments(const CopyTarget& target) {
    Result<Folder> folder = folderOf(target);
    if (folder.error())
        return folder.error();
    switch (folder->type) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case kConfigfsMagic:
    case EFIVARFS_MAGIC:
    case PSTOREFS_MAGIC:
    case BPF_FS_MAGIC:
    case BINFMTFS_MAGIC:
    case SELINUX_MAGIC:
    case SMACK_MAGIC:
    case kFuseControlMagic:
        return true;
    default:
        return false;
    }
}

// Asked once per folder per run: the flags need a descriptor opened for reading.
Result<bool> PosixCopyPrimitives::folderIsAppendOnly(const CopyTarget& target) {
    const auto known = m_appendOnly.find(target.folderPath);
    if (known != m_appendOnly.end())
        return known->second;
    int flags = 0;
    const OsHandle folder(::openat(fdOf(target.folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // A folder that cannot be read is asked no more; a file system without the flags has none.
    if (!folder.valid() && errno != EACCES)
        return lastError();
    if (folder.valid() && ::ioctl(fdOf(folder), FS_IOC_GETFLAGS, &flags) != 0) {
        if (errno != ENOTTY && errno != EINVAL && !isUnsupported(errno))
            return lastError();
        flags = 0;
    }
    const bool marked = (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
    if (m_appendOnly.size() >= 4096)
        m_appendOnly.clear();
    m_appendOnly.emplace(target.folderPath, marked);
    return marked;
}

Result<std::optional<FileFacts>> PosixCopyPrimitives::lookAgain(const CopyTarget& target) {
    struct stat now {};
    if (::fstatat(fdOf(target.folder), target.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0)
        return std::optional(factsOf(now, target.name));
    if (errno == ENOENT)
        return std::optional<FileFacts>();
    return lastError();
}

Result<bool> PosixCopyPrimitives::sameFolder(const CopyTarget& one, const CopyTarget& other) {
    struct stat first {
    }, second{};
    if (::fstat(fdOf(one.folder), &first) != 0 || ::fstat(fdOf(other.folder), &second) != 0)
        return lastError();
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// The folder of the file a link at `path` finally names, else the path's own folder.
Result<SpaceFacts> PosixCopyPrimitives::spaceOf(const HostString& path) {
    std::string folder = path.substr(0, path.rfind('/') + 1);
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        const std::unique_ptr<char, void (*)(void*)> real(::realpath(path.c_str(), nullptr),
                                                          std::free);
        if (real) {
            folder = real.get();
            folder.resize(folder.rfind('/') + 1);
        }
    }
    // Asked once per folder: its room counts only when first seen.
    const auto known = m_folderSpaces.find(folder);
    if (known != m_folderSpaces.end())
        return known->second;
    Result<SpaceFacts> space = folderSpace(folder);
    if (space.error())
        return space;
    if (m_folderSpaces.size() >= 4096)
        m_folderSpaces.clear();
    return m_folderSpaces.emplace(std::move(folder), *space).first->second;
}

Result<SpaceFacts> PosixCopyPrimitives::folderSpace(const std::string& folder) {
    const OsHandle held(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat info {};
    if (!held.valid() || ::fstat(fdOf(held), &info) != 0)
        return lastError();
    Result<std::int64_t> free = freeSpace(held.get());
    if (free.error())
        return free.error();
    const auto known = m_spaces.find(info.st_dev);
    if (known != m_spaces.end())
        return SpaceFacts{known->second, *free};
    const std::uint64_t key = poolOf(folder, info.st_dev);
    if (m_spaces.size() >= 4096)
        m_spaces.clear();
    m_spaces.emplace(info.st_dev, key);
    return SpaceFacts{key, *free};
}

// One number for the space `device` draws on: the subvolumes of one btrfs pool share their
// pool's, an overlay its upper layer's; any other file system (each FUSE or network mount
// among them) is its own. Numbers drawn from a pool's id are marked apart from devices.
std::uint64_t PosixCopyPrimitives::poolOf(const std::string& folder, dev_t device, int depth) {
    struct statfs system {};
    if (::statfs(folder.c_str(), &system) != 0)
        return device;
    if (system.f_type == BTRFS_SUPER_MAGIC) {
        const OsHandle opened(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        btrfs_ioctl_fs_info_args pool{};
        if (!opened.valid() || ::ioctl(fdOf(opened), BTRFS_IOC_FS_INFO, &pool) != 0)
            return device;
        std::uint64_t key = 0;
        for (std::size_t i = 0; i < sizeof pool.fsid; ++i)
            key = key * 131 + pool.fsid[i];
        return key | std::uint64_t{1} << 63;
    }
    if (system.f_type == OVERLAYFS_SUPER_MAGIC && depth < 4) {
        const std::optional<std::string> upper = upperLayerOf(device);
        struct stat info {};
        if (upper && ::stat(upper->c_str(), &info) == 0)
            return poolOf(*upper + '/', info.st_dev, depth + 1);
    }
    return device;
}

Result<bool> PosixCopyPrimitives::tracksChanges(const HostString& path) {
    struct statfs system {};
    struct stat info {};
    if (::statfs(path.c_str(), &system) != 0 || ::stat(path.c_str(), &info) != 0)
        return lastError();
    switch (system.f_type) {
    // Their times are a server's or a user-space program's word, or kept to whole seconds.
    case FUSE_SUPER_MAGIC:
    case NFS_SUPER_MAGIC:
    case SMB_SUPER_MAGIC:
    case kCifsMagic:
    case kSmb2Magic:
    case V9FS_MAGIC:
    case CODA_SUPER_MAGIC:
    case AFS_FS_MAGIC:
    case kCephMagic:
    case MSDOS_SUPER_MAGIC:
    case EXFAT_SUPER_MAGIC:
        return false;
    default:
        // Times without a sub-second part come from a file system that keeps none.
        return info.st_ctim.tv_nsec != 0 || info.st_mtim.tv_nsec != 0;
    }
}

std::optional<std::int64_t> PosixCopyPrimitives::handlesToSpare() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    std::int64_t open = 0;
    if (const std::unique_ptr<DIR, int (*)(DIR*)> listed(::opendir("/proc/self/fd"), ::closedir);
        listed)
        while (::readdir(listed.get()))
            ++open;
    return static_cast<std::int64_t>(limit.rlim_cur) - open;
}

void PosixCopyPrimitives::writerStarted() {
    liveNames::keepStopsOffThisThread();
}

Result<std::int64_t> PosixCopyPrimitives::copyPiece(const CopySource& source, OsHandle& out,
                                                    std::int64_t at, std::int64_t most) {
    const int in = fdOf(source.file);
    for (;;) {
        off_t inAt = at, outAt = at;
        const ssize_t got =
            ::copy_file_range(in, &inAt, fdOf(out), &outAt, static_cast<std::size_t>(most), 0);
        if (got >= 0)
            return got;
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != EINVAL && !isUnsupported(errno))
            return lastError();
        break;
    }
    // Across file systems, or where the kernel cannot: through a buffer.
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(most, kBufferSize));
    ssize_t got;
    while ((got = ::pread(in, buffer(), want, at)) < 0)
        if (errno != EINTR)
            return lastError();
    if (const std::error_code error = writeAllAt(out, static_cast<std::size_t>(got), at))
        return error;
    return std::int64_t{got};
}

char* PosixCopyPrimitives::buffer() {
    if (!m_buffer)
        m_buffer.reset(new char[kBufferSize]);
    return m_buffer.get();
}

// Writes the first `size` bytes of the buffer at `at`, however many calls it takes.
std::error_code PosixCopyPrimitives::writeAllAt(OsHandle& out, std::size_t size, std::int64_t at) {
    for (std::size_t put = 0; put < size;) {
        const ssize_t n =
            ::pwrite(fdOf(out), buffer() + put, size - put, at + static_cast<std::int64_t>(put));
        if (n < 0 && errno != EINTR)
            return lastError();
        put += static_cast<std::size_t>(std::max<ssize_t>(n, 0));
    }
    return {};
}

Result<std::pair<std::int64_t, std::int64_t>>
PosixCopyPrimitives::nextData(OsHandle::Native file, std::int64_t size, std::int64_t at) {
    using Range = std::pair<std::int64_t, std::int64_t>;
    const int in = fdOf(file);
    const off_t start = ::lseek(in, at, SEEK_DATA);
    if (start < 0) {
        if (errno == ENXIO)
            return Range(size, size);
        if (errno == EINVAL || isUnsupported(errno)) // no holes known here: all data
            return Range(at, size);
        return lastError();
    }
    const off_t end = ::lseek(in, start, SEEK_HOLE);
    if (end < 0)
        return lastError();
    return Range(start, end);
}

std::error_code PosixCopyPrimitives::punchHole(OsHandle& out, std::int64_t from, std::int64_t to) {
    if (::fallocate(fdOf(out), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, from, to - from) == 0)
        return {};
    if (errno != EOPNOTSUPP && errno != ENOSYS)
        return lastError();
    // Where holes cannot be punched, the range is written with zeros.
    std::fill_n(buffer(), kBufferSize, '\0');
    for (std::int64_t at = from; at < to; at += static_cast<std::int64_t>(kBufferSize))
        if (const std::error_code error = writeAllAt(
                out, static_cast<std::size_t>(std::min<std::int64_t>(to - at, kBufferSize)), at))
            return error;
    return {};
}

Result<bool> PosixCopyPrimitives::readsAt(const CopySource& source, std::int64_t at) {
    char probe;
    ssize_t got;
    while ((got = ::pread(fdOf(source.file), &probe, 1, at)) < 0)
        if (errno != EINTR)
            return lastError();
    return got > 0;
}

Result<FileFacts> PosixCopyPrimitives::sourceNow(const CopySource& source) {
    struct stat now {};
    if (::fstat(fdOf(source.file), &now) != 0)
        return lastError();
    return factsOf(now, {});
}

std::error_code PosixCopyPrimitives::carryStreams(OsHandle&, const CopySource&) {
    return {}; // a file here has one stream
}

std::error_code PosixCopyPrimitives::takeTime(OsHandle& out, const CopySource& source) {
    const std::int64_t modified = source.facts.modified;
    const timespec times[2] = {{0, UTIME_OMIT},
                               {static_cast<time_t>(modified / 1'000'000'000),
                                static_cast<long>(modified % 1'000'000'000)}};
    return ::futimens(fdOf(out), times) == 0 ? std::error_code() : lastError();
}

Result<std::optional<FileFacts>> PosixCopyPrimitives::holdAgain(CopyTarget& target) {
    target.file = OsHandle(
        ::openat(fdOf(target.folder), target.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat found {};
    if (!target.file.valid())
        return errno == ENOENT ? Result(std::optional<FileFacts>()) : lastError();
    if (::fstat(fdOf(target.file), &found) != 0)
        return lastError();
    return std::optional(factsOf(found, target.name));
}

Result<OsHandle> PosixCopyPrimitives::openInPlace(CopyTarget& target, FileFacts& opened) {
    const int flags = O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    if (m_proc) {
        // The held file itself, whatever its name holds now.
        OsHandle out(::open(procPath(fdOf(target.file)).c_str(), flags));
        if (!out.valid())
            return lastError();
        opened = target.facts;
        return out;
    }
    // Without /proc a file swapped in here is opened before it can be told apart.
    OsHandle out(::openat(fdOf(target.folder), target.name.c_str(), flags | O_NOFOLLOW));
    struct stat info {};
    if (!out.valid() || ::fstat(fdOf(out), &info) != 0)
        return lastError();
    opened = factsOf(info, target.name);
    return out;
}

// A reservation counts on tmpfs, on ext4 in a file with extents, on XFS once shared blocks are
// unshared, and elsewhere (FUSE, NFS, SMB) where the file system takes one at all; ext4 without
// extents cannot reserve, and btrfs needs new space for every block written over however much
// was reserved.
std::error_code PosixCopyPrimitives::reserve(OsHandle& out, std::int64_t size) {
    const int fd = fdOf(out);
    struct statfs system {};
    if (::fstatfs(fd, &system) != 0)
        return lastError();
    int mode = FALLOC_FL_KEEP_SIZE;
    int flags = 0;
    switch (system.f_type) {
    case EXT4_SUPER_MAGIC:
        if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0 || !(flags & FS_EXTENT_FL))
            return notSupported();
        break;
    case XFS_SUPER_MAGIC:
        mode |= FALLOC_FL_UNSHARE_RANGE;
        break;
    case BTRFS_SUPER_MAGIC:
        return notSupported();
    default:
        break;
    }
    if (size == 0 || ::fallocate(fd, mode, 0, size) == 0)
        return {};
    return isUnsupported(errno) ? notSupported() : lastError();
}

Result<bool> PosixCopyPrimitives::copiesOnWrite(OsHandle::Native file) {
    struct statfs system {};
    if (::fstatfs(fdOf(file), &system) != 0)
        return lastError();
    return system.f_type == BTRFS_SUPER_MAGIC;
}

// Btrfs's free figure is an estimate: what its metadata and its chunk allocation need can stop
// a write it said would fit half-way. There only what lies beyond a margin counts: a 32nd of the
// file system, at least 2 MiB (a 64 MiB file system with 2 MiB to spare failed a 1 MiB write;
// with 3 it took it) and at most 1 GiB (twice the most btrfs keeps back for its metadata).
Result<std::int64_t> PosixCopyPrimitives::freeSpace(OsHandle::Native file) {
    struct statvfs system {};
    struct statfs kind {};
    if (::fstatvfs(fdOf(file), &system) != 0 || ::fstatfs(fdOf(file), &kind) != 0)
        return lastError();
    const auto block = static_cast<std::int64_t>(system.f_frsize);
    const std::int64_t free = static_cast<std::int64_t>(system.f_bavail) * block;
    if (kind.f_type != BTRFS_SUPER_MAGIC)
        return free;
    const std::int64_t margin =
        std::clamp<std::int64_t>(static_cast<std::int64_t>(system.f_blocks) * block / 32,
                                 std::int64_t{2} << 20, std::int64_t{1} << 30);
    return std::max<std::int64_t>(free - margin, 0);
}

std::error_code PosixCopyPrimitives::setLength(OsHandle& out, std::int64_t size) {
    return ::ftruncate(fdOf(out), size) == 0 ? std::error_code() : lastError();
}

std::error_code PosixCopyPrimitives::syncData(OsHandle& out) {
    return ::fdatasync(fdOf(out)) == 0 ? std::error_code() : lastError();
}

// Asked once per folder, not per target.
Result<PosixCopyPrimitives::Folder> PosixCopyPrimitives::folderOf(const CopyTarget& target) {
    const auto known = m_folders.find(target.folderPath);
    if (known != m_folders.end())
        return known->second;
    struct stat folder {};
    struct statfs system {};
    if (::fstat(fdOf(target.folder), &folder) != 0 || ::fstatfs(fdOf(target.folder), &system) != 0)
        return lastError();
    if (m_folders.size() >= 4096)
        m_folders.clear();
    return m_folders.emplace(target.folderPath, Folder{folder.st_dev, system.f_type}).first->second;
}

std::error_code PosixCopyPrimitives::wrote(const CopyTarget& target, OsHandle& out) {
    Result<Folder> folder = folderOf(target);
    if (folder.error())
        return folder.error();
    if (!m_written.contains(folder->device)) {
        OsHandle kept(::fcntl(fdOf(out), F_DUPFD_CLOEXEC, 0));
        if (!kept.valid())
            return lastError();
        m_written.emplace(folder->device, std::move(kept));
    }
    return {};
}

// syncfs sends the device no flush on vfat, FUSE and others: the fsync of one file there does.
std::error_code PosixCopyPrimitives::syncWritten() {
    std::error_code failure = std::exchange(m_unsettled, {});
    for (auto& [device, file] : m_written)
        if ((::syncfs(fdOf(file)) != 0 || ::fsync(fdOf(file)) != 0) && !failure)
            failure = lastError();
    m_written.clear();
    return failure;
}

// No file here counts as encrypted; one in an encrypted folder (fscrypt) is so by the folder.
bool PosixCopyPrimitives::folderKeepsEncrypted(const CopyTarget&) {
    return true;
}

Result<bool> PosixCopyPrimitives::folderTakesNewFiles(const CopyTarget& target) {
    return ::faccessat(fdOf(target.folder), "", W_OK | X_OK, AT_EACCESS | AT_EMPTY_PATH) == 0;
}

// A sticky folder keeps another user's name from all but its owner and root.
Result<bool> PosixCopyPrimitives::folderKeepsName(const CopyTarget& target) {
    struct stat folder {};
    if (::fstat(fdOf(target.folder), &folder) != 0)
        return lastError();
    return (folder.st_mode & S_ISVTX) && m_uid != 0 && target.facts.owner != m_uid &&
           folder.st_uid != m_uid;
}

Result<std::string> PosixCopyPrimitives::placeKey(const CopyTarget& target) {
    struct stat folder {};
    if (::fstat(fdOf(target.folder), &folder) != 0)
        return lastError();
    return std::to_string(folder.st_dev) + ':' + std::to_string(folder.st_ino) + '/' + target.name;
}
