#include "platform/win32/Win32Copy.h"

#include "platform/PlatformError.h"
#include "platform/win32/Win32Io.h"

#include <aclapi.h>
#include <algorithm>
#include <cstddef>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr DWORD kPiece = 1 << 20;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

PlatformError changed() {
    return PlatformError(u"The destination changed during the copy.", ERROR_FILE_EXISTS);
}

BY_HANDLE_FILE_INFORMATION informationOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info))
        throwLastError();
    return info;
}

bool sameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

std::int64_t sizeOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                     info.nFileSizeLow);
}

// The path of an open file, links resolved, as the system names it ("\\?\C:\...").
std::wstring finalPath(HANDLE file) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(
            file, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
        if (length == 0)
            throwLastError();
        if (length < path.size())
            return path.substr(0, length);
        path.resize(length + 1);
    }
}

std::wstring temporaryName() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring name = L".quorvane-000000000000.tmp";
    std::uint64_t bits = generator();
    for (std::size_t i = 10; i < 22; ++i, bits >>= 4)
        name[i] = kDigits[bits & 0xF];
    return name;
}

bool setDeleted(HANDLE file, bool deleted) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = deleted ? TRUE : FALSE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof disposition);
}

// The checked target: its final file, the folder that holds it, what a copy must keep.
struct Target {
    std::wstring path;
    // Held until the last check, so that the file's index cannot pass to a file swapped in.
    Handle file;
    bool present = false;
    BY_HANDLE_FILE_INFORMATION info{};
    std::unique_ptr<void, decltype(&::LocalFree)> security{nullptr, &::LocalFree};
    PACL dacl = nullptr;
    bool protectedDacl = false;
};

struct Source {
    Handle file;
    BY_HANDLE_FILE_INFORMATION info{};
};

