#include "platform/win32/Win32CopyPrimitives.h"

#include "platform/PlatformError.h"
#include "platform/win32/Win32Io.h"

#include <aclapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

// In ntdll; not in the headers the build has.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK,
                                               PVOID, ULONG, FILE_INFORMATION_CLASS, BOOLEAN,
                                               PUNICODE_STRING, BOOLEAN);

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
constexpr ULONG kRemoteDevice = 0x10;       // FILE_REMOTE_DEVICE, a driver kit name
constexpr DWORD kPosixUnlinkRename = 0x400; // FILE_SUPPORTS_POSIX_UNLINK_RENAME
const auto kDispositionInformationEx = static_cast<FILE_INFORMATION_CLASS>(64);
constexpr ULONG kDispositionDelete = 0x1, kDispositionOnClose = 0x8;
const auto kNamesInformation = static_cast<FILE_INFORMATION_CLASS>(12);
const auto kNetworkOpenInformation = static_cast<FILE_INFORMATION_CLASS>(34);

// A driver kit's, not in the headers the build has.
struct NamesInformation {
    ULONG next, index, length;
    WCHAR name[1];
};
struct NetworkOpenInformation {
    LARGE_INTEGER created, accessed, written, changed, allocated, end;
    ULONG attributes;
};

OsHandle openHandle(const std::wstring& path, DWORD access, DWORD share, DWORD flags,
                    DWORD disposition = OPEN_EXISTING) {
    return ownHandle(
        ::CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr));
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
        return ownHandle(file);
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

std::error_code win32Error(DWORD error) {
    return {static_cast<int>(error), std::system_category()};
}

std::error_code lastError() {
    return win32Error(::GetLastError());
}

std::error_code notSupported() {
    return std::make_error_code(std::errc::not_supported);
}

std::int64_t ticks(const FILETIME& time) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                     time.dwLowDateTime);
}

FILETIME fileTime(const LARGE_INTEGER& ticks) {
    return {static_cast<DWORD>(ticks.LowPart), static_cast<DWORD>(ticks.HighPart)};
}

// A file's attributes, times and size in the one query the file system answers for them
// (FileNetworkOpenInformation), with its change time where given; else as
// GetFileInformationByHandle reads them, without one.
bool describe(HANDLE file, BY_HANDLE_FILE_INFORMATION& info, std::int64_t* changed = nullptr) {
    NetworkOpenInformation open{};
    IO_STATUS_BLOCK io{};
    if (::NtQueryInformationFile(file, &io, &open, sizeof open, kNetworkOpenInformation) < 0)
        return ::GetFileInformationByHandle(file, &info);
    if (changed)
        *changed = open.changed.QuadPart;
    info = {};
    info.dwFileAttributes = open.attributes;
    info.ftCreationTime = fileTime(open.created);
    info.ftLastWriteTime = fileTime(open.written);
    info.nFileSizeHigh = static_cast<DWORD>(open.end.HighPart);
    info.nFileSizeLow = open.end.LowPart;
    return true;
}

// Whether an open path names a file on a drive or a share, which needs no asking for its type:
// any other (a device, a pipe, a volume's own name) answers few queries.
bool onDisk(const std::wstring& path) {
    return (path.size() > 6 && path.starts_with(LR"(\\?\)") && path[5] == L':' &&
            path[6] == L'\\') ||
           path.starts_with(LR"(\\?\UNC\)");
}

// The facts of a file on disk but its number; one that is not a folder is regular.
FileFacts factsOf(const BY_HANDLE_FILE_INFORMATION& info) {
    FileFacts facts;
    const DWORD bits = info.dwFileAttributes;
    facts.kind = bits & FILE_ATTRIBUTE_DIRECTORY ? FileKind::Folder : FileKind::Regular;
    facts.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                           info.nFileSizeLow);
    facts.allocated = facts.size;
    facts.modified = ticks(info.ftLastWriteTime);
    facts.created = ticks(info.ftCreationTime);
    facts.readOnly = bits & FILE_ATTRIBUTE_READONLY;
    facts.hidden = bits & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    facts.encrypted = bits & FILE_ATTRIBUTE_ENCRYPTED;
    facts.permissions = bits;
    return facts;
}

// The facts of an open file on disk.
FileFacts factsOf(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info) {
    FileFacts facts = factsOf(info);
    facts.identity = identityOf(file, info);
    return facts;
}

// A device or a pipe answers few queries, so its type is asked first unless `disk`.
Result<FileFacts> factsOf(HANDLE file, bool disk = false) {
    if (!disk && ::GetFileType(file) != FILE_TYPE_DISK)
        return FileFacts();
    BY_HANDLE_FILE_INFORMATION info{};
    std::int64_t changed = 0;
    if (!describe(file, info, &changed))
        return lastError();
    FileFacts facts = factsOf(file, info);
    facts.changed = changed;
    return facts;
}

// Facts to look at: nothing when they cannot be had.
// The facts of what a name opened; nothing where the name holds nothing.
Result<std::optional<FileFacts>> factsFound(const OsHandle& file) {
    if (!file.valid()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return std::optional<FileFacts>();
        return lastError();
    }
    Result<FileFacts> facts = factsOf(handleOf(file));
    if (facts.error())
        return facts.error();
    return std::optional(*facts);
}

// The owner SID of an open file, as bytes.
Result<std::vector<std::byte>> ownerOf(HANDLE file) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR security = nullptr;
    if (const DWORD error = ::GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                              &owner, nullptr, nullptr, nullptr, &security);
        error != ERROR_SUCCESS)
        return win32Error(error);
    const std::unique_ptr<void, decltype(&::LocalFree)> held(security, &::LocalFree);
    const auto* bytes = static_cast<const std::byte*>(owner);
    return std::vector<std::byte>(bytes, bytes + ::GetLengthSid(owner));
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

bool inDeviceForm(const std::wstring& path) {
    return path.starts_with(LR"(\\.\)");
}

