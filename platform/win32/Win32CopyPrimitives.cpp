#include "platform/win32/Win32CopyPrimitives.h"

#include "platform/PlatformError.h"
#include "platform/win32/Win32Io.h"

#include <aclapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr DWORD kPiece = 1 << 20;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What a replaced target keeps of its attributes, and a new one of its source's: the rest
// (hidden, system, compressed, encrypted...) is not for a plain attribute set to give.
constexpr DWORD kCarried =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// Not in the headers for the Windows version the build targets.
const auto kRenameInformationEx = static_cast<FILE_INFORMATION_CLASS>(65);
constexpr DWORD kRenameReplace = 0x1, kRenamePosix = 0x2;
constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);
constexpr ULONG kRemoteDevice = 0x10; // FILE_REMOTE_DEVICE, a driver kit name

HANDLE handleOf(OsHandle::Native native) {
    return reinterpret_cast<HANDLE>(native);
}

HANDLE handleOf(const OsHandle& handle) {
    return handleOf(handle.get());
}

OsHandle openHandle(const std::wstring& path, DWORD access, DWORD share, DWORD flags,
                    DWORD disposition = OPEN_EXISTING) {
    return OsHandle(reinterpret_cast<OsHandle::Native>(
        ::CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr)));
}

// Opens `name` in an open folder, as the POSIX *at calls do: what is checked and written is in
// the folder that was resolved, whatever is moved into its place meanwhile. An empty name is
// the folder itself. Fails with the last error set as CreateFileW sets it.
OsHandle openIn(OsHandle::Native folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                ULONG options, ULONG disposition = FILE_OPEN, ULONG attributes = 0) {
    const auto bytes = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    UNICODE_STRING relative{bytes, bytes, const_cast<PWSTR>(name.c_str())};
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &relative, OBJ_CASE_INSENSITIVE, handleOf(folder), nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE file = nullptr;
    const NTSTATUS status =
        ::NtCreateFile(&file, access | SYNCHRONIZE, &object, &io, nullptr, attributes, share,
                       disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status >= 0)
        return OsHandle(reinterpret_cast<OsHandle::Native>(file));
    ::SetLastError(status == kNameCollision ? ERROR_FILE_EXISTS : ::RtlNtStatusToDosError(status));
    return {};
}

// Whether an open file lies on another machine's volume.
bool onRemoteVolume(OsHandle::Native file) {
    FILE_FS_DEVICE_INFORMATION device{};
    IO_STATUS_BLOCK io{};
    return ::NtQueryVolumeInformationFile(handleOf(file), &io, &device, sizeof device,
                                          FileFsDeviceInformation) >= 0 &&
           device.Characteristics & kRemoteDevice;
}

// The target's name in its held folder, to look at it: with backup semantics, as a backup
// program reads what it may not otherwise; never to write it.
OsHandle openTarget(const CopyTarget& target, ACCESS_MASK access, ULONG share) {
    return openIn(target.folder, target.name, access, share,
                  FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT);
}

std::error_code lastError() {
    return {static_cast<int>(::GetLastError()), std::system_category()};
}

std::int64_t ticks(const FILETIME& time) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                     time.dwLowDateTime);
}

// The facts of an open file on disk; one that is not a folder is regular.
FileFacts factsOf(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info) {
    FileFacts facts;
    const DWORD bits = info.dwFileAttributes;
    facts.kind = bits & FILE_ATTRIBUTE_DIRECTORY ? FileKind::Folder : FileKind::Regular;
    facts.identity = identityOf(file, info);
    facts.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                           info.nFileSizeLow);
    facts.allocated = facts.size;
    facts.modified = ticks(info.ftLastWriteTime);
    facts.readOnly = bits & FILE_ATTRIBUTE_READONLY;
    facts.hidden = bits & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    facts.encrypted = bits & FILE_ATTRIBUTE_ENCRYPTED;
    facts.permissions = bits;
    return facts;
}

// A device or a pipe answers few queries, so its type is asked first.
FileFacts factsOf(HANDLE file) {
    if (::GetFileType(file) != FILE_TYPE_DISK)
        return {};
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info))
        throwLastError();
    return factsOf(file, info);
}

