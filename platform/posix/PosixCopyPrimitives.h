#pragma once

#include "platform/CopyPrimitives.h"
#include "platform/posix/TemporaryNames.h"

#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// The copy's calls on a POSIX host: openat, O_TMPFILE, linkat, renameat, extended attributes.
// What the probes of a line looked up is used by the copy that follows it.
class PosixCopyPrimitives : public CopyPrimitives {
  public:
    PosixCopyPrimitives();

    // The source probe found this regular file at `path`: the copy of the same path may take
    // the file the last copy opened, when it is still the one found, instead of opening it again.
    void sourceProbed(std::string_view path, const struct stat& info);
    // Opens the folder the folder probe asks for; the copy of this line takes it.
    std::error_code probeFolder(std::string path);
    // Lets go of what earlier lines opened.
    void releaseHeld();

    Result<CopySource> openSource(const HostString& path) override;
    std::error_code lookUp(const HostString& path, CopyTarget& target) override;
    bool sameName(const HostString& one, const HostString& other) override;
    Result<std::optional<HostString>> finalPath(const HostString& path,
                                                std::vector<LinkMet>& met) override;
    Result<bool> mayWrite(const CopyTarget& target) override;
    Result<bool> plantedInSharedFolder(const CopyTarget& target) override;
    Result<bool> mayKeepOwner(const CopyTarget& target) override;
    Result<KeptFacts> readKept(const CopyTarget& target) override;
    Result<bool> carryKept(NewFile& file, const CopyTarget& target, const KeptFacts& kept) override;
    Result<NewFile> createAnonymous(const CopyTarget& target, std::uint32_t permissions) override;
    Result<NewFile> createNamed(const CopyTarget& target, const HostString& name,
                                std::uint32_t permissions, bool encrypted) override;
    std::error_code linkAnonymous(NewFile& file, const CopyTarget& target,
                                  const HostString& name) override;
    std::error_code publish(NewFile& file, const CopyTarget& target, bool replace) override;
    bool heldElsewhere(const CopyTarget& target, bool evenSharing) override;
    bool heldOpen(const CopyTarget&) override { return false; }
    // Owners are kept, and a rename over a file held open leaves it to its holders.
    Result<VolumeFacts> volumeOf(const CopyTarget&) override { return VolumeFacts(); }
    std::error_code publishOverHeld(NewFile& file, const CopyTarget& target) override;
    const HostString& temporaryPrefix() override { return m_prefix; }
    void removeLeftovers(const CopyTarget& target) override;
    std::error_code writeOut(const CopyTarget& target, OsHandle& out) override;
    std::error_code removeName(NewFile& file, const CopyTarget& target) override;
    Result<bool> holdsNoDocuments(const CopyTarget& target) override;
    Result<bool> folderIsAppendOnly(const CopyTarget& target) override;
    Result<std::optional<FileFacts>> lookAgain(const CopyTarget& target) override;
    Result<bool> sameFolder(const CopyTarget& one, const CopyTarget& other) override;
    Result<SpaceFacts> spaceOf(const HostString& path) override;
    Result<bool> tracksChanges(const HostString& path) override;
    std::optional<std::int64_t> handlesToSpare() override;
    void writerStarted() override;
    Result<std::int64_t> copyPiece(const CopySource& source, OsHandle& out, std::int64_t at,
                                   std::int64_t most) override;
    Result<std::pair<std::int64_t, std::int64_t>> nextData(OsHandle::Native file, std::int64_t size,
                                                           std::int64_t at) override;
    std::error_code punchHole(OsHandle& out, std::int64_t from, std::int64_t to) override;
    Result<bool> readsAt(const CopySource& source, std::int64_t at) override;
    Result<FileFacts> sourceNow(const CopySource& source) override;
    std::error_code takeTime(OsHandle& out, const CopySource& source) override;
    std::error_code carryStreams(OsHandle& out, const CopySource& source) override;
    Result<std::optional<FileFacts>> holdAgain(CopyTarget& target) override;
    Result<OsHandle> openInPlace(CopyTarget& target, FileFacts& opened) override;
    std::error_code reserve(OsHandle& out, std::int64_t size) override;
    Result<bool> copiesOnWrite(OsHandle::Native file) override;
    Result<std::int64_t> freeSpace(OsHandle::Native file) override;
    std::error_code setLength(OsHandle& out, std::int64_t size) override;
    std::error_code syncData(OsHandle& out) override;
    std::error_code wrote(const CopyTarget& target, OsHandle& out) override;
    // Syncs each file system written to since the last call, once; the first failure.
    std::error_code syncWritten();
    Result<bool> folderTakesNewFiles(const CopyTarget& target) override;
    bool folderKeepsEncrypted(const CopyTarget& target) override;
    Result<bool> folderKeepsName(const CopyTarget& target) override;
    Result<std::string> placeKey(const CopyTarget& target) override;

  protected:
    // As on a host where an open file cannot be reached through /proc (`procLinks` false): an
    // anonymous file is then named by AT_EMPTY_PATH, and the checked file by its name.
    explicit PosixCopyPrimitives(bool procLinks);
    // The space of the folder at `folder` (links resolved), asked once per device.
    virtual Result<SpaceFacts> folderSpace(const std::string& folder);

  private:
    struct Folder {
        dev_t device;
        long type; // the file system's, as statfs tells it
    };
    Result<Folder> folderOf(const CopyTarget& target);
    std::uint64_t poolOf(const std::string& folder, dev_t device, int depth = 0);
    std::error_code linkAt(NewFile& file, int folder, const HostString& name);
    // Puts the name a file of FAT or exFAT just took on the device.
    std::error_code settle(const CopyTarget& target, long type, OsHandle& renamed);
    static std::error_code rename(int folder, const HostString& from, const HostString& to,
                                  bool replace);
    // The checked file itself through /proc; its path where there is no /proc.
    std::string inodePath(const CopyTarget& target) const;
    char* buffer();
    std::error_code writeAllAt(OsHandle& out, std::size_t size, std::int64_t at);

    uid_t m_uid;
    gid_t m_gid;
    std::vector<gid_t> m_groups;
    bool m_proc;
    // The last source opened, and what the source probe last found.
    OsHandle m_source;
    struct stat m_sourceInfo {};
    std::string m_probedPath;
    struct stat m_probedInfo {};
    bool m_probed = false;
    // The folder the folder probe opened for this line.
    std::string m_folderPath;
    OsHandle m_folder;
    std::vector<LinkMet> m_folderLinks;
    std::string m_folderReal; // its path without links, where it had any
    std::unique_ptr<char[]> m_buffer;
    // A file open for writing on each file system written to, by device; and the device and
    // file system of the folders written to lately.
    std::map<dev_t, OsHandle> m_written;
    std::unordered_map<std::string, Folder> m_folders;
    // The space each device draws on, and each folder's.
    std::unordered_map<dev_t, std::uint64_t> m_spaces;
    std::unordered_map<std::string, SpaceFacts> m_folderSpaces;
    // The first name that could not be put on the device, for the run's last flush to report.
    std::error_code m_unsettled;
    // Who this process is in its temporary names, and the folders cleared of leftovers.
    std::optional<NameMaker> m_maker;
    std::string m_prefix;
    std::unordered_set<std::string> m_cleared;
    // Folders found append-only or immutable, and not, this run.
    std::unordered_map<std::string, bool> m_appendOnly;
};