// Whether a "\\.\" name is a device, a pipe or a whole volume: a file on disk (\\.\C:\dir\f)
// answers a file's queries. A name that opens nothing may name a new file.
bool isDevice(const std::wstring& path) {
    if (!inDeviceForm(path))
        return false;
    const OsHandle file = openHandle(path, FILE_READ_ATTRIBUTES, kShareAll,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (!file.valid())
        return !PlatformError::fromCode(lastError()).isNotFound();
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileType(handleOf(file)) != FILE_TYPE_DISK ||
           !::GetFileInformationByHandle(handleOf(file), &info);
}

// A path as the system resolves it, once: "." and ".." taken, trailing dots and spaces cut
// from the last name, in the "\\?\" form that later calls take literally and without the
// MAX_PATH limit. A device keeps its own form ("\\.\NUL").
Result<std::wstring> normalPath(const std::wstring& path) {
    std::wstring full = longPathOrNone(path);
    if (full.empty())
        return lastError();
    return full;
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
Result<std::vector<std::byte>> tokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what) {
    std::vector<std::byte> answer(64);
    for (DWORD needed = 0; !::GetTokenInformation(token, what, answer.data(),
                                                  static_cast<DWORD>(answer.size()), &needed);
         answer.resize(needed))
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return lastError();
    return answer;
}

// What a replaced file keeps of its security descriptor.
constexpr SECURITY_INFORMATION kKept = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// The entries of a DACL, each as its bytes, in order; those it inherited only if asked.
std::vector<std::string_view> entriesOf(const ACL& dacl, bool inherited) {
    std::vector<std::string_view> entries;
    const char* at = reinterpret_cast<const char*>(&dacl) + sizeof(ACL);
    for (WORD i = 0; i < dacl.AceCount; ++i) {
        const auto* header = reinterpret_cast<const ACE_HEADER*>(at);
        if (inherited || !(header->AceFlags & INHERITED_ACE))
            entries.emplace_back(at, header->AceSize);
        at += header->AceSize;
    }
    return entries;
}

// Whether two descriptors hold the same owner, the same protection from inheritance and the
// same DACL entries of their own, byte for byte; inherited entries too where the DACL is
// protected, since an unprotected one takes them from its folder as it is now.
bool sameSecurity(PSECURITY_DESCRIPTOR one, PSECURITY_DESCRIPTOR other) {
    PSID owner[2] = {};
    BOOL ownerDefaulted = FALSE;
    if (!::GetSecurityDescriptorOwner(one, &owner[0], &ownerDefaulted) ||
        !::GetSecurityDescriptorOwner(other, &owner[1], &ownerDefaulted) || !owner[0] ||
        !owner[1] || !::EqualSid(owner[0], owner[1]))
        return false;
    BOOL present[2] = {}, defaulted = FALSE;
    PACL dacl[2] = {};
    SECURITY_DESCRIPTOR_CONTROL control[2] = {};
    DWORD revision = 0;
    const PSECURITY_DESCRIPTOR both[2] = {one, other};
    for (int i = 0; i < 2; ++i)
        if (!::GetSecurityDescriptorDacl(both[i], &present[i], &dacl[i], &defaulted) ||
            !::GetSecurityDescriptorControl(both[i], &control[i], &revision))
            return false;
    const bool isProtected = control[0] & SE_DACL_PROTECTED;
    if (present[0] != present[1] || isProtected != ((control[1] & SE_DACL_PROTECTED) != 0) ||
        !dacl[0] != !dacl[1])
        return false;
    return !dacl[0] || entriesOf(*dacl[0], isProtected) == entriesOf(*dacl[1], isProtected);
}

// Takes the name by handle: no path is resolved a second time.
std::error_code renameByHandle(HANDLE out, const CopyTarget& target, DWORD flags, bool remote) {
    // Named relative to the held folder, which needs no path of it that every folder on the
    // way lets be read. A share takes no folder handle with a rename: there, the full path.
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
    IO_STATUS_BLOCK io{};
    const FILE_INFORMATION_CLASS kind =
        flags & kRenamePosix ? kRenameInformationEx : FileRenameInformation;
    const NTSTATUS status =
        ::NtSetInformationFile(out, &io, info, static_cast<ULONG>(buffer.size()), kind);
    return status < 0 ? win32Error(::RtlNtStatusToDosError(status)) : std::error_code();
}

// The named temporary files that nothing deletes should the process end (a file system whose
// delete on close cannot be cleared). A stop from the console (Ctrl+C, Ctrl+Break, the console
// closed) marks each for deletion and lets the process end as it would have; the lock stays
// taken, so that no such file takes a target's name after the stop.
SRWLOCK g_liveLock = SRWLOCK_INIT;
std::vector<HANDLE> g_live;

BOOL WINAPI onConsoleStop(DWORD) {
    ::AcquireSRWLockExclusive(&g_liveLock);
    for (const HANDLE file : g_live)
        if (setAttributes(file, FILE_ATTRIBUTE_HIDDEN))
            setDeleted(file, true);
    return FALSE;
}

void addLive(HANDLE file) {
    static std::once_flag caught;
    std::call_once(caught, [] { ::SetConsoleCtrlHandler(onConsoleStop, TRUE); });
    ::AcquireSRWLockExclusive(&g_liveLock);
    g_live.push_back(file);
    ::ReleaseSRWLockExclusive(&g_liveLock);
}

// Whether the file was live; with `lock`, the lock is left taken.
bool removeLive(HANDLE file, bool lock = false) {
    ::AcquireSRWLockExclusive(&g_liveLock);
    const auto found = std::ranges::find(g_live, file);
    const bool live = found != g_live.end();
    if (live)
        g_live.erase(found);
    if (!(lock && live))
        ::ReleaseSRWLockExclusive(&g_liveLock);
    return live;
}

bool isLive(HANDLE file) {
    ::AcquireSRWLockShared(&g_liveLock);
    const bool live = std::ranges::find(g_live, file) != g_live.end();
    ::ReleaseSRWLockShared(&g_liveLock);
    return live;
}

// A file system or system without that class says so in one of these ways (Wine: not
// implemented; before Windows 10 1809: an unknown flag or class).
bool refusesClass(const std::error_code& error) {
    return error.value() == ERROR_INVALID_FUNCTION || error.value() == ERROR_INVALID_PARAMETER ||
           error.value() == ERROR_NOT_SUPPORTED;
}

// How much a flush writes (learn.microsoft.com/windows-hardware/drivers/ddi/ntifs/
// nf-ntifs-ntflushbuffersfileex): the data alone, or data and metadata, both without the device's
// cache; 0 writes both and flushes that cache too.
constexpr ULONG kFlushDataOnly = 0x1, kFlushNoSync = 0x2, kFlushAll = 0;

using FlushBuffersFileEx = NTSTATUS(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PIO_STATUS_BLOCK);

// Not in Wine, nor before Windows 8, so looked up rather than linked.
FlushBuffersFileEx flushBuffersFileEx() {
    static const auto found = reinterpret_cast<FlushBuffersFileEx>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtFlushBuffersFileEx")));
    return found;
}

// Flushes as `flags` say; where the system or the file system has no such flush (older
// systems, some shares, Wine), FlushFileBuffers writes all of it, the device's cache included.
std::error_code flush(HANDLE file, ULONG flags) {
    if (const FlushBuffersFileEx flushEx = flushBuffersFileEx()) {
        IO_STATUS_BLOCK io{};
        const NTSTATUS status = flushEx(file, flags, nullptr, 0, &io);
        if (status >= 0)
            return {};
        if (const std::error_code error = win32Error(::RtlNtStatusToDosError(status));
            !refusesClass(error))
            return error;
    }
    return ::FlushFileBuffers(file) ? std::error_code() : lastError();
}

} // namespace