// The path of an open file, links resolved, as the system names it ("\\?\C:\..."). The
// normalised name reads every folder on the way, which many shares refuse, and a volume without
// a letter has no such name: the name as opened, then the volume's GUID name, stand in.
// Nothing when none is given, with the first refusal as the last error.
std::optional<std::wstring> finalPathOf(HANDLE file) {
    DWORD first = ERROR_SUCCESS;
    for (const DWORD kind :
         {FILE_NAME_NORMALIZED | VOLUME_NAME_DOS, FILE_NAME_OPENED | VOLUME_NAME_DOS,
          FILE_NAME_OPENED | VOLUME_NAME_GUID}) {
        std::wstring path(MAX_PATH, L'\0');
        for (;;) {
            const DWORD length = ::GetFinalPathNameByHandleW(file, path.data(),
                                                             static_cast<DWORD>(path.size()), kind);
            if (length == 0)
                break;
            if (length < path.size())
                return path.substr(0, length);
            path.resize(length + 1);
        }
        if (first == ERROR_SUCCESS)
            first = ::GetLastError();
    }
    ::SetLastError(first);
    return std::nullopt;
}

// A path as the system resolves it, once: "." and ".." taken, trailing dots and spaces cut
// from the last name, in the "\\?\" form that later calls take literally and without the
// MAX_PATH limit. A device ("\\.\NUL") is no file to copy.
std::wstring normalPath(const std::wstring& path) {
    if (path.starts_with(LR"(\\?\)"))
        return path;
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0)
            throwLastError();
        if (length < full.size()) {
            full.resize(length);
            break;
        }
        full.resize(length);
    }
    if (full.starts_with(LR"(\\.\)"))
        throw PlatformError::refused(Refusal::NotRegular);
    if (full.starts_with(LR"(\\)"))
        return LR"(\\?\UNC\)" + full.substr(2);
    return LR"(\\?\)" + full;
}

// Times left 0 stay as they are.
bool setAttributes(HANDLE file, DWORD attributes, std::int64_t created = 0) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    basic.CreationTime.QuadPart = created;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

bool setDeleted(HANDLE file, bool deleted) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = deleted ? TRUE : FALSE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof disposition);
}

OVERLAPPED at(std::int64_t offset) {
    OVERLAPPED place{};
    place.Offset = static_cast<DWORD>(offset);
    place.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    return place;
}

// One piece of what a token says, in a buffer as long as it needs.
std::vector<std::byte> tokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what) {
    std::vector<std::byte> answer(64);
    for (DWORD needed = 0; !::GetTokenInformation(token, what, answer.data(),
                                                  static_cast<DWORD>(answer.size()), &needed);
         answer.resize(needed))
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            throwLastError();
    return answer;
}

// Whether a token grants `access` to an object with this security descriptor.
bool granted(HANDLE token, PSECURITY_DESCRIPTOR security, DWORD access) {
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};
    ::MapGenericMask(&access, &mapping);
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof privileges, grantedAccess = 0;
    BOOL status = FALSE;
    if (!::AccessCheck(security, token, access, &mapping, &privileges, &privilegesSize,
                       &grantedAccess, &status))
        throwLastError();
    return status;
}

// What a replaced file keeps of its security descriptor.
constexpr SECURITY_INFORMATION kKept = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// Whether two descriptors hold the same owner and the same DACL, byte for byte, with the same
// inheritance marks.
bool sameSecurity(PSECURITY_DESCRIPTOR one, PSECURITY_DESCRIPTOR other) {
    PSID owner[2] = {};
    BOOL ownerDefaulted = FALSE;
    if (!::GetSecurityDescriptorOwner(one, &owner[0], &ownerDefaulted) ||
        !::GetSecurityDescriptorOwner(other, &owner[1], &ownerDefaulted) || !owner[0] ||
        !owner[1] || !::EqualSid(owner[0], owner[1]))
        return false;
    constexpr SECURITY_DESCRIPTOR_CONTROL kMarks = SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED;
    BOOL present[2] = {}, defaulted = FALSE;
    PACL dacl[2] = {};
    SECURITY_DESCRIPTOR_CONTROL control[2] = {};
    DWORD revision = 0;
    const PSECURITY_DESCRIPTOR both[2] = {one, other};
    for (int i = 0; i < 2; ++i)
        if (!::GetSecurityDescriptorDacl(both[i], &present[i], &dacl[i], &defaulted) ||
            !::GetSecurityDescriptorControl(both[i], &control[i], &revision))
            return false;
    if (present[0] != present[1] || (control[0] & kMarks) != (control[1] & kMarks) ||
        !dacl[0] != !dacl[1])
        return false;
    return !dacl[0] || (dacl[0]->AclSize == dacl[1]->AclSize &&
                        std::memcmp(dacl[0], dacl[1], dacl[0]->AclSize) == 0);
}

} // namespace

