#pragma once

#include "platform/FileServices.h"
#include "platform/OsHandle.h"

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

// Paths as the host's own calls take them: UTF-8 on POSIX, UTF-16 on Windows.
#ifdef _WIN32
using HostString = std::wstring;
#else
using HostString = std::string;
#endif

// What a host call answers: its value, or the host's error code and no value. The primitives
// answer this way (or with an error code alone) and never throw; what an error means for the
// copy is the sequence's to decide.
template <typename T> class [[nodiscard]] Result {
  public:
    Result(T value) : m_value(std::move(value)) {}
    Result(std::error_code error) : m_error(error) {}

    const std::error_code& error() const { return m_error; }
    T& operator*() { return *m_value; }
    T* operator->() { return &*m_value; }

  private:
    std::optional<T> m_value;
    std::error_code m_error;
};

enum class FileKind { Regular, Folder, Link, Other };

// What the sequence needs to know of a file, in the host's terms where only the host reads
// them (permissions, owner).
struct FileFacts {
    FileKind kind = FileKind::Other;
    FileIdentity identity;
    std::int64_t size = 0;
    std::int64_t allocated = 0; // bytes the file takes on disk; below its size it has holes
    std::int64_t modified = 0;  // in the host's units; only compared
    std::int64_t created = 0;   // Windows: its creation time, which a replaced file keeps
    // When the file last changed in any way: no program can set it back on POSIX, and few do on
    // Windows; 0 where unknown.
    std::int64_t changed = 0;
    bool readOnly = false;
    bool hidden = false;
    bool encrypted = false;        // kept encrypted by the file system (Windows)
    std::uint32_t reparseTag = 0;  // Windows: the reparse point's tag; 0 for none
    std::uint32_t permissions = 0; // mode bits on POSIX, attribute bits on Windows
    std::uint32_t owner = 0, group = 0;

    bool sameFile(const FileFacts& other) const { return identity == other.identity; }
};

// The source as it is copied: its file, which the host may own here or hold for itself.
struct CopySource {
    OsHandle owned;
    OsHandle::Native file = OsHandle::kNone;
    FileFacts facts;
};

// What the target's volume keeps and allows.
struct VolumeFacts {
    bool keepsOwners = true;  // owners and access lists persist (not on FAT or exFAT)
    bool posixRenames = true; // a rename over a held file leaves it to its holders
};

// The free space a target draws on.
struct SpaceFacts {
    std::uint64_t key = 0; // alike where the space is one
    std::int64_t free = 0; // bytes free for this process
};

// A symbolic link (on Windows also a junction) met on the way to a file: whether this process's
// user made it, and whether what it finally leads to belongs to the link's own owner.
struct LinkMet {
    bool mine = false;
    bool toOwnersOwn = false;
};

// The target resolved once: the folder of its final file held open, the name in it, and the
// file found there, held until the last check so that its number cannot pass to another.
struct CopyTarget {
    OsHandle ownFolder;
    OsHandle::Native folder = OsHandle::kNone; // ownFolder's, or one the host holds itself
    HostString folderPath;                     // ends with the host's separator, links resolved
    HostString name;
    HostString given; // the path looked up, as the host tidied it
    OsHandle file;
    FileFacts facts;
    bool present = false;
    VolumeFacts volume;         // asked by the sequence of a present target it judges
    std::vector<LinkMet> links; // met on the way to the folder
};

// The new content's file: without a name (anonymous) or under a temporary one.
struct NewFile {
    OsHandle file;
    HostString name;
    bool encrypted = false; // kept encrypted by the file system
    // Windows: the attributes and creation time (0: its own) it takes with the target's name.
    std::uint32_t attributes = 0;
    std::int64_t created = 0;
};

// What a replaced target keeps besides its permission bits and owner: its own access control
// list and extended attributes, as the host stores them.
struct KeptFacts {
    bool hasAcl = false;
    std::string acl;
    std::vector<std::pair<std::string, std::string>> attributes;
};

// The calls of one host that the copy sequence is made of. Each does one thing and decides
// nothing: it reports what it found or what the host said (a sharing violation, a new file
// that is not encrypted, a file that is no regular file), and what to refuse, when to retry
// and what to check is the sequence's. A call that can fail answers Result<T>, or a
// std::error_code where it has no value; one that cannot answers its fact alone.
class CopyPrimitives {
  public:
    virtual ~CopyPrimitives() = default;

