// Checks what Windows reads of each program named on the command line: the manifest it reads
// at start (long paths, the current common controls, per-monitor DPI) and the version Explorer
// shows, the project's. Long paths there lift the 260-character limit from plain names only
// where the system's switch is on as well, which it is not by default; the programs' own calls
// do without (longpaths.sh).
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring windowsPath(const char* path) {
    std::wstring wide(path, path + std::char_traits<char>::length(path));
    for (wchar_t& c : wide)
        if (c == L'/')
            c = L'\\';
    return wide.front() == L'\\' ? L"Z:" + wide : wide; // a host path, as Wine maps it
}

std::string manifestOf(const std::wstring& program) {
    HMODULE module = ::LoadLibraryExW(program.c_str(), nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module)
        return {};
    std::string text;
    if (HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)))
        if (HGLOBAL loaded = ::LoadResource(module, found))
            text.assign(static_cast<const char*>(::LockResource(loaded)),
                        ::SizeofResource(module, found));
    ::FreeLibrary(module);
    return text;
}

// The file version's numbers and the product version's text, as Explorer shows them.
std::string versionOf(const std::wstring& program) {
    DWORD unused = 0;
    std::vector<char> data(::GetFileVersionInfoSizeW(program.c_str(), &unused));
    void* fixed = nullptr;
    void* text = nullptr;
    UINT size = 0;
    if (data.empty() ||
        !::GetFileVersionInfoW(program.c_str(), 0, static_cast<DWORD>(data.size()), data.data()) ||
        !::VerQueryValueW(data.data(), L"\\", &fixed, &size) ||
        !::VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\ProductVersion", &text, &size))
        return {};
    const auto* numbers = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    char version[64];
    std::snprintf(version, sizeof version, "%u.%u.%u.%u %ls", HIWORD(numbers->dwFileVersionMS),
                  LOWORD(numbers->dwFileVersionMS), HIWORD(numbers->dwFileVersionLS),
                  LOWORD(numbers->dwFileVersionLS), static_cast<const wchar_t*>(text));
    return version;
}

} // namespace

int main(int argc, char** argv) {
    const char* const wanted[] = {
        "<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true<",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        ">PerMonitorV2, PerMonitor</dpiAwareness>",
        "<requestedExecutionLevel level=\"asInvoker\"",
    };
    int failures = argc < 2;
    for (int i = 1; i < argc; ++i) {
        const std::wstring program = windowsPath(argv[i]);
        const std::string manifest = manifestOf(program);
        for (const char* text : wanted)
            if (manifest.find(text) == std::string::npos) {
                std::printf("%s: no manifest with %s\n", argv[i], text);
                ++failures;
            }
        const std::string version = versionOf(program);
        if (version != QUORVANE_VERSION ".0 " QUORVANE_VERSION) {
            std::printf("%s: version \"%s\", not %s\n", argv[i], version.c_str(), QUORVANE_VERSION);
            ++failures;
        }
    }
    return failures != 0;
}