Result<CopySource> Win32CopyPrimitives::openSource(const HostString& given) {
    CopySource source;
    Result<std::wstring> path = normalPath(given);
    if (path.error())
        return path.error();
    // A device is no file on disk; opened, it could wait for input.
    if (isDevice(*path))
        return source;
    source.owned = openHandle(*path, GENERIC_READ, kShareAll, FILE_FLAG_SEQUENTIAL_SCAN);
    if (!source.owned.valid())
        return lastError();
    source.file = source.owned.get();
    Result<FileFacts> facts = factsOf(handleOf(source.file), onDisk(*path));
    if (facts.error())
        return facts.error();
    source.facts = *facts;
    return source;
}

std::error_code Win32CopyPrimitives::lookUp(const HostString& given, CopyTarget& target) {
    // Every later name is taken from this one form, so that it lands where the system's own
    // copy would put it and the dry run keys it alike; every later open is made in the folder
    // held here.
    Result<std::wstring> normal = normalPath(given);
    if (normal.error())
        return normal.error();
    const std::wstring& path = *normal;
    target.given = path;
    const std::size_t cut = path.find_last_of(L"\\/") + 1;
    // A device is there, and no file on disk; a last part holding ':' names a stream.
    if (isDevice(path) || path.find(L':', cut) != std::wstring::npos) {
        target.name = path;
        target.present = true;
        return {};
    }
    // Held with no more than it takes to be held: a folder may let files be added to it by
    // those it does not let read its permissions.
    target.ownFolder = openHandle(path.substr(0, cut), FILE_READ_ATTRIBUTES, kShareAll,
                                  FILE_FLAG_BACKUP_SEMANTICS);
    if (!target.ownFolder.valid())
        return lastError();
    target.folder = target.ownFolder.get();
    target.folderPath = path.substr(0, cut);
    if (const std::optional<std::wstring> final = finalPathOf(handleOf(target.folder)))
        target.folderPath = *final + (final->ends_with(L'\\') ? L"" : L"\\");
    target.name = path.substr(cut);
    // On a share, opens relative to the folder travel as paths, so only the server can pin it:
    // held sharing no delete, which the server enforces; as held above where that is refused.
    if (placeOf(target).remote) {
        OsHandle pinned = openIn(target.folder, {}, FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT);
        if (pinned.valid()) {
            target.ownFolder = std::move(pinned);
            target.folder = target.ownFolder.get();
        }
    }
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
        const std::error_code error = lastError();
        return PlatformError::fromCode(error).isNotFound() ? std::error_code() : error;
    }
    target.present = true;
    const HANDLE found = handleOf(target.file);
    if (!onDisk(path) && ::GetFileType(found) != FILE_TYPE_DISK)
        return {};
    BY_HANDLE_FILE_INFORMATION info{};
    if (!describe(found, info))
        return lastError();
    // Whether a reparse point is a link is for its tag to say.
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT &&
        !::GetFileInformationByHandleEx(found, FileAttributeTagInfo, &tag, sizeof tag))
        return lastError();
    described(info, tag.ReparseTag);
    target.facts = factsOf(found, info);
    target.facts.reparseTag = tag.ReparseTag;
    if (IsReparseTagNameSurrogate(tag.ReparseTag)) {
        target.file.reset();
        return {};
    }
    if (target.facts.kind != FileKind::Regular)
        return {};
    // The name as the folder holds it (case, long form): the new file takes it over. Where the
    // system names the file as it was opened (a share), a short name stays short: the folder's
    // listing gives the long one.
    if (std::optional<std::wstring> final = finalPathOf(handleOf(target.file))) {
        named(*final);
        target.name = final->substr(final->find_last_of(L'\\') + 1);
    }
    if (target.name.find(L'~') != std::wstring::npos)
        target.name = longName(target);
    return {};
}

// The long name of the target as its folder lists it, matched by the name given (a short name
// matches too); the name given where the folder cannot be listed
// (learn.microsoft.com/windows/win32/fileio/naming-a-file#short-vs-long-names).
std::wstring Win32CopyPrimitives::longName(const CopyTarget& target) {
    const OsHandle folder = openIn(target.folder, {}, FILE_LIST_DIRECTORY, kShareAll,
                                   FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT);
    alignas(8) std::byte listed[sizeof(NamesInformation) + MAX_PATH * sizeof(wchar_t)];
    const auto bytes = static_cast<USHORT>(target.name.size() * sizeof(wchar_t));
    UNICODE_STRING pattern{bytes, bytes, const_cast<PWSTR>(target.name.c_str())};
    IO_STATUS_BLOCK io{};
    if (!folder.valid() ||
        ::NtQueryDirectoryFile(handleOf(folder), nullptr, nullptr, nullptr, &io, listed,
                               sizeof listed, kNamesInformation, TRUE, &pattern, TRUE) < 0)
        return target.name;
    const auto* entry = reinterpret_cast<const NamesInformation*>(listed);
    return std::wstring(entry->name, entry->length / sizeof(wchar_t));
}