    // The source opened for reading, never blocking, and its facts: whether it is a regular
    // file is the sequence's to judge (a Windows device is not even opened).
    virtual Result<CopySource> openSource(const HostString& path) = 0;
    // Opens the folder of `path` and looks its last name up without following a link, telling
    // each link met on the way to the folder. A Windows device counts as present, and as no
    // regular file; so does a stream's name.
    virtual std::error_code lookUp(const HostString& path, CopyTarget& target) = 0;
    // Whether two paths name alike, as this host compares names.
    virtual bool sameName(const HostString& one, const HostString& other) = 0;
    // The path a link finally names, and each link met on the way there; nothing when it
    // names nothing.
    virtual Result<std::optional<HostString>> finalPath(const HostString& path,
                                                        std::vector<LinkMet>& met) = 0;
    // Whether the process may write the checked file itself; device_or_resource_busy where
    // another program holds it open without sharing write.
    virtual Result<bool> mayWrite(const CopyTarget& target) = 0;
    // Whether the checked file lies in a folder others may write, owned by neither this process
    // nor the folder's owner: a file planted there for others to write into.
    virtual Result<bool> plantedInSharedFolder(const CopyTarget& target) = 0;
    // Whether a new file can be given the checked file's owner and group.
    virtual Result<bool> mayKeepOwner(const CopyTarget& target) = 0;
    // What the checked file keeps; an error when it cannot be read.
    virtual Result<KeptFacts> readKept(const CopyTarget& target) = 0;
    // Gives the new file the old one's owner, permissions and what it keeps: whether the access
    // control list and every attribute were carried; an error when the owner or permissions
    // could not be set.
    virtual Result<bool> carryKept(NewFile& file, const CopyTarget& target,
                                   const KeptFacts& kept) = 0;

    // A file without a name in the target's folder; not_supported where the host or its file
    // system has none.
    virtual Result<NewFile> createAnonymous(const CopyTarget& target,
                                            std::uint32_t permissions) = 0;
    // A new file under `name` in the target's folder, removed by the host should the process
    // die where it can be; file_exists when the name is taken. Asked to be `encrypted`, its
    // `encrypted` says whether the file system keeps it so.
    virtual Result<NewFile> createNamed(const CopyTarget& target, const HostString& name,
                                        std::uint32_t permissions, bool encrypted) = 0;
    // Gives an anonymous file a name; file_exists when taken, not_supported when this host
    // cannot name it (the sequence then starts again with a named file). Named, the file may be
    // closed (its close checked, the name removed again should the close fail).
    virtual std::error_code linkAnonymous(NewFile& file, const CopyTarget& target,
                                          const HostString& name) = 0;
    // Moves the named new file to the target's name, over what is there when `replace`;
    // file_exists when not replacing and the name is taken. The host may close the file first,
    // its close checked; a failed move leaves the temporary name to be removed.
    virtual std::error_code publish(NewFile& file, const CopyTarget& target, bool replace) = 0;
    // Whether another program holds the target's file open, which only a host whose opens
    // exclude each other can tell: with `evenSharing`, also one that lets it be renamed over,
    // seen only once a rename over it failed.
    virtual bool heldElsewhere(const CopyTarget& target, bool evenSharing) = 0;
    // Whether any other program holds the target's file open for its content or its deletion,
    // sharing delete or not, which only a host whose opens exclude each other can tell.
    virtual bool heldOpen(const CopyTarget& target) = 0;
    // What the target's volume keeps and allows.
    virtual Result<VolumeFacts> volumeOf(const CopyTarget& target) = 0;
    // Moves the named new file over a target another program holds, where the file system
    // lets the old file live on without a name for its holders; an error where it does not.
    virtual std::error_code publishOverHeld(NewFile& file, const CopyTarget& target) = 0;
    // The start of this process's temporary names; the sequence adds a random part and ".tmp".
    virtual const HostString& temporaryPrefix() = 0;
    // Removes the temporary names in the target's folder whose makers are surely gone (a crash
    // or a power cut left them); never a name that may be another copy's. Once per folder.
    virtual void removeLeftovers(const CopyTarget& target) = 0;
    // Puts the new file's data on disk before the file takes a name, where the file system
    // needs it: written out where a journal could carry the name ahead of the data (no cache
    // flush), synced where the run's final flush cannot vouch for the file system.
    virtual std::error_code writeOut(const CopyTarget& target, OsHandle& out) = 0;
    // Removes the new file's temporary name.
    virtual std::error_code removeName(NewFile& file, const CopyTarget& target) = 0;
    // Whether the target's folder lies where the system keeps its settings and state, not
    // documents (on Linux procfs, sysfs and their like), where a write changes the system.
    virtual Result<bool> holdsNoDocuments(const CopyTarget& target) = 0;
    // Whether the target's folder lets names be added but never removed or renamed.
    virtual Result<bool> folderIsAppendOnly(const CopyTarget& target) = 0;
    // What the target's name holds now; nothing when it holds nothing.
    virtual Result<std::optional<FileFacts>> lookAgain(const CopyTarget& target) = 0;
    // Whether two targets were looked up in the same folder.
    virtual Result<bool> sameFolder(const CopyTarget& one, const CopyTarget& other) = 0;
    // The space the file at `path` would be written in, links followed: alike for every path
    // that draws on the same free space (one file system, the subvolumes of one pool, an
    // overlay and its upper layer).
    virtual Result<SpaceFacts> spaceOf(const HostString& path) = 0;
    // Whether any rewrite of the file at `path` surely moves its change time, so that its facts
    // tell a copy made earlier from one made now; not where its file system keeps times coarse
    // or lets a server or a user-space program tell them.
    virtual Result<bool> tracksChanges(const HostString& path) = 0;
    // How many more handles the process may open; nothing where the host sets no such limit.
    virtual std::optional<std::int64_t> handlesToSpare() = 0;
    // Called first on a thread that writes ahead of the run: a host whose stops are signals
    // keeps them for the thread that can always take them.
    virtual void writerStarted() {}

