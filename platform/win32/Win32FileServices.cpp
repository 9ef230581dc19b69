#include "platform/win32/Win32FileServices.h"

#include "base/Text.h"
#include "platform/win32/Win32Io.h"

#include <algorithm>

namespace {

// Seconds since 1970 of a FILETIME (100 ns since 1601).
std::int64_t unixSeconds(const FILETIME& time) {
    const auto ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    return ticks / 10'000'000 - 11'644'473'600LL;
}

WIN32_FILE_ATTRIBUTE_DATA attributeData(std::u16string_view path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(longPath(path).c_str(), GetFileExInfoStandard, &data))
        throwLastError();
    return data;
}

// Opens a file on disk for reading, never a device or a pipe.
OsHandle openForRead(std::u16string_view path) {
    OsHandle file =
        ownHandle(::CreateFileW(longPath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid())
        throwLastError();
    if (::GetFileType(handleOf(file)) != FILE_TYPE_DISK)
        throw PlatformError::fromWin32(ERROR_INVALID_FUNCTION);
    return file;
}

} // namespace

std::size_t HandleInputFile::read(char* buffer, std::size_t size) {
    DWORD got = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::ReadFile(handleOf(m_file), buffer, chunk, &got, nullptr))
        throwLastError();
    return got;
}

std::int64_t Win32FileServices::lastModified(std::u16string_view path) {
    return unixSeconds(attributeData(path).ftLastWriteTime);
}

std::uint32_t Win32FileServices::attributes(std::u16string_view path) {
    const DWORD bits = ::GetFileAttributesW(longPath(path).c_str());
    if (bits == INVALID_FILE_ATTRIBUTES)
        throwLastError();
    return bits;
}

// Elevated, the process has a logon session of its own, without the drive letters the user
// mapped or made with subst in the filtered one: a folder on a letter missing here says so, and
// is out of reach rather than missing. Whether the user has that letter is not asked of the
// linked token.
bool Win32FileServices::probeFolder(std::u16string_view path) {
    try {
        return CopyingFileServices::probeFolder(path);
    } catch (const PlatformError& failure) {
        const std::wstring root = path.size() > 1 && path[1] == u':'
                                      ? std::wstring{static_cast<wchar_t>(path[0]), L':', L'\\'}
                                      : std::wstring();
        if (failure.isMissing() && !root.empty() &&
            ::GetDriveTypeW(root.c_str()) == DRIVE_NO_ROOT_DIR && elevated())
            throw PlatformError(u"an elevated run may not see mapped drives",
                                std::make_error_code(std::errc::no_such_device));
        throw;
    }
}

bool Win32FileServices::elevated() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    const OsHandle held = ownHandle(token);
    TOKEN_ELEVATION_TYPE type{};
    DWORD size = 0;
    return ::GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size) &&
           type == TokenElevationTypeFull;
}