bool OsHandle::valid() const {
    return m_native != kNone && m_native != 0;
}

void OsHandle::reset() {
    if (valid())
        ::CloseHandle(handleOf(std::exchange(m_native, kNone)));
    m_native = kNone;
}

std::error_code OsHandle::close() {
    if (!valid() || ::CloseHandle(handleOf(std::exchange(m_native, kNone))))
        return {};
    return lastError();
}

CopySource Win32CopyPrimitives::openSource(const HostString& path) {
    CopySource source;
    source.owned = openHandle(normalPath(path), GENERIC_READ, kShareAll, FILE_FLAG_SEQUENTIAL_SCAN);
    if (!source.owned.valid())
        throwLastError();
    source.file = source.owned.get();
    source.facts = factsOf(handleOf(source.file));
    return source;
}

void Win32CopyPrimitives::lookUp(const HostString& given, CopyTarget& target) {
    // Every later name is taken from this one form, so that it lands where the system's own
    // copy would put it and the dry run keys it alike; every later open is made in the folder
    // held here.
    const std::wstring path = normalPath(given);
    const std::size_t cut = path.find_last_of(L"\\/") + 1;
    // Held with no more than it takes to be held: a folder may let files be added to it by
    // those it does not let read its permissions.
    target.ownFolder = openHandle(path.substr(0, cut), FILE_READ_ATTRIBUTES, kShareAll,
                                  FILE_FLAG_BACKUP_SEMANTICS);
    if (!target.ownFolder.valid())
        throwLastError();
    target.folder = target.ownFolder.get();
    target.folderPath = path.substr(0, cut);
    if (const std::optional<std::wstring> final = finalPathOf(handleOf(target.folder)))
        target.folderPath = *final + (final->ends_with(L'\\') ? L"" : L"\\");
    target.name = path.substr(cut);
    // Held until the last check, so that the file's index cannot pass to a file swapped in, and
    // so that nothing deletes it or is moved over it meanwhile: only an open with data access
    // takes part in sharing. A file this process cannot read, or that another program holds
    // without sharing it, is held by what it can open.
    target.file = openTarget(target, FILE_READ_DATA | READ_CONTROL | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (const DWORD error = ::GetLastError();
        !target.file.valid() && (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION))
        target.file = openTarget(target, READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll);
    if (!target.file.valid()) {
        const PlatformError error = PlatformError::fromWin32(::GetLastError());
        if (!error.isNotFound())
            throw error;
        return;
    }
    target.present = true;
    const HANDLE found = handleOf(target.file);
    if (::GetFileType(found) != FILE_TYPE_DISK)
        return;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(found, &info))
        throwLastError();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        target.file.reset();
        target.facts.kind = FileKind::Link;
        target.facts.hidden = info.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN;
        return;
    }
    target.facts = factsOf(found, info);
    if (target.facts.kind != FileKind::Regular)
        return;
    // The name as the folder holds it (case, long form): the new file takes it over.
    if (const std::optional<std::wstring> final = finalPathOf(handleOf(target.file)))
        target.name = final->substr(final->find_last_of(L'\\') + 1);
}

std::optional<HostString> Win32CopyPrimitives::finalPath(const HostString& path) {
    const OsHandle file =
        openHandle(normalPath(path), FILE_READ_ATTRIBUTES, kShareAll, FILE_FLAG_BACKUP_SEMANTICS);
    if (file.valid()) {
        if (std::optional<std::wstring> final = finalPathOf(handleOf(file)))
            return final;
        throwLastError();
    }
    const PlatformError error = PlatformError::fromWin32(::GetLastError());
    if (error.isNotFound())
        return std::nullopt;
    throw error;
}