// As the file system compares names: ignoring case.
bool Win32CopyPrimitives::sameName(const HostString& one, const HostString& other) {
    return ::CompareStringOrdinal(one.c_str(), static_cast<int>(one.size()), other.c_str(),
                                  static_cast<int>(other.size()), TRUE) == CSTR_EQUAL;
}

Result<std::optional<HostString>> Win32CopyPrimitives::finalPath(const HostString& path,
                                                                 std::vector<LinkMet>& met) {
    Result<std::wstring> normal = normalPath(path);
    if (normal.error())
        return normal.error();
    const OsHandle file = openHandle(*normal, FILE_READ_ATTRIBUTES | READ_CONTROL, kShareAll,
                                     FILE_FLAG_BACKUP_SEMANTICS);
    if (!file.valid()) {
        const std::error_code error = lastError();
        if (PlatformError::fromCode(error).isNotFound())
            return std::optional<HostString>();
        return error;
    }
    std::optional<std::wstring> final = finalPathOf(handleOf(file));
    if (!final)
        return lastError();
    // The link itself, and who owns it and what it leads to. Links in the folders on the way
    // are resolved by the system, unseen.
    const OsHandle link = openHandle(*normal, READ_CONTROL, kShareAll,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    Result<const Token*> mine = token();
    if (mine.error())
        return mine.error();
    Result<std::vector<std::byte>> linkOwner = ownerOf(handleOf(link.get()));
    Result<std::vector<std::byte>> finalOwner = ownerOf(handleOf(file.get()));
    if (linkOwner.error() || finalOwner.error())
        return linkOwner.error() ? linkOwner.error() : finalOwner.error();
    met.push_back({.mine = (*mine)->owns(linkOwner->data()),
                   .toOwnersOwn = ::EqualSid(linkOwner->data(), finalOwner->data()) != FALSE});
    return final;
}

// A sharing violation is another program's open that shares no writing, or a running program's
// image.
Result<bool> Win32CopyPrimitives::mayWrite(const CopyTarget& target) {
    const OsHandle writable =
        openIn(target.folder, target.name, FILE_WRITE_DATA, kShareAll, FILE_OPEN_REPARSE_POINT);
    if (writable.valid())
        return true;
    if (::GetLastError() == ERROR_ACCESS_DENIED)
        return false;
    if (::GetLastError() == ERROR_SHARING_VIOLATION)
        return std::make_error_code(std::errc::device_or_resource_busy);
    return lastError();
}

Result<bool> Win32CopyPrimitives::plantedInSharedFolder(const CopyTarget&) {
    return false; // no folders of that kind here
}

// A new file can be given its user's own SID or the token's default owner; any other owner,
// the replaced file would lose.
Result<bool> Win32CopyPrimitives::mayKeepOwner(const CopyTarget& target) {
    Result<std::vector<std::byte>> owner = ownerOf(handleOf(target.file));
    if (owner.error())
        return owner.error();
    Result<const Token*> mine = token();
    if (mine.error())
        return mine.error();
    return (*mine)->owns(owner->data());
}

// The user's own SID, or the token's default owner (Administrators when elevated), which owns
// what the user makes (learn.microsoft.com/windows/win32/secauthz/owner-of-a-new-object): a
// link an elevated administrator made is that user's own.
bool Win32CopyPrimitives::Token::owns(PSID owner) const {
    return ::EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid) ||
           ::EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(defaultOwner.data())->Owner);
}

// Read once: a process's token does not change who it is.
Result<const Win32CopyPrimitives::Token*> Win32CopyPrimitives::token() {
    if (m_token)
        return &*m_token;
    HANDLE process = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &process))
        return lastError();
    const OsHandle processToken = ownHandle(process);
    Result<std::vector<std::byte>> user = tokenInformation(process, TokenUser);
    if (user.error())
        return user.error();
    Result<std::vector<std::byte>> owner = tokenInformation(process, TokenOwner);
    if (owner.error())
        return owner.error();
    return &m_token.emplace(Token{std::move(*user), std::move(*owner)});
}

Result<KeptFacts> Win32CopyPrimitives::readKept(const CopyTarget& target) {
    PSECURITY_DESCRIPTOR security = nullptr;
    if (const DWORD error = ::GetSecurityInfo(handleOf(target.file), SE_FILE_OBJECT, kKept, nullptr,
                                              nullptr, nullptr, nullptr, &security);
        error != ERROR_SUCCESS)
        return win32Error(error);
    KeptFacts kept;
    kept.hasAcl = true;
    kept.acl.assign(static_cast<const char*>(security), ::GetSecurityDescriptorLength(security));
    ::LocalFree(security);
    return kept;
}

// What the system's own replace keeps: the target's compression and those of its named streams
// the new file lacks (the source's, carried with the content, win where names meet), then the
// owner and DACL, protected from inheritance or not as they were, and read back: a descriptor
// that does not come back with them counts as not carried. Set as files take it (not
// SetKernelObjectSecurity), an unprotected DACL's inherited entries are its folder's of now
// (learn.microsoft.com/windows/win32/secauthz/automatic-propagation-of-inheritable-aces).
Result<bool> Win32CopyPrimitives::carryKept(NewFile& file, const CopyTarget& target,
                                            const KeptFacts& kept) {
    const HANDLE out = handleOf(file.file);
    // learn.microsoft.com/windows/win32/api/winioctl/ni-winioctl-fsctl_set_compression
    USHORT format = COMPRESSION_FORMAT_DEFAULT;
    DWORD returned = 0;
    if (target.facts.permissions & FILE_ATTRIBUTE_COMPRESSED &&
        !::DeviceIoControl(out, FSCTL_SET_COMPRESSION, &format, sizeof format, nullptr, 0,
                           &returned, nullptr))
        return lastError();
    if (placeOf(target).features & FILE_NAMED_STREAMS)
        if (const std::error_code error = copyStreams(target.file.get(), file.file, true))
            return error;
    if (!kept.hasAcl)
        return true;
    auto security = const_cast<char*>(kept.acl.data());
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!::GetSecurityDescriptorOwner(security, &owner, &defaulted) ||
        !::GetSecurityDescriptorDacl(security, &present, &dacl, &defaulted) ||
        !::GetSecurityDescriptorControl(security, &control, &revision))
        return false;
    const SECURITY_INFORMATION inheritance = control & SE_DACL_PROTECTED
                                                 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                 : UNPROTECTED_DACL_SECURITY_INFORMATION;
    if (::SetSecurityInfo(out, SE_FILE_OBJECT, kKept | inheritance, owner, nullptr, dacl,
                          nullptr) != ERROR_SUCCESS)
        return false;
    std::vector<char> back(kept.acl.size());
    for (DWORD needed = 0; !::GetKernelObjectSecurity(out, kKept, back.data(),
                                                      static_cast<DWORD>(back.size()), &needed);
         back.resize(needed))
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return false;
    return sameSecurity(security, back.data());
}

