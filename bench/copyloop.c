// The system's own copy, target by target: CopyFileW over every line of a list, for
// bench/wine-calls.sh to set beside quorvane-batch.exe.
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3)
        return 64;
    FILE* list = _wfopen(argv[2], L"r, ccs=UTF-8");
    if (!list)
        return 66;
    wchar_t line[32768];
    int failed = 0;
    while (fgetws(line, 32768, list)) {
        line[wcscspn(line, L"\r\n")] = 0;
        if (line[0] && !CopyFileW(argv[1], line, FALSE))
            ++failed;
    }
    fclose(list);
    return failed ? 1 : 0;
}
