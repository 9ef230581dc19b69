#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class FileServices;

// Where the batch command writes, and how it opens its receipt file.
struct BatchConsole {
    std::ostream& out; // --help, --version and a receipt written to "-"
    std::ostream& err; // messages, progress and the summary
    bool errIsTerminal;
    // The receipt file at a path as given on the command line; null when it cannot be made.
    std::function<std::unique_ptr<std::ostream>(std::u16string_view path)> openReceipt;
};

// quorvane-batch [--dry-run] [--receipt PATH|-] FILE LIST: the "Start Saving" run for scripts,
// with every message box on standard error, a receipt row for each list line, a summary and
// an exit status. Returns the exit status.
int RunBatch(const std::vector<std::u16string>& arguments, FileServices& files,
             BatchConsole& console);
