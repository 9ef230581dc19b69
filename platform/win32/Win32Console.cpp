#include "platform/Console.h"
#include "platform/Host.h"

#include "platform/win32/Win32FileServices.h"
#include "platform/win32/Win32Io.h"

#include <algorithm>
#include <cwchar>
#include <utility>
#include <windows.h>

#include <shellapi.h>

namespace {

std::optional<FileIdentity> identityOfFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info))
        return std::nullopt;
    return identityOf(file, info);
}

class Win32OutputFile : public OutputFile {
  public:
    explicit Win32OutputFile(OsHandle file) : m_file(std::move(file)) {}

    bool isFileAt(std::u16string_view path) override {
        const std::optional<FileIdentity> mine = identity();
        return mine && mine == identityAt(path);
    }
    std::optional<FileIdentity> identity() override { return identityOfFile(handleOf(m_file)); }
    void clear() override {
        const HANDLE file = handleOf(m_file);
        if (::GetFileType(file) != FILE_TYPE_DISK)
            return;
        if (!::SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN) ||
            !::SetEndOfFile(file))
            throwLastError();
    }
    void write(std::string_view bytes) override {
        while (!bytes.empty()) {
            DWORD written = 0;
            const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
            if (!::WriteFile(handleOf(m_file), bytes.data(), size, &written, nullptr))
                throwLastError();
            bytes.remove_prefix(written);
        }
    }
    // Durable as the run's copies are; a pipe or a console has nothing to make so.
    void close() override {
        if (::GetFileType(handleOf(m_file)) == FILE_TYPE_DISK &&
            !::FlushFileBuffers(handleOf(m_file)))
            throwLastError();
        if (const std::error_code error = m_file.close())
            throw PlatformError::fromCode(error);
    }

  private:
    OsHandle m_file;
};

} // namespace

std::vector<std::u16string> commandLineArguments(int, char**) {
    std::vector<std::u16string> arguments;
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    for (int i = 1; words && i < count; ++i)
        arguments.emplace_back(words[i], words[i] + std::wcslen(words[i]));
    ::LocalFree(words);
    return arguments;
}

bool standardErrorIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::optional<FileIdentity> standardOutputIdentity() {
    return identityOfFile(::GetStdHandle(STD_OUTPUT_HANDLE));
}

std::optional<FileIdentity> identityAt(std::u16string_view path) {
    if (path.find(u'\0') != path.npos)
        return std::nullopt;
    const OsHandle file = ownHandle(::CreateFileW(
        longPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file.valid() ? identityOfFile(handleOf(file)) : std::nullopt;
}

// A write to a closed pipe fails with ERROR_NO_DATA here; nothing ends the program.
void keepRunningOnClosedPipes() {}

std::unique_ptr<OutputFile> openOutputFile(std::u16string_view path) {
    OsHandle file = ownHandle(::CreateFileW(longPath(path).c_str(), GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        throwLastError();
    return std::make_unique<Win32OutputFile>(std::move(file));
}

std::unique_ptr<FileServices> hostFileServices() {
    return std::make_unique<Win32FileServices>();
}

std::u16string windowsFormOf(const std::filesystem::path& hostPath) {
    return std::filesystem::path(hostPath).make_preferred().u16string();
}
