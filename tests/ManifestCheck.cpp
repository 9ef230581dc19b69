// Checks that each program named on the command line carries the manifest Windows reads at
// start: long paths, the current common controls and per-monitor DPI. Long paths there lift the
// 260-character limit from plain names only where the system's switch is on as well, which it
// is not by default; the programs' own calls do without (longpaths.sh).
#include <windows.h>

#include <cstdio>
#include <string>

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
        const std::string manifest = manifestOf(windowsPath(argv[i]));
        for (const char* text : wanted)
            if (manifest.find(text) == std::string::npos) {
                std::printf("%s: no manifest with %s\n", argv[i], text);
                ++failures;
            }
    }
    return failures != 0;
}
