#pragma once

#include "platform/CopyPrimitives.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <windows.h>

// The copy's calls on a Windows host: CreateFileW, a delete disposition on the new file,
// rename by handle, the DACL.
class Win32CopyPrimitives : public CopyPrimitives {
  public:
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
    bool heldOpen(const CopyTarget& target) override;
    Result<VolumeFacts> volumeOf(const CopyTarget& target) override;
    std::error_code publishOverHeld(NewFile& file, const CopyTarget& target) override;
    const HostString& temporaryPrefix() override { return m_prefix; }
    void removeLeftovers(const CopyTarget& target) override;
    std::error_code writeOut(const CopyTarget& target, OsHandle& out) override;
    std::error_code removeName(NewFile& file, const CopyTarget& target) override;
    Result<bool> folderIsAppendOnly(const CopyTarget& target) override;
    Result<std::optional<FileFacts>> lookAgain(const CopyTarget& target) override;
    Result<bool> sameFolder(const CopyTarget& one, const CopyTarget& other) override;
    Result<SpaceFacts> spaceOf(const HostString& path) override;
    // Windows keeps its settings in no file system a path reaches.
    Result<bool> holdsNoDocuments(const CopyTarget&) override { return false; }
    Result<bool> tracksChanges(const HostString& path) override;
    // Windows bounds no process's handles to a small number.
    std::optional<std::int64_t> handlesToSpare() override { return std::nullopt; }
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
    Result<bool> folderTakesNewFiles(const CopyTarget& target) override;
    bool folderKeepsEncrypted(const CopyTarget& target) override;
    Result<bool> folderKeepsName(const CopyTarget& target) override;
    Result<std::string> placeKey(const CopyTarget& target) override;
    // Makes what copies wrote durable and lets go of the folders held for it; the first
    // failure.
    std::error_code syncWritten();

  protected:
    // The host calls of a temporary file, for a test to fail one as Wine cannot.
    enum class HostCall {
        CreateTemporary, // creating the temporary file
        SetAttributes,   // the attributes the new file takes before its rename
        Rename,          // the rename over the target
        WriteOut,        // its data written out before it takes the name
        FlushFolder,     // a folder written to, flushed before "Done."
    };
    // What a folder's volume is and does, read once per folder and run.
    struct Place {
        DWORD error = ERROR_SUCCESS; // of asking for its features
        DWORD features = 0;
        bool remote = false;
        // Whether delete on close can be cleared (FileDispositionInformationEx): -1 not known yet.
        std::atomic<int> clearsDeleteOnClose = -1;
    };
    // The error `call` fails with before it is made; none here.
    virtual std::error_code failure(HostCall) { return {}; }
    // Sets or clears delete on close through the class that can clear it, for a test to give a
    // file system that has the class, as Wine does not.
    virtual std::error_code setDeleteOnClose(HANDLE file, bool deleted);
    // What lookUp read of a file, its attributes and reparse tag, for a test to give what Wine
    // cannot make (a SYSTEM link, a cloud placeholder); as read here.
    virtual void described(BY_HANDLE_FILE_INFORMATION&, DWORD&) {}
    // What was read of a folder's volume, for a test to give what Wine cannot make (a share).
    virtual void described(Place&) {}
    // The path the system gives for a held file, for a test to give a share's answer (the name
    // as it was opened, a short name as listed); as read here.
    virtual void named(std::wstring&) {}

  private:
    // The error an open of the target for deleting it meets; ERROR_SUCCESS when it opens.
    static DWORD deleteRefusal(const CopyTarget& target);
    static std::error_code removeIn(const CopyTarget& target, const HostString& name);
    char* buffer();
    // This process's token: who it is, and whom its new files belong to.
    struct Token {
        std::vector<std::byte> user, defaultOwner;
        // Whether what `owner` owns is this user's own.
        bool owns(PSID owner) const;
    };
    Result<const Token*> token();
    static Result<std::vector<std::wstring>> streamsOf(HANDLE file);
    std::error_code copyStreams(OsHandle::Native from, OsHandle& out, bool missing);
    bool keepsStreams(const CopySource& source);
    std::error_code copyStream(OsHandle::Native file, OsHandle& out, const std::wstring& name);
    std::error_code rename(NewFile& file, const CopyTarget& target, DWORD flags);
    Place& placeOf(OsHandle::Native folder, const std::wstring& path);
    Place& placeOf(const CopyTarget& target) { return placeOf(target.folder, target.folderPath); }
    std::wstring longName(const CopyTarget& target);

    std::unique_ptr<char[]> m_buffer;
    std::optional<Token> m_token;
    // Marked as this host's: a POSIX copy into the same shared folder holds its files without
    // a share mode, so only these names can be judged by one.
    HostString m_prefix = L".quorvane-win-";
    std::set<std::wstring> m_cleared; // folders whose leftovers were removed
    // Writers on several threads ask at once.
    std::mutex m_placesLock;
    std::map<std::wstring, std::unique_ptr<Place>> m_places;
    std::map<std::uint64_t, bool> m_streamVolumes; // by serial: whether it keeps named streams
    // A folder written to, held to be flushed (not held where it takes no new file).
    struct Written {
        DWORD volume = 0;
        OsHandle folder;
    };
    std::map<std::wstring, Written> m_written; // by path
};
