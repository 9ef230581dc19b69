#pragma once

#include "platform/CopyPrimitives.h"

#include <memory>
#include <windows.h>

// The copy's calls on a Windows host: CreateFileW, a delete disposition on the new file,
// rename by handle, the DACL.
class Win32CopyPrimitives : public CopyPrimitives {
  public:
    CopySource openSource(const HostString& path) override;
    void lookUp(const HostString& path, CopyTarget& target) override;
    std::optional<HostString> finalPath(const HostString& path) override;
    bool mayWrite(const CopyTarget& target) override;
    bool plantedInSharedFolder(const CopyTarget& target) override;
    bool mayKeepOwner(const CopyTarget& target) override;
    std::optional<KeptFacts> readKept(const CopyTarget& target) override;
    bool carryKept(NewFile& file, const CopyTarget& target, const KeptFacts& kept) override;
    std::optional<NewFile> createAnonymous(const CopyTarget& target,
                                           std::uint32_t permissions) override;
    std::error_code createNamed(const CopyTarget& target, const HostString& name,
                                std::uint32_t permissions, bool encrypted, NewFile& file) override;
    std::error_code linkAnonymous(NewFile& file, const CopyTarget& target,
                                  const HostString& name) override;
    std::error_code publish(NewFile& file, const CopyTarget& target, bool replace) override;
    bool heldElsewhere(const CopyTarget& target, bool evenSharing) override;
    std::error_code publishOverHeld(NewFile& file, const CopyTarget& target) override;
    // A name here does not tell whether its maker is gone: no leftover is removed.
    const HostString& temporaryPrefix() override { return m_prefix; }
    void removeLeftovers(const CopyTarget&) override {}
    // The system's own copy flushes nothing per file; neither does this one.
    std::error_code writeOut(OsHandle&) override { return {}; }
    std::error_code removeName(NewFile& file, const CopyTarget& target) override;
    bool folderIsAppendOnly(const CopyTarget& target) override;
    std::optional<FileFacts> lookAgain(const CopyTarget& target) override;
    std::int64_t copyPiece(const CopySource& source, OsHandle& out, std::int64_t at,
                           std::int64_t most) override;
    std::optional<std::pair<std::int64_t, std::int64_t>> nextData(const CopySource& source,
                                                                  std::int64_t at) override;
    void punchHole(OsHandle& out, std::int64_t from, std::int64_t to) override;
    bool readsAt(const CopySource& source, std::int64_t at) override;
    FileFacts sourceNow(const CopySource& source) override;
    std::error_code takeTime(OsHandle& out, const CopySource& source) override;
    std::error_code carryStreams(OsHandle& out, const CopySource& source) override;
    std::optional<FileFacts> holdAgain(CopyTarget& target) override;
    OsHandle openInPlace(CopyTarget& target, FileFacts& opened) override;
    bool reserve(OsHandle& out, std::int64_t size) override;
    std::int64_t freeSpace(OsHandle& out) override;
    void setLength(OsHandle& out, std::int64_t size) override;
    void syncData(OsHandle& out) override;
    void wrote(const CopyTarget& target, OsHandle& out) override;
    bool folderTakesNewFiles(const CopyTarget& target) override;
    bool folderKeepsEncrypted(const CopyTarget& target) override;
    bool folderKeepsName(const CopyTarget& target) override;
    std::string placeKey(const CopyTarget& target) override;

  private:
    // The error an open of the target for deleting it meets; ERROR_SUCCESS when it opens.
    static DWORD deleteRefusal(const CopyTarget& target);
    static std::error_code removeIn(const CopyTarget& target, const HostString& name);
    std::error_code fault(HostCall call) const;
    char* buffer();
    // This process's token: for access checks, who it is, and whom its new files belong to.
    struct Token {
        OsHandle impersonation;
        std::vector<std::byte> user, defaultOwner;
    };
    const Token& token();
    std::error_code copyStream(const CopySource& source, OsHandle& out, const std::wstring& name);
    std::error_code rename(NewFile& file, const CopyTarget& target, DWORD flags);

    std::unique_ptr<char[]> m_buffer;
    std::optional<Token> m_token;
    HostString m_prefix = L".quorvane-";
};