Result<NewFile> Win32CopyPrimitives::createAnonymous(const CopyTarget&, std::uint32_t) {
    return notSupported(); // Windows files have names; a delete disposition stands in
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

// Whether the system deletes the file when its last handle closes, set without making its
// delete pending: every call stays allowed on the handle until then. Set or cleared only
// through this class
// (learn.microsoft.com/windows-hardware/drivers/ddi/ntddk/ns-ntddk-_file_disposition_information_ex).
std::error_code Win32CopyPrimitives::setDeleteOnClose(HANDLE file, bool deleted) {
    ULONG flags = kDispositionOnClose | (deleted ? kDispositionDelete : 0);
    IO_STATUS_BLOCK io{};
    const NTSTATUS status =
        ::NtSetInformationFile(file, &io, &flags, sizeof flags, kDispositionInformationEx);
    return status < 0 ? win32Error(::RtlNtStatusToDosError(status)) : std::error_code();
}

// Every live temporary file is held sharing nothing, which binds other machines on a share too:
// one that opens for delete sharing all is nobody's, left by a power cut, a crash or a stick
// pulled out, and goes. Once per folder and run.
void Win32CopyPrimitives::removeLeftovers(const CopyTarget& target) {
    if (m_cleared.size() >= 4096)
        m_cleared.clear();
    if (!m_cleared.insert(target.folderPath).second)
        return;
    const OsHandle folder = openIn(target.folder, {}, FILE_LIST_DIRECTORY, kShareAll,
                                   FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT);
    const std::wstring ours = m_prefix + L"*.tmp";
    const auto bytes = static_cast<USHORT>(ours.size() * sizeof(wchar_t));
    UNICODE_STRING pattern{bytes, bytes, const_cast<PWSTR>(ours.c_str())};
    IO_STATUS_BLOCK io{};
    for (BOOLEAN first = TRUE;
         folder.valid() &&
         ::NtQueryDirectoryFile(handleOf(folder), nullptr, nullptr, nullptr, &io, buffer(), kPiece,
                                kNamesInformation, FALSE, first ? &pattern : nullptr, first) >= 0;
         first = FALSE)
        for (std::size_t at = 0;;) {
            const auto* entry = reinterpret_cast<const NamesInformation*>(buffer() + at);
            const OsHandle left =
                openIn(target.folder, std::wstring(entry->name, entry->length / sizeof(wchar_t)),
                       DELETE | FILE_WRITE_ATTRIBUTES, kShareAll,
                       FILE_OPEN_REPARSE_POINT | FILE_NON_DIRECTORY_FILE);
            if (left.valid() && setAttributes(handleOf(left), FILE_ATTRIBUTE_HIDDEN))
                setDeleted(handleOf(left), true);
            if (entry->next == 0)
                break;
            at += entry->next;
        }
}

// Hidden, as a leading dot does not make it here, and deleted by the system should the process
// die before the rename: created to be deleted on close, which only FileDispositionInformationEx
// can clear. Its delete is never pending, so that every later call on it is allowed. Where the
// file system refuses that class (FAT, exFAT, older systems), which the first new file in a
// folder asks, the file is kept under its name, removed on failure and by a stop from the console.
Result<NewFile> Win32CopyPrimitives::createNamed(const CopyTarget& target, const HostString& name,
                                                 std::uint32_t permissions, bool encrypted) {
    if (const std::error_code error = failure(HostCall::CreateTemporary))
        return error;
    std::atomic<int>& clears = placeOf(target).clearsDeleteOnClose;
    NewFile file;
    for (;;) {
        const bool onClose = clears != 0;
        file.file =
            openIn(target.folder, name,
                   GENERIC_WRITE | DELETE | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES, 0,
                   FILE_NON_DIRECTORY_FILE | (onClose ? FILE_DELETE_ON_CLOSE : 0), FILE_CREATE,
                   FILE_ATTRIBUTE_HIDDEN | (encrypted ? FILE_ATTRIBUTE_ENCRYPTED : 0));
        if (!file.file.valid())
            return lastError();
        if (!onClose) {
            addLive(handleOf(file.file));
            break;
        }
        if (clears == 1)
            break;
        // Cleared, as the rename needs it, and set again: a file system or a filter may take
        // one and refuse the other.
        std::error_code error = setDeleteOnClose(handleOf(file.file), false);
        if (!error)
            error = setDeleteOnClose(handleOf(file.file), true);
        if (!error) {
            clears = 1;
            break;
        }
        setDeleted(handleOf(file.file), true); // whichever of the two held
        file.file.reset();
        if (!refusesClass(error))
            return error;
        clears = 0;
    }
    // Asked to be encrypted, it may still be plain: a file system without encryption, or a
    // process without a key.
    FILE_BASIC_INFO made{};
    file.encrypted =
        encrypted &&
        ::GetFileInformationByHandleEx(handleOf(file.file), FileBasicInfo, &made, sizeof made) &&
        made.FileAttributes & FILE_ATTRIBUTE_ENCRYPTED;
    file.name = name;
    file.attributes = permissions & kCarried;
    // A replaced file keeps its creation time, as the system's own replace does.
    if (target.present)
        file.created = target.facts.created;
    return file;
}

std::error_code Win32CopyPrimitives::linkAnonymous(NewFile&, const CopyTarget&, const HostString&) {
    return std::make_error_code(std::errc::not_supported);
}

// The file shows with its own attributes, and stops being deleted on close, only now: its
// attributes and creation time (read-only last: Wine can no longer change the other attributes
// of a file that is read-only to its Unix owner), then the clear, then the rename. Hidden and
// deleted on close again when the rename fails, so that it may be tried again.
std::error_code Win32CopyPrimitives::rename(NewFile& file, const CopyTarget& target, DWORD flags) {
    const HANDLE out = handleOf(file.file);
    const bool kept = isLive(out);
    std::error_code error = failure(HostCall::SetAttributes);
    if (!error &&
        !(setAttributes(out, file.attributes & ~FILE_ATTRIBUTE_READONLY, file.created) &&
          (!(file.attributes & FILE_ATTRIBUTE_READONLY) || setAttributes(out, file.attributes))))
        error = lastError();
    if (!error && !kept)
        error = setDeleteOnClose(out, false);
    if (!error)
        error = failure(HostCall::Rename);
    // A kept file leaves the console's stop only once it is the target.
    const bool locked = !error && kept && removeLive(out, true);
    if (!error)
        error = renameByHandle(out, target, flags, placeOf(target).remote);
    if (locked) {
        if (error)
            g_live.push_back(out);
        ::ReleaseSRWLockExclusive(&g_liveLock);
    }
    if (!error)
        return {};
    setAttributes(out, FILE_ATTRIBUTE_HIDDEN);
    if (!kept)
        setDeleteOnClose(out, true);
    // Windows refuses a rename over a file open elsewhere as access denied; Wine says so as a
    // sharing violation.
    return error.value() == ERROR_SHARING_VIOLATION ? win32Error(ERROR_ACCESS_DENIED) : error;
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

// Opened sharing nothing, with an access the process was granted: refused with a sharing
// violation while any program holds it open for its data or to delete it.
bool Win32CopyPrimitives::heldOpen(const CopyTarget& target) {
    const OsHandle probe = openTarget(target, FILE_WRITE_DATA, 0);
    return !probe.valid() && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

Result<VolumeFacts> Win32CopyPrimitives::volumeOf(const CopyTarget& target) {
    const Place& place = placeOf(target);
    if (place.error != ERROR_SUCCESS)
        return win32Error(place.error);
    return VolumeFacts{.keepsOwners = (place.features & FILE_PERSISTENT_ACLS) != 0,
                       .posixRenames = (place.features & kPosixUnlinkRename) != 0};
}

// Asked once per folder and run: the answers stay while the folder is held.
Win32CopyPrimitives::Place& Win32CopyPrimitives::placeOf(OsHandle::Native folder,
                                                         const std::wstring& path) {
    const std::lock_guard lock(m_placesLock);
    std::unique_ptr<Place>& place = m_places[path];
    if (!place) {
        place = std::make_unique<Place>();
        if (!::GetVolumeInformationByHandleW(handleOf(folder), nullptr, 0, nullptr, nullptr,
                                             &place->features, nullptr, 0))
            place->error = ::GetLastError();
        place->remote = onRemoteVolume(folder);
        described(*place);
    }
    return *place;
}

// With POSIX semantics the old file loses its name at once and lives on for its holders.
std::error_code Win32CopyPrimitives::publishOverHeld(NewFile& file, const CopyTarget& target) {
    return rename(file, target, kRenameReplace | kRenamePosix);
}

// Closed, a file deleted on close goes; a kept one is marked first. A read-only file takes no
// delete mark.
std::error_code Win32CopyPrimitives::removeName(NewFile& file, const CopyTarget& target) {
    const HANDLE out = handleOf(file.file);
    const bool kept = removeLive(out);
    if (setAttributes(out, FILE_ATTRIBUTE_HIDDEN) &&
        (kept ? setDeleted(out, true) : !setDeleteOnClose(out, true))) {
        file.file.reset();
        return {};
    }
    file.file.reset();
    return removeIn(target, file.name);
}

Result<bool> Win32CopyPrimitives::folderIsAppendOnly(const CopyTarget&) {
    return false; // no such folders here
}

// Only its number is compared: nothing else is read.
Result<std::optional<FileFacts>> Win32CopyPrimitives::lookAgain(const CopyTarget& target) {
    const OsHandle now = openTarget(target, FILE_READ_ATTRIBUTES, kShareAll);
    if (!now.valid())
        return factsFound(now);
    FileFacts facts;
    facts.identity = identityOf(handleOf(now), {});
    return std::optional(facts);
}

Result<bool> Win32CopyPrimitives::sameFolder(const CopyTarget& one, const CopyTarget& other) {
    BY_HANDLE_FILE_INFORMATION first{}, second{};
    if (!::GetFileInformationByHandle(handleOf(one.folder), &first) ||
        !::GetFileInformationByHandle(handleOf(other.folder), &second))
        return lastError();
    return identityOf(handleOf(one.folder), first) == identityOf(handleOf(other.folder), second);
}

// The volume of the file a link at `path` finally names, else of the path's folder.
Result<SpaceFacts> Win32CopyPrimitives::spaceOf(const HostString& path) {
    Result<std::wstring> normal = normalPath(path);
    if (normal.error())
        return normal.error();
    OsHandle opened =
        openHandle(*normal, FILE_READ_ATTRIBUTES, kShareAll, FILE_FLAG_BACKUP_SEMANTICS);
    if (!opened.valid())
        opened = openHandle(normal->substr(0, normal->find_last_of(L'\\') + 1),
                            FILE_READ_ATTRIBUTES, kShareAll, FILE_FLAG_BACKUP_SEMANTICS);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!opened.valid() || !::GetFileInformationByHandle(handleOf(opened), &info))
        return lastError();
    Result<std::int64_t> free = freeSpace(opened.get());
    if (free.error())
        return free.error();
    return SpaceFacts{std::uint64_t{info.dwVolumeSerialNumber}, *free};
}

// NTFS and ReFS move a file's change time on every write; FAT keeps none, and a share's times
// are its server's word.
Result<bool> Win32CopyPrimitives::tracksChanges(const HostString& path) {
    Result<std::wstring> normal = normalPath(path);
    if (normal.error())
        return normal.error();
    const OsHandle opened =
        openHandle(*normal, FILE_READ_ATTRIBUTES, kShareAll, FILE_FLAG_BACKUP_SEMANTICS);
    wchar_t system[MAX_PATH + 1] = {};
    if (!opened.valid() || !::GetVolumeInformationByHandleW(handleOf(opened), nullptr, 0, nullptr,
                                                            nullptr, nullptr, system, MAX_PATH))
        return lastError();
    const std::wstring_view name = system;
    return !onRemoteVolume(opened.get()) && (name == L"NTFS" || name == L"ReFS");
}

char* Win32CopyPrimitives::buffer() {
    if (!m_buffer)
        m_buffer.reset(new char[kPiece]);
    return m_buffer.get();
}

Result<std::int64_t> Win32CopyPrimitives::copyPiece(const CopySource& source, OsHandle& out,
                                                    std::int64_t offset, std::int64_t most) {
    char* const piece = buffer();
    OVERLAPPED from = at(offset);
    DWORD got = 0;
    if (!::ReadFile(handleOf(source.file), piece,
                    static_cast<DWORD>(std::min<std::int64_t>(most, kPiece)), &got, &from) &&
        ::GetLastError() != ERROR_HANDLE_EOF)
        return lastError();
    for (DWORD put = 0; put < got;) {
        OVERLAPPED to = at(offset + put);
        DWORD wrote = 0;
        if (!::WriteFile(handleOf(out), piece + put, got - put, &wrote, &to))
            return lastError();
        put += wrote;
    }
    return std::int64_t{got};
}

// Sparse files are copied whole here: their size is what they take.
Result<std::pair<std::int64_t, std::int64_t>>
Win32CopyPrimitives::nextData(OsHandle::Native, std::int64_t size, std::int64_t at) {
    return std::pair(at, size);
}

std::error_code Win32CopyPrimitives::punchHole(OsHandle&, std::int64_t, std::int64_t) {
    return {};
}

Result<bool> Win32CopyPrimitives::readsAt(const CopySource& source, std::int64_t offset) {
    char probe;
    OVERLAPPED from = at(offset);
    DWORD got = 0;
    if (!::ReadFile(handleOf(source.file), &probe, 1, &got, &from))
        return ::GetLastError() == ERROR_HANDLE_EOF ? Result(false) : lastError();
    return got > 0;
}

// A source being copied is a file on disk: its type is not asked again.
// Its size and last write are read again; the open file's number cannot change.
Result<FileFacts> Win32CopyPrimitives::sourceNow(const CopySource& source) {
    BY_HANDLE_FILE_INFORMATION info{};
    std::int64_t changed = 0;
    if (!describe(handleOf(source.file), info, &changed))
        return lastError();
    FileFacts now = factsOf(info);
    now.identity = source.facts.identity;
    now.changed = changed;
    return now;
}

std::error_code Win32CopyPrimitives::takeTime(OsHandle& out, const CopySource& source) {
    const auto modified = static_cast<std::uint64_t>(source.facts.modified);
    const FILETIME time{static_cast<DWORD>(modified), static_cast<DWORD>(modified >> 32)};
    return ::SetFileTime(handleOf(out), nullptr, nullptr, &time) ? std::error_code() : lastError();
}

// The named streams of an open file; none on a file system without them (FAT, many shares).
Result<std::vector<std::wstring>> Win32CopyPrimitives::streamsOf(HANDLE file) {
    std::vector<std::byte> list(4096);
    while (!::GetFileInformationByHandleEx(file, FileStreamInfo, list.data(),
                                           static_cast<DWORD>(list.size()))) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_HANDLE_EOF || error == ERROR_INVALID_PARAMETER ||
            error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED)
            return std::vector<std::wstring>();
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
    return names;
}

// Copies each named stream of `from` to `out`, but those `out` has already where `missing`:
// each opened by its name relative to the open files, so that no path is resolved again. Where
// the volume of `out` has no streams, it takes the main one alone, as the system's own copy does.
std::error_code Win32CopyPrimitives::copyStreams(OsHandle::Native from, OsHandle& out,
                                                 bool missing) {
    Result<std::vector<std::wstring>> names = streamsOf(handleOf(from));
    if (names.error() || names->empty())
        return names.error();
    if (missing) {
        Result<std::vector<std::wstring>> had = streamsOf(handleOf(out));
        if (had.error())
            return had.error();
        std::erase_if(*names, [&](const std::wstring& name) {
            return std::ranges::find(*had, name) != had->end();
        });
    }
    DWORD features = 0;
    if (!::GetVolumeInformationByHandleW(handleOf(out), nullptr, 0, nullptr, nullptr, &features,
                                         nullptr, 0))
        return lastError();
    if (!(features & FILE_NAMED_STREAMS))
        return {};
    for (const std::wstring& name : *names)
        if (const std::error_code error = copyStream(from, out, name))
            return error;
    return {};
}

// The source's named streams, its Zone.Identifier (Mark of the Web) among them, as the system's
// own copy carries them; none on a volume without them.
std::error_code Win32CopyPrimitives::carryStreams(OsHandle& out, const CopySource& source) {
    if (!keepsStreams(source))
        return {};
    return copyStreams(source.file, out, false);
}

// Asked once per volume and run; where the volume cannot say, its streams are listed.
bool Win32CopyPrimitives::keepsStreams(const CopySource& source) {
    const std::lock_guard lock(m_placesLock);
    const auto [volume, added] = m_streamVolumes.try_emplace(source.facts.identity.volume, true);
    if (DWORD features = 0;
        added && ::GetVolumeInformationByHandleW(handleOf(source.file), nullptr, 0, nullptr,
                                                 nullptr, &features, nullptr, 0))
        volume->second = features & FILE_NAMED_STREAMS;
    return volume->second;
}

std::error_code Win32CopyPrimitives::copyStream(OsHandle::Native file, OsHandle& out,
                                                const std::wstring& name) {
    const OsHandle from = openIn(file, name, FILE_READ_DATA, kShareAll,
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

Result<std::optional<FileFacts>> Win32CopyPrimitives::holdAgain(CopyTarget& target) {
    target.file = openTarget(target, READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll);
    return factsFound(target.file);
}

// Shared with no one: a file another program holds is not opened, which a sharing violation
// says. The hold is let go first, as it would stand in the way too; the opened file's number is
// checked.
Result<OsHandle> Win32CopyPrimitives::openInPlace(CopyTarget& target, FileFacts& opened) {
    target.file.reset();
    OsHandle out = openIn(target.folder, target.name, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0,
                          FILE_OPEN_REPARSE_POINT | FILE_NON_DIRECTORY_FILE);
    if (!out.valid() && ::GetLastError() == ERROR_SHARING_VIOLATION)
        return std::make_error_code(std::errc::device_or_resource_busy);
    if (!out.valid())
        return lastError();
    Result<FileFacts> facts = factsOf(handleOf(out));
    if (facts.error())
        return facts.error();
    opened = *facts;
    return out;
}

// An allocation below the end of the file would move the end down and cut the old content
// before the new is written: it is only ever grown. A compressed or sparse file takes its space
// as it is written, so nothing it is given counts.
std::error_code Win32CopyPrimitives::reserve(OsHandle& out, std::int64_t size) {
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    if (!::GetFileInformationByHandleEx(handleOf(out), FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileInformationByHandleEx(handleOf(out), FileStandardInfo, &standard,
                                        sizeof standard))
        return lastError();
    if (basic.FileAttributes & (FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_SPARSE_FILE))
        return std::make_error_code(std::errc::not_supported);
    if (standard.AllocationSize.QuadPart >= size)
        return {};
    FILE_ALLOCATION_INFO reserve{};
    reserve.AllocationSize.QuadPart = size;
    if (::SetFileInformationByHandle(handleOf(out), FileAllocationInfo, &reserve, sizeof reserve))
        return {};
    const DWORD error = ::GetLastError();
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL
               ? std::make_error_code(std::errc::no_space_on_device)
               : lastError();
}

// No file system here writes blocks anew where a file is written over (ReFS clones aside).
Result<bool> Win32CopyPrimitives::copiesOnWrite(OsHandle::Native) {
    return false;
}

Result<std::int64_t> Win32CopyPrimitives::freeSpace(OsHandle::Native file) {
    const std::optional<std::wstring> path = finalPathOf(handleOf(file));
    ULARGE_INTEGER free{};
    if (!path || !::GetDiskFreeSpaceExW(path->substr(0, path->find_last_of(L'\\') + 1).c_str(),
                                        &free, nullptr, nullptr))
        return lastError();
    return static_cast<std::int64_t>(
        std::min<std::uint64_t>(free.QuadPart, std::numeric_limits<std::int64_t>::max()));
}

std::error_code Win32CopyPrimitives::setLength(OsHandle& out, std::int64_t size) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    return ::SetFileInformationByHandle(handleOf(out), FileEndOfFileInfo, &end, sizeof end)
               ? std::error_code()
               : lastError();
}

// The data reaches the disk before the file takes its name, without the device's cache; its
// length follows once it is whole (wrote), its name with its folder's flush before "Done.".
std::error_code Win32CopyPrimitives::writeOut(const CopyTarget&, OsHandle& out) {
    if (const std::error_code error = failure(HostCall::WriteOut))
        return error;
    return flush(handleOf(out), kFlushDataOnly);
}

std::error_code Win32CopyPrimitives::syncData(OsHandle& out) {
    return ::FlushFileBuffers(handleOf(out)) ? std::error_code() : lastError();
}

// The file's own metadata now (its length, valid data length and access list), while it is
// open; its folder, which holds its name, before "Done.". A folder that takes no new file (a
// file written in place there) cannot be flushed: the file itself goes to the device instead.
std::error_code Win32CopyPrimitives::wrote(const CopyTarget& target, OsHandle& out) {
    auto folder = m_written.find(target.folderPath);
    if (folder == m_written.end()) {
        OsHandle held = openIn(target.folder, {}, FILE_ADD_FILE, kShareAll,
                               FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT);
        BY_HANDLE_FILE_INFORMATION info{};
        if (held.valid() && !::GetFileInformationByHandle(handleOf(held), &info))
            return lastError();
        folder =
            m_written
                .emplace(target.folderPath, Written{info.dwVolumeSerialNumber, std::move(held)})
                .first;
    }
    return flush(handleOf(out), folder->second.folder.valid() ? kFlushNoSync : kFlushAll);
}

// Each folder written, with the names it took; the device's cache once per volume, with its
// last folder. A file system that flushes no folder (some shares) says so: nothing is lost
// there, and its files were flushed each.
std::error_code Win32CopyPrimitives::syncWritten() {
    std::map<DWORD, const Written*> last;
    for (const auto& [path, written] : m_written)
        if (written.folder.valid())
            last[written.volume] = &written;
    std::error_code lost;
    for (const auto& [path, written] : m_written) {
        if (!written.folder.valid())
            continue;
        std::error_code error = failure(HostCall::FlushFolder);
        if (!error)
            error = flush(handleOf(written.folder),
                          last[written.volume] == &written ? kFlushAll : kFlushNoSync);
        if (error && !refusesClass(error) && !lost)
            lost = error;
    }
    m_written.clear();
    return lost;
}

// Asked of the file system, never computed from the folder's descriptor, which on a share does
// not hold the share's own permissions: the held folder opened for adding a file, as the copy
// would need it (learn.microsoft.com/windows/win32/fileio/file-access-rights-constants).
Result<bool> Win32CopyPrimitives::folderTakesNewFiles(const CopyTarget& target) {
    const OsHandle folder = openIn(target.folder, {}, FILE_ADD_FILE, kShareAll,
                                   FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT);
    if (folder.valid())
        return true;
    if (::GetLastError() == ERROR_ACCESS_DENIED)
        return false;
    return lastError();
}

bool Win32CopyPrimitives::folderKeepsEncrypted(const CopyTarget& target) {
    const Place& place = placeOf(target);
    return place.error == ERROR_SUCCESS && place.features & FILE_SUPPORTS_ENCRYPTION;
}

// Where the target may not be deleted, nothing may be renamed over it either.
Result<bool> Win32CopyPrimitives::folderKeepsName(const CopyTarget& target) {
    return deleteRefusal(target) == ERROR_ACCESS_DENIED;
}

// Names compare without regard to case, as Windows does.
Result<std::string> Win32CopyPrimitives::placeKey(const CopyTarget& target) {
    std::wstring key = target.folderPath + target.name;
    ::CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
    return std::string(reinterpret_cast<const char*>(key.data()), key.size() * sizeof(wchar_t));
}