bool Win32CopyPrimitives::mayWrite(const CopyTarget& target) {
    const OsHandle writable =
        openIn(target.folder, target.name, FILE_WRITE_DATA, kShareAll, FILE_OPEN_REPARSE_POINT);
    if (writable.valid())
        return true;
    if (::GetLastError() == ERROR_ACCESS_DENIED)
        return false;
    throwLastError();
}

bool Win32CopyPrimitives::plantedInSharedFolder(const CopyTarget&) {
    return false; // no folders of that kind here
}

// A new file can be given its user's own SID or the token's default owner (Administrators when
// elevated); any other owner, the replaced file would lose.
bool Win32CopyPrimitives::mayKeepOwner(const CopyTarget& target) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR security = nullptr;
    if (const DWORD error =
            ::GetSecurityInfo(handleOf(target.file), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                              &owner, nullptr, nullptr, nullptr, &security);
        error != ERROR_SUCCESS)
        throw PlatformError::fromWin32(error);
    const std::unique_ptr<void, decltype(&::LocalFree)> held(security, &::LocalFree);
    const Token& mine = token();
    return ::EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(mine.user.data())->User.Sid) ||
           ::EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(mine.defaultOwner.data())->Owner);
}

// Read once: a process's token does not change who it is.
const Win32CopyPrimitives::Token& Win32CopyPrimitives::token() {
    if (m_token)
        return *m_token;
    HANDLE process = nullptr, impersonation = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &process))
        throwLastError();
    const OsHandle processToken(reinterpret_cast<OsHandle::Native>(process));
    if (!::DuplicateToken(process, SecurityImpersonation, &impersonation))
        throwLastError();
    return m_token.emplace(Token{OsHandle(reinterpret_cast<OsHandle::Native>(impersonation)),
                                 tokenInformation(process, TokenUser),
                                 tokenInformation(process, TokenOwner)});
}

std::optional<KeptFacts> Win32CopyPrimitives::readKept(const CopyTarget& target) {
    PSECURITY_DESCRIPTOR security = nullptr;
    if (::GetSecurityInfo(handleOf(target.file), SE_FILE_OBJECT, kKept, nullptr, nullptr, nullptr,
                          nullptr, &security) != ERROR_SUCCESS)
        return std::nullopt;
    KeptFacts kept;
    kept.hasAcl = true;
    kept.acl.assign(static_cast<const char*>(security), ::GetSecurityDescriptorLength(security));
    ::LocalFree(security);
    return kept;
}

// The owner and DACL written as they were (SetSecurityInfo would impose the current inheritance
// model on them) and read back: a descriptor that does not come back with the same owner, DACL
// and inheritance marks counts as not carried.
bool Win32CopyPrimitives::carryKept(NewFile& file, const CopyTarget&, const KeptFacts& kept) {
    if (!kept.hasAcl)
        return true;
    const HANDLE out = handleOf(file.file);
    auto security = const_cast<char*>(kept.acl.data());
    if (!::SetKernelObjectSecurity(out, kKept, security))
        return false;
    std::vector<char> back(kept.acl.size());
    for (DWORD needed = 0; !::GetKernelObjectSecurity(out, kKept, back.data(),
                                                      static_cast<DWORD>(back.size()), &needed);
         back.resize(needed))
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return false;
    return sameSecurity(security, back.data());
}

std::optional<NewFile> Win32CopyPrimitives::createAnonymous(const CopyTarget&, std::uint32_t) {
    return std::nullopt; // Windows files have names; a delete disposition stands in
}

DWORD Win32CopyPrimitives::deleteRefusal(const CopyTarget& target) {
    const OsHandle probe = openTarget(target, DELETE, kShareAll);
    return probe.valid() ? ERROR_SUCCESS : ::GetLastError();
}