// Opens the source as it will be copied: a file on disk, not a folder or a device.
Source openSource(const std::u16string& path) {
    Source source;
    source.file = Handle(::CreateFileW(widePath(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source.file.valid())
        throwLastError();
    if (::GetFileType(source.file.get()) != FILE_TYPE_DISK)
        throw PlatformError::refused(Refusal::NotRegular);
    source.info = informationOf(source.file.get());
    if (source.info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        throw PlatformError::refused(Refusal::NotRegular);
    return source;
}

// Resolves the destination once and judges what it finds; Wine refuses neither hidden nor
// (for an administrator) read-only targets, so every refusal is ours.
Target resolve(const std::u16string& destination, const Source& source) {
    const std::wstring path = widePath(destination);
    Target target;
    const DWORD own = ::GetFileAttributesW(path.c_str());
    if (own == INVALID_FILE_ATTRIBUTES) {
        const PlatformError error = PlatformError::fromWin32(::GetLastError());
        if (!error.isNotFound())
            throw error;
        // Absent: the name goes into its folder as the system resolves that folder now.
        const std::size_t cut = path.find_last_of(L"\\/");
        const std::wstring folderPath = path.substr(0, cut + 1);
        Handle folder(::CreateFileW(folderPath.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!folder.valid())
            throwLastError();
        target.path = finalPath(folder.get());
        if (target.path.back() != L'\\')
            target.path += L'\\';
        target.path += path.substr(cut + 1);
        return target;
    }
    if ((own & FILE_ATTRIBUTE_REPARSE_POINT) && (own & FILE_ATTRIBUTE_HIDDEN))
        throw PlatformError::refused(Refusal::Hidden);
    Handle file(::CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) {
        const PlatformError error = PlatformError::fromWin32(::GetLastError());
        if (error.isNotFound() && (own & FILE_ATTRIBUTE_REPARSE_POINT))
            throw PlatformError::refused(Refusal::DanglingLink);
        throw error;
    }
    target.present = true;
    target.info = informationOf(file.get());
    target.path = finalPath(file.get());
    const DWORD bits = target.info.dwFileAttributes;
    if (bits & FILE_ATTRIBUTE_DIRECTORY)
        throw PlatformError::refused(Refusal::Folder);
    if (::GetFileType(file.get()) != FILE_TYPE_DISK)
        throw PlatformError::refused(Refusal::NotRegular);
    if (bits & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
        throw PlatformError::refused(Refusal::Hidden);
    if (bits & FILE_ATTRIBUTE_READONLY)
        throw PlatformError::refused(Refusal::ReadOnly);
    if (sameFile(target.info, source.info))
        throw PlatformError::refused(Refusal::SameFile);
    // The Windows copy needs write access to the file itself.
    Handle writable(::CreateFileW(target.path.c_str(), FILE_WRITE_DATA, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!writable.valid()) {
        if (::GetLastError() == ERROR_ACCESS_DENIED)
            throw PlatformError::refused(Refusal::NotWritable);
        throwLastError();
    }
    if (!sameFile(informationOf(writable.get()), target.info))
        throw changed();
    PSECURITY_DESCRIPTOR security = nullptr;
    if (::GetSecurityInfo(file.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          &target.dacl, nullptr, &security) != ERROR_SUCCESS)
        throw PlatformError::refused(Refusal::Acl);
    target.security.reset(security);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (::GetSecurityDescriptorControl(security, &control, &revision))
        target.protectedDacl = control & SE_DACL_PROTECTED;
    return target;
}

// Copies the source whole as it was opened, from its start; a source that yields other than
// its size, or changed meanwhile, fails the copy.
void writeContent(const Source& source, HANDLE out, const std::function<void()>& afterPiece) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(source.file.get(), start, nullptr, FILE_BEGIN))
        throwLastError();
    const std::int64_t size = sizeOf(source.info);
    std::vector<char> buffer(kPiece);
    std::int64_t done = 0;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(source.file.get(), buffer.data(), kPiece, &got, nullptr))
            throwLastError();
        if (got == 0)
            break;
        done += got;
        if (done > size)
            throw PlatformError::refused(Refusal::SourceChanged);
        for (DWORD put = 0; put < got;) {
            DWORD wrote = 0;
            if (!::WriteFile(out, buffer.data() + put, got - put, &wrote, nullptr))
                throwLastError();
            put += wrote;
        }
        afterPiece();
    }
    const BY_HANDLE_FILE_INFORMATION now = informationOf(source.file.get());
    if (done != size || sizeOf(now) != size ||
        CompareFileTime(&now.ftLastWriteTime, &source.info.ftLastWriteTime) != 0)
        throw PlatformError::refused(Refusal::SourceChanged);
}

void takeTime(HANDLE out, const Source& source) {
    if (!::SetFileTime(out, nullptr, nullptr, &source.info.ftLastWriteTime))
        throwLastError();
}

// Where the folder takes no new file, the checked file is written over, as the Windows copy
// would, with its space reserved first.
CopyOutcome writeInPlace(const Source& source, const Target& target,
                         const std::function<void()>& afterPiece) {
    Handle out(::CreateFileW(target.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!out.valid())
        throwLastError();
    if (!sameFile(informationOf(out.get()), target.info))
        throw changed();
    FILE_ALLOCATION_INFO reserve{};
    reserve.AllocationSize.QuadPart = sizeOf(source.info);
    if (!::SetFileInformationByHandle(out.get(), FileAllocationInfo, &reserve, sizeof reserve))
        throwLastError();
    writeContent(source, out.get(), afterPiece);
    if (!::SetEndOfFile(out.get()))
        throwLastError();
    takeTime(out.get(), source);
    return CopyOutcome::InPlace;
}

// The new content's file, beside the target; deleted by the system should the process die,
// and by us unless it takes the target's name.
class NewFile {
  public:
    explicit NewFile(const std::wstring& folder) {
        for (int attempt = 0; !m_file.valid(); ++attempt) {
            m_path = folder + temporaryName();
            m_file = Handle(::CreateFileW(m_path.c_str(), GENERIC_WRITE | DELETE | WRITE_DAC, 0,
                                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!m_file.valid() && (::GetLastError() != ERROR_FILE_EXISTS || attempt == 8))
                throwLastError();
        }
        m_pending = setDeleted(m_file.get(), true);
    }
    ~NewFile() {
        if (!m_kept && m_file.valid() && !setDeleted(m_file.get(), true)) {
            m_file = Handle();
            ::DeleteFileW(m_path.c_str());
        }
    }
    HANDLE get() const { return m_file.get(); }
    // Takes the name by handle: no path is resolved a second time.
    void rename(const std::wstring& to, bool replace) {
        if (m_pending && !setDeleted(m_file.get(), false))
            throwLastError();
        const std::size_t bytes = to.size() * sizeof(wchar_t);
        std::vector<std::byte> buffer(offsetof(FILE_RENAME_INFO, FileName) + bytes +
                                      sizeof(wchar_t));
        auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        info->ReplaceIfExists = replace ? TRUE : FALSE;
        info->RootDirectory = nullptr;
        info->FileNameLength = static_cast<DWORD>(bytes);
        std::copy(to.begin(), to.end(), info->FileName);
        if (!::SetFileInformationByHandle(m_file.get(), FileRenameInfo, info,
                                          static_cast<DWORD>(buffer.size())))
            throwLastError();
        m_kept = true;
    }

  private:
    Handle m_file;
    std::wstring m_path;
    bool m_pending = false;
    bool m_kept = false;
};

} // namespace

CopyOutcome Win32Copy::copy(const std::u16string& source, const std::u16string& destination) {
    return run(source, destination, false);
}

CopyOutcome Win32Copy::check(const std::u16string& source, const std::u16string& destination) {
    return run(source, destination, true);
}

CopyOutcome Win32Copy::run(const std::u16string& source, const std::u16string& destination,
                           bool checkOnly) {
    const Source from = openSource(source);
    Target target = resolve(destination, from);
    if (checkOnly) {
        std::u16string key = fromWide(target.path);
        ::CharUpperBuffW(reinterpret_cast<wchar_t*>(key.data()), static_cast<DWORD>(key.size()));
        if (target.present || !m_foreseen.insert(key).second)
            return CopyOutcome::Replaced;
        return CopyOutcome::Created;
    }
    reach(CopyPoint::TargetChecked);
    const std::function<void()> afterPiece = [this] { reach(CopyPoint::ContentCopied); };
    const std::wstring folder = target.path.substr(0, target.path.find_last_of(L'\\') + 1);
    std::unique_ptr<NewFile> file;
    try {
        file = std::make_unique<NewFile>(folder);
    } catch (const PlatformError& error) {
        if (!target.present || error.code() != std::errc::permission_denied)
            throw;
        return writeInPlace(from, target, afterPiece);
    }
    writeContent(from, file->get(), afterPiece);
    takeTime(file->get(), from);
    if (target.present) {
        const SECURITY_INFORMATION what =
            DACL_SECURITY_INFORMATION |
            (target.protectedDacl ? PROTECTED_DACL_SECURITY_INFORMATION
                                  : UNPROTECTED_DACL_SECURITY_INFORMATION);
        if (::SetSecurityInfo(file->get(), SE_FILE_OBJECT, what, nullptr, nullptr, target.dacl,
                              nullptr) != ERROR_SUCCESS)
            throw PlatformError::refused(Refusal::Acl);
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = target.info.dwFileAttributes;
        ::SetFileInformationByHandle(file->get(), FileBasicInfo, &basic, sizeof basic);
    }
    reach(CopyPoint::BeforeLastCheck);
    if (target.present) {
        Handle now(::CreateFileW(
            target.path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!now.valid() || !sameFile(informationOf(now.get()), target.info))
            throw changed();
        target.file = Handle(); // the old file goes with the rename
    } else if (::GetFileAttributesW(target.path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        throw changed();
    }
    try {
        file->rename(target.path, target.present);
    } catch (const PlatformError& error) {
        if (!target.present || error.code() != std::errc::permission_denied)
            throw;
        file.reset();
        return writeInPlace(from, target, afterPiece);
    }
    return target.present ? CopyOutcome::Replaced : CopyOutcome::Created;
}