    // Copies up to `most` bytes of the source from `at` to the same place in `out`; 0 at the
    // end of the source.
    virtual Result<std::int64_t> copyPiece(const CopySource& source, OsHandle& out, std::int64_t at,
                                           std::int64_t most) = 0;
    // The next range of data in `file`, `size` bytes long, at or after `at`, as [start, end);
    // starting at `size` when only a hole follows. All data where holes are not known.
    virtual Result<std::pair<std::int64_t, std::int64_t>>
    nextData(OsHandle::Native file, std::int64_t size, std::int64_t at) = 0;
    // Makes [from, to) of `out` a hole, so that no old byte survives there.
    virtual std::error_code punchHole(OsHandle& out, std::int64_t from, std::int64_t to) = 0;
    // Whether the source yields a byte at `at`.
    virtual Result<bool> readsAt(const CopySource& source, std::int64_t at) = 0;
    // The source's facts now.
    virtual Result<FileFacts> sourceNow(const CopySource& source) = 0;
    // Gives `out` the source's last-modified time.
    virtual std::error_code takeTime(OsHandle& out, const CopySource& source) = 0;
    // Gives `out` the source's named streams, where the host has them.
    virtual std::error_code carryStreams(OsHandle& out, const CopySource& source) = 0;

    // Holds the file the target's name holds now, as lookUp did; its facts, or nothing.
    virtual Result<std::optional<FileFacts>> holdAgain(CopyTarget& target) = 0;
    // The checked file opened for writing over, and the facts of what was opened;
    // device_or_resource_busy where another program holds it open and opens exclude each other.
    virtual Result<OsHandle> openInPlace(CopyTarget& target, FileFacts& opened) = 0;
    // Space for every block that writing `size` bytes over `out` needs (beyond its end, and in
    // its holes), its length unchanged; not_supported where the file system gives no
    // reservation that guarantees it. What was reserved before a failure stays reserved.
    virtual std::error_code reserve(OsHandle& out, std::int64_t size) = 0;
    // Whether the file system of `file` writes every block written over anew (copy on write).
    virtual Result<bool> copiesOnWrite(OsHandle::Native file) = 0;
    // Bytes free for this process on the file system of `file` (a file or a folder held open),
    // less what the file system may need for itself where its figure is only an estimate.
    virtual Result<std::int64_t> freeSpace(OsHandle::Native file) = 0;
    virtual std::error_code setLength(OsHandle& out, std::int64_t size) = 0;
    // Writes the data of `out` through to the disk (before a truncation that could otherwise
    // reach the disk first).
    virtual std::error_code syncData(OsHandle& out) = 0;
    // A copy wrote `out` in the target's folder: its file system is made durable later.
    virtual std::error_code wrote(const CopyTarget& target, OsHandle& out) = 0;

    // For a dry run: whether the target's folder takes new files, whether it keeps the
    // target's name from a rename by this process, and a key naming the target's place.
    virtual Result<bool> folderTakesNewFiles(const CopyTarget& target) = 0;
    // Whether a new file in the target's folder can be kept encrypted.
    virtual bool folderKeepsEncrypted(const CopyTarget& target) = 0;
    virtual Result<bool> folderKeepsName(const CopyTarget& target) = 0;
    virtual Result<std::string> placeKey(const CopyTarget& target) = 0;
};