// Removes a name in the target's folder: opened for delete and marked.
std::error_code Win32CopyPrimitives::removeIn(const CopyTarget& target, const HostString& name) {
    const OsHandle file = openIn(target.folder, name, DELETE, kShareAll,
                                 FILE_OPEN_REPARSE_POINT | FILE_NON_DIRECTORY_FILE);
    return file.valid() && setDeleted(handleOf(file), true) ? std::error_code() : lastError();
}

std::error_code Win32CopyPrimitives::fault(HostCall call) const {
    return seams.fail ? seams.fail(call) : std::error_code();
}

// Hidden, as a leading dot does not make it here; deleted by the system should the process
// die before the rename clears the mark, and not kept at all where the mark cannot be set.
std::error_code Win32CopyPrimitives::createNamed(const CopyTarget& target, const HostString& name,
                                                 std::uint32_t permissions, bool encrypted,
                                                 NewFile& file) {
    if (const std::error_code error = fault(HostCall::CreateTemporary))
        return error;
    file.file = openIn(target.folder, name,
                       GENERIC_WRITE | DELETE | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES, 0,
                       FILE_NON_DIRECTORY_FILE, FILE_CREATE,
                       FILE_ATTRIBUTE_HIDDEN | (encrypted ? FILE_ATTRIBUTE_ENCRYPTED : 0));
    if (!file.file.valid())
        return lastError();
    std::error_code error = fault(HostCall::MarkDeleted);
    if (!error && !setDeleted(handleOf(file.file), true))
        error = lastError();
    const bool marked = !error;
    // Encrypted content never becomes plain text: where the new file is not encrypted (the file
    // system cannot, or the process has no key), there is no copy.
    FILE_BASIC_INFO made{};
    const bool plain =
        !error && encrypted &&
        !(::GetFileInformationByHandleEx(handleOf(file.file), FileBasicInfo, &made, sizeof made) &&
          made.FileAttributes & FILE_ATTRIBUTE_ENCRYPTED);
    if (error || plain) {
        // Marked, it goes as it is closed; by name, another's new file of that name might.
        file.file.reset();
        if (!marked)
            removeIn(target, name);
        if (plain)
            throw PlatformError::refused(Refusal::NotEncrypted);
        return error;
    }
    file.name = name;
    file.attributes = permissions & kCarried;
    // A replaced file keeps its creation time, as the system's own replace does.
    if (FILE_BASIC_INFO old{};
        target.present &&
        ::GetFileInformationByHandleEx(handleOf(target.file), FileBasicInfo, &old, sizeof old))
        file.created = old.CreationTime.QuadPart;
    return {};
}

std::error_code Win32CopyPrimitives::linkAnonymous(NewFile&, const CopyTarget&, const HostString&) {
    return std::make_error_code(std::errc::not_supported);
}

