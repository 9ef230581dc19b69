#include "platform/Console.h"

#include "platform/win32/Win32FileServices.h"

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <windows.h>

#include <shellapi.h>

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

std::unique_ptr<std::ostream> createOutputFile(std::u16string_view path) {
    if (path.find(u'\0') != path.npos)
        return nullptr;
    const std::filesystem::path wide(std::wstring(path.begin(), path.end()));
    auto file = std::make_unique<std::ofstream>(wide, std::ios::binary | std::ios::trunc);
    return *file ? std::move(file) : nullptr;
}

std::unique_ptr<FileServices> hostFileServices() {
    return std::make_unique<Win32FileServices>();
}
