#pragma once

#include <iosfwd>
#include <string>
#include <vector>

class FileServices;

// Where the batch command writes; a receipt file is opened through the console host.
struct BatchConsole {
    std::ostream& out; // --help, --version and a receipt written to "-"
    std::ostream& err; // messages, progress and the summary
    bool errIsTerminal;
};

// quorvane-batch [--dry-run] [--receipt PATH|-] FILE LIST: the "Start Saving" run for scripts,
// with every message box on standard error, a receipt row for each list line, a summary and
// an exit status. Returns the exit status.
int RunBatch(const std::vector<std::u16string>& arguments, FileServices& files,
             BatchConsole& console);