// Takes the name by handle: no path is resolved a second time. The mark comes off and the
// file shows with its own attributes only now; both go back on when the rename fails.
std::error_code Win32CopyPrimitives::rename(NewFile& file, const CopyTarget& target, DWORD flags) {
    const HANDLE out = handleOf(file.file);
    if (!setDeleted(out, false))
        return lastError();
    // Read-only last: Wine can no longer change the other attributes of a file that is
    // read-only to its Unix owner.
    std::error_code error = fault(HostCall::SetAttributes);
    if (!error &&
        !(setAttributes(out, file.attributes & ~FILE_ATTRIBUTE_READONLY, file.created) &&
          (!(file.attributes & FILE_ATTRIBUTE_READONLY) || setAttributes(out, file.attributes))))
        error = lastError();
    if (error) // the pending file's owner removes it
        throw PlatformError::fromCode(error);
    // Named relative to the held folder, which needs no path of it that every folder on the
    // way lets be read. A share takes no folder handle with a rename: there, the full path.
    const bool remote = onRemoteVolume(target.folder);
    const std::wstring to =
        remote ? LR"(\??\)" + target.folderPath.substr(4) + target.name : target.name;
    const std::size_t bytes = to.size() * sizeof(wchar_t);
    std::vector<std::byte> buffer(offsetof(FILE_RENAME_INFO, FileName) + bytes + sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    // Before the flags word, the same place held a replace byte alone.
    std::memcpy(info, &flags, sizeof flags);
    info->RootDirectory = remote ? nullptr : handleOf(target.folder);
    info->FileNameLength = static_cast<DWORD>(bytes);
    std::copy(to.begin(), to.end(), info->FileName);
    error = fault(HostCall::Rename);
    IO_STATUS_BLOCK io{};
    const FILE_INFORMATION_CLASS kind = flags & kRenamePosix && !seams.posixRenameAsPlain
                                            ? kRenameInformationEx
                                            : FileRenameInformation;
    if (const NTSTATUS status =
            error ? 0
                  : ::NtSetInformationFile(out, &io, info, static_cast<ULONG>(buffer.size()), kind);
        status < 0)
        error = {static_cast<int>(::RtlNtStatusToDosError(status)), std::system_category()};
    if (!error)
        return {};
    setAttributes(out, FILE_ATTRIBUTE_HIDDEN);
    setDeleted(out, true);
    // Windows refuses a rename over a file open elsewhere as access denied; Wine says so as a
    // sharing violation.
    return error.value() == ERROR_SHARING_VIOLATION
               ? std::error_code(ERROR_ACCESS_DENIED, std::system_category())
               : error;
}

std::error_code Win32CopyPrimitives::publish(NewFile& file, const CopyTarget& target,
                                             bool replace) {
    return rename(file, target, replace ? kRenameReplace : 0);
}

// Opened for delete: refused with a sharing violation only to a program that holds it without
// sharing delete, granted to one that shares it (whose handle then still stops the rename), and
// refused as access denied where the file may not be deleted at all.
bool Win32CopyPrimitives::heldElsewhere(const CopyTarget& target, bool evenSharing) {
    const DWORD error = deleteRefusal(target);
    return error == ERROR_SHARING_VIOLATION || (evenSharing && error == ERROR_SUCCESS);
}

// With POSIX semantics the old file loses its name at once and lives on for its holders.
std::error_code Win32CopyPrimitives::publishOverHeld(NewFile& file, const CopyTarget& target) {
    return rename(file, target, kRenameReplace | kRenamePosix);
}

std::error_code Win32CopyPrimitives::removeName(NewFile& file, const CopyTarget& target) {
    // A read-only file takes no delete mark.
    setAttributes(handleOf(file.file), FILE_ATTRIBUTE_HIDDEN);
    if (setDeleted(handleOf(file.file), true))
        return {};
    file.file.reset();
    return removeIn(target, file.name);
}

bool Win32CopyPrimitives::folderIsAppendOnly(const CopyTarget&) {
    return false; // no such folders here
}

std::optional<FileFacts> Win32CopyPrimitives::lookAgain(const CopyTarget& target) {
    const OsHandle now = openTarget(target, FILE_READ_ATTRIBUTES, kShareAll);
    if (!now.valid())
        return std::nullopt;
    return factsOf(handleOf(now));
}

char* Win32CopyPrimitives::buffer() {
    if (!m_buffer)
        m_buffer.reset(new char[kPiece]);
    return m_buffer.get();
}

std::int64_t Win32CopyPrimitives::copyPiece(const CopySource& source, OsHandle& out,
                                            std::int64_t offset, std::int64_t most) {
    char* const piece = buffer();
    OVERLAPPED from = at(offset);
    DWORD got = 0;
    if (!::ReadFile(handleOf(source.file), piece,
                    static_cast<DWORD>(std::min<std::int64_t>(most, kPiece)), &got, &from) &&
        ::GetLastError() != ERROR_HANDLE_EOF)
        throwLastError();
    for (DWORD put = 0; put < got;) {
        OVERLAPPED to = at(offset + put);
        DWORD wrote = 0;
        if (!::WriteFile(handleOf(out), piece + put, got - put, &wrote, &to))
            throwLastError();
        put += wrote;
    }
    return got;
}

// Sparse files are copied whole here: their size is what they take.
std::optional<std::pair<std::int64_t, std::int64_t>>
Win32CopyPrimitives::nextData(const CopySource& source, std::int64_t at) {
    return std::pair(at, source.facts.size);
}

void Win32CopyPrimitives::punchHole(OsHandle&, std::int64_t, std::int64_t) {}

bool Win32CopyPrimitives::readsAt(const CopySource& source, std::int64_t offset) {
    char probe;
    OVERLAPPED from = at(offset);
    DWORD got = 0;
    return ::ReadFile(handleOf(source.file), &probe, 1, &got, &from) && got > 0;
}

FileFacts Win32CopyPrimitives::sourceNow(const CopySource& source) {
    return factsOf(handleOf(source.file));
}

std::error_code Win32CopyPrimitives::takeTime(OsHandle& out, const CopySource& source) {
    const auto modified = static_cast<std::uint64_t>(source.facts.modified);
    const FILETIME time{static_cast<DWORD>(modified), static_cast<DWORD>(modified >> 32)};
    return ::SetFileTime(handleOf(out), nullptr, nullptr, &time) ? std::error_code() : lastError();
}

// The source's named streams, its Zone.Identifier among them, as the system's own copy carries
// them; each opened by its name relative to the open files, so that no path is resolved again.
std::error_code Win32CopyPrimitives::carryStreams(OsHandle& out, const CopySource& source) {
    std::vector<std::byte> list(4096);
    while (!::GetFileInformationByHandleEx(handleOf(source.file), FileStreamInfo, list.data(),
                                           static_cast<DWORD>(list.size()))) {
        const DWORD error = ::GetLastError();
        // A file system without streams (FAT, many shares) has none to carry.
        if (error == ERROR_HANDLE_EOF || error == ERROR_INVALID_PARAMETER ||
            error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED)
            return {};
        if (error != ERROR_MORE_DATA || list.size() >= kPiece)
            return lastError();
        list.resize(list.size() * 4);
    }
    std::vector<std::wstring> names;
    for (std::size_t at = 0;;) {
        const auto* entry = reinterpret_cast<const FILE_STREAM_INFO*>(list.data() + at);
        std::wstring name(entry->StreamName, entry->StreamNameLength / sizeof(wchar_t));
        if (name != L"::$DATA")
            names.push_back(std::move(name));
        if (entry->NextEntryOffset == 0)
            break;
        at += entry->NextEntryOffset;
    }
    if (names.empty())
        return {};
    // Where the target's volume has no streams, its file takes the main one alone, as the
    // system's own copy does.
    DWORD features = 0;
    if (!::GetVolumeInformationByHandleW(handleOf(out), nullptr, 0, nullptr, nullptr, &features,
                                         nullptr, 0))
        return lastError();
    if (!(features & FILE_NAMED_STREAMS))
        return {};
    // A file marked for deletion opens no stream: the mark is off while they are made.
    if (!setDeleted(handleOf(out), false))
        return lastError();
    std::error_code error;
    for (const std::wstring& name : names)
        if ((error = copyStream(source, out, name)))
            break;
    if (!setDeleted(handleOf(out), true) && !error)
        error = lastError();
    return error;
}

std::error_code Win32CopyPrimitives::copyStream(const CopySource& source, OsHandle& out,
                                                const std::wstring& name) {
    const OsHandle from = openIn(source.file, name, FILE_READ_DATA, kShareAll,
                                 FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY);
    if (!from.valid())
        return lastError();
    const OsHandle to =
        openIn(out.get(), name, GENERIC_WRITE, 0, FILE_NON_DIRECTORY_FILE, FILE_OVERWRITE_IF);
    if (!to.valid())
        return lastError();
    for (DWORD got = 0, wrote = 0;;) {
        if (!::ReadFile(handleOf(from), buffer(), kPiece, &got, nullptr))
            return lastError();
        if (got == 0)
            return {};
        if (!::WriteFile(handleOf(to), buffer(), got, &wrote, nullptr))
            return lastError();
    }
}

std::optional<FileFacts> Win32CopyPrimitives::holdAgain(CopyTarget& target) {
    target.file = openTarget(target, READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll);
    if (!target.file.valid())
        return std::nullopt;
    return factsOf(handleOf(target.file));
}

// Shared with no one: a file another program reads is never written over under it. The
// hold is let go first, as it would stand in the way too; the opened file's number is checked.
OsHandle Win32CopyPrimitives::openInPlace(CopyTarget& target, FileFacts& opened) {
    target.file.reset();
    OsHandle out = openIn(target.folder, target.name, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0,
                          FILE_OPEN_REPARSE_POINT | FILE_NON_DIRECTORY_FILE);
    if (!out.valid() && ::GetLastError() == ERROR_SHARING_VIOLATION)
        throw PlatformError::refused(Refusal::Busy);
    if (!out.valid())
        throwLastError();
    opened = factsOf(handleOf(out));
    return out;
}

// An allocation below the end of the file would move the end down and cut the old content
// before the new is written: it is only ever grown. A compressed or sparse file takes its space
// as it is written, so nothing it is given counts.
bool Win32CopyPrimitives::reserve(OsHandle& out, std::int64_t size) {
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    if (!::GetFileInformationByHandleEx(handleOf(out), FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileInformationByHandleEx(handleOf(out), FileStandardInfo, &standard,
                                        sizeof standard) ||
        basic.FileAttributes & (FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_SPARSE_FILE))
        return false;
    if (standard.AllocationSize.QuadPart >= size)
        return true;
    FILE_ALLOCATION_INFO reserve{};
    reserve.AllocationSize.QuadPart = size;
    return ::SetFileInformationByHandle(handleOf(out), FileAllocationInfo, &reserve,
                                        sizeof reserve);
}

std::int64_t Win32CopyPrimitives::freeSpace(OsHandle& out) {
    const std::optional<std::wstring> path = finalPathOf(handleOf(out));
    ULARGE_INTEGER free{};
    if (!path || !::GetDiskFreeSpaceExW(path->substr(0, path->find_last_of(L'\\') + 1).c_str(),
                                        &free, nullptr, nullptr))
        throwLastError();
    return static_cast<std::int64_t>(
        std::min<std::uint64_t>(free.QuadPart, std::numeric_limits<std::int64_t>::max()));
}

void Win32CopyPrimitives::setLength(OsHandle& out, std::int64_t size) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    if (!::SetFileInformationByHandle(handleOf(out), FileEndOfFileInfo, &end, sizeof end))
        throwLastError();
}

// As the platform's own copy, nothing is flushed (a flush here is per file, at a price per
// target).
void Win32CopyPrimitives::syncData(OsHandle&) {}

void Win32CopyPrimitives::wrote(const CopyTarget&, OsHandle&) {}

// Asked of the folder's security, never by a trial file.
bool Win32CopyPrimitives::folderTakesNewFiles(const CopyTarget& target) {
    // The held folder itself, opened again to read its permissions.
    const OsHandle folder(reinterpret_cast<OsHandle::Native>(::ReOpenFile(
        handleOf(target.folder), READ_CONTROL, kShareAll, FILE_FLAG_BACKUP_SEMANTICS)));
    if (!folder.valid())
        throwLastError();
    PSECURITY_DESCRIPTOR security = nullptr;
    const DWORD what =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (const DWORD error = ::GetSecurityInfo(handleOf(folder), SE_FILE_OBJECT, what, nullptr,
                                              nullptr, nullptr, nullptr, &security);
        error != ERROR_SUCCESS)
        throw PlatformError::fromWin32(error);
    const std::unique_ptr<void, decltype(&::LocalFree)> held(security, &::LocalFree);
    return granted(handleOf(token().impersonation), security, FILE_ADD_FILE);
}

bool Win32CopyPrimitives::folderKeepsEncrypted(const CopyTarget& target) {
    DWORD features = 0;
    return ::GetVolumeInformationByHandleW(handleOf(target.folder), nullptr, 0, nullptr, nullptr,
                                           &features, nullptr, 0) &&
           features & FILE_SUPPORTS_ENCRYPTION;
}

// Where the target may not be deleted, nothing may be renamed over it either.
bool Win32CopyPrimitives::folderKeepsName(const CopyTarget& target) {
    return deleteRefusal(target) == ERROR_ACCESS_DENIED;
}

// Names compare without regard to case, as Windows does.
std::string Win32CopyPrimitives::placeKey(const CopyTarget& target) {
    std::wstring key = target.folderPath + target.name;
    ::CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
    return std::string(reinterpret_cast<const char*>(key.data()), key.size() * sizeof(wchar_t));
}
