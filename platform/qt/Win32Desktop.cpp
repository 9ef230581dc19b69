// The Qt platform's pieces that differ by host: here the Windows shell.
#include "platform/PlatformError.h"
#include "platform/qt/DesktopShell.h"
#include "platform/qt/QtCommonDialog.h"
#include "platform/qt/QtPlatform.h"

#include <QDir>
#include <windows.h>

#include <shellapi.h>

std::string missingDisplayAdvice() {
    return {}; // Windows always has its desktop
}

QString hostFileName(std::u16string_view windowsPath) {
    return QString::fromStdU16String(std::u16string(windowsPath));
}

std::optional<std::u16string> QtCommonDialog::windowsPathOf(const QString& picked) {
    return QDir::toNativeSeparators(picked).toStdU16String();
}

void DesktopShell::shellExecute(std::uintptr_t owner, std::u16string_view operation,
                                std::u16string_view file, std::u16string_view parameters,
                                std::u16string_view directory, int showCommand) {
    const auto wide = [](std::u16string_view text) {
        return std::wstring(text.begin(), text.end());
    };
    const std::wstring verb = wide(operation), path = wide(file), arguments = wide(parameters),
                       folder = wide(directory);
    // The shell's result is not examined, as the routine says.
    ::ShellExecuteW(reinterpret_cast<HWND>(owner), verb.empty() ? nullptr : verb.c_str(),
                    path.c_str(), arguments.empty() ? nullptr : arguments.c_str(),
                    folder.empty() ? nullptr : folder.c_str(), showCommand);
}

namespace {

// The program a command line names, when it is the system's file browser: its full path in
// the Windows folder. Looked up by name, it would be searched first in the program's folder
// and the current one, where anyone may have planted a file of that name.
std::wstring systemProgram(std::u16string_view commandLine) {
    const std::wstring program =
        DesktopShell::splitCommandLine(commandLine).value(0).toStdWString();
    if (::CompareStringOrdinal(program.c_str(), -1, L"explorer", -1, TRUE) != CSTR_EQUAL &&
        ::CompareStringOrdinal(program.c_str(), -1, L"explorer.exe", -1, TRUE) != CSTR_EQUAL)
        return {};
    std::wstring folder(MAX_PATH, L'\0');
    const UINT length = ::GetWindowsDirectoryW(folder.data(), MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        throw PlatformError::fromWin32(::GetLastError());
    folder.resize(length);
    return folder + L"\\explorer.exe";
}

} // namespace

void DesktopShell::launch(std::u16string_view commandLine, int windowStyle) {
    std::wstring line(commandLine.begin(), commandLine.end());
    const std::wstring program = systemProgram(commandLine);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(windowStyle);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.empty() ? nullptr : program.c_str(), line.data(), nullptr,
                          nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        throw PlatformError::fromWin32(::GetLastError());
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
}