bool Win32FileServices::openExisting(std::u16string_view path) {
    // As the routine's narrow call: a name the code page cannot carry does not open. One it
    // carries opens by the wide call, the narrow one being held to 260 characters.
    if (path.find(u'\0') != path.npos)
        return false;
    const std::wstring wide = widePath(path);
    // UTF-8 takes neither the best-fit flag nor a default character: there a name it cannot
    // carry fails the call itself.
    const UINT codePage = m_ansi.codePage();
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL lossy = FALSE;
    BOOL* const usedDefault = utf8 ? nullptr : &lossy;
    const int size =
        m_ansi.toNarrow(codePage, flags, wide.c_str(), -1, nullptr, 0, nullptr, usedDefault);
    if (size <= 0)
        return false;
    std::string narrow(static_cast<std::size_t>(size), '\0');
    if (m_ansi.toNarrow(codePage, flags, wide.c_str(), -1, narrow.data(), size, nullptr,
                        usedDefault) != size ||
        lossy)
        return false;
    std::wstring full;
    try {
        full = longPath(path);
    } catch (const PlatformError&) {
        return false; // an empty name, say
    }
    const HANDLE file =
        ::CreateFileW(full.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                      FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(file);
    return true;
}

std::vector<std::u16string> Win32FileServices::findOrdinaryFiles(std::u16string_view pattern,
                                                                 std::size_t limit) {
    std::vector<std::u16string> found;
    if (limit == 0 || pattern.find(u'\0') != pattern.npos)
        return found;
    WIN32_FIND_DATAW entry{};
    const HANDLE search =
        ::FindFirstFileExW(longPath(pattern).c_str(), FindExInfoBasic, &entry,
                           FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        const PlatformError error = PlatformError::fromWin32(::GetLastError());
        if (error.isNotFound())
            return found;
        throw error;
    }
    constexpr DWORD kNotOrdinary =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    // Windows reads "*." as names without an extension; Wine does not.
    const bool noExtension = asksForNoExtension(pattern);
    do {
        std::u16string name = fromWide(entry.cFileName);
        if (!(entry.dwFileAttributes & kNotOrdinary) &&
            !(noExtension && name.find(u'.') != name.npos))
            found.push_back(std::move(name));
    } while (found.size() < limit && ::FindNextFileW(search, &entry));
    ::FindClose(search);
    std::sort(found.begin(), found.end());
    return found;
}

std::int64_t Win32FileServices::fileLength(std::u16string_view path) {
    const WIN32_FILE_ATTRIBUTE_DATA data = attributeData(path);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        throw PlatformError::fromWin32(ERROR_ACCESS_DENIED);
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                     data.nFileSizeLow);
}

std::string Win32FileServices::readFileBytes(std::u16string_view path) {
    HandleInputFile file(openForRead(path));
    return readToEnd(file, 1 << 16);
}

std::unique_ptr<InputFile> Win32FileServices::openForReading(std::u16string_view path) {
    return std::make_unique<HandleInputFile>(openForRead(path));
}

std::size_t Win32FileServices::decodeAnsi(std::string_view bytes, bool atStart, bool last,
                                          std::u16string& text) {
    const UINT codePage = m_ansi.codePage();
    if (codePage == CP_UTF8)
        return appendUtf8Text(bytes, atStart, last, text);
    // A double-byte code page's lead byte at the end of a piece waits for its trail byte.
    std::size_t usable = bytes.size();
    CPINFO info{};
    if (!last && ::GetCPInfo(codePage, &info) && info.MaxCharSize > 1) {
        std::size_t at = 0;
        while (at < bytes.size())
            at += ::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[at])) ? 2 : 1;
        if (at > bytes.size())
            usable = bytes.size() - 1;
    }
    if (usable == 0)
        return 0;
    const int size =
        ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(usable), nullptr, 0);
    const std::size_t start = text.size();
    text.resize(start + static_cast<std::size_t>(size));
    ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(usable),
                          reinterpret_cast<wchar_t*>(text.data() + start), size);
    return usable;
}

Win32FileServices::Win32FileServices(std::unique_ptr<Win32CopyPrimitives> primitives)
    : CopyingFileServices(*primitives, [] { return std::make_unique<Win32CopyPrimitives>(); }),
      m_primitives(std::move(primitives)) {}

HostString Win32FileServices::hostPath(std::u16string_view path) {
    return widePath(path);
}

// Without the long-path prefix the system's calls take, as a list names it; a volume without
// a letter keeps its GUID name whole.
std::u16string Win32FileServices::windowsPath(const HostString& path) {
    std::u16string plain = fromWide(path);
    if (plain.starts_with(uR"(\\?\UNC\)"))
        return uR"(\\)" + plain.substr(8);
    if (plain.starts_with(uR"(\\?\)") && plain.size() > 5 && plain[5] == u':')
        return plain.substr(4);
    return plain;
}

std::optional<std::u16string> Win32FileServices::mapNativeName(std::u16string_view) {
    return std::nullopt; // Windows names are the host's own
}

void Win32FileServices::makeDurable() {
    CopyingFileServices::makeDurable();
    if (const std::error_code lost = m_primitives->syncWritten())
        throw PlatformError::fromCode(lost);
}

std::u16string Win32FileServices::installationFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            throwLastError();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    std::u16string folder = fromWide(path.substr(0, path.find_last_of(L'\\')));
    if (folder.size() == 2 && folder[1] == u':')
        folder += u'\\'; // a drive root keeps its separator
    return folder;
}
