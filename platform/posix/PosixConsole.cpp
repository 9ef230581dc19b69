#include "platform/Console.h"

#include "platform/posix/PosixFileServices.h"
#include "shared/Text.h"

#include <fstream>
#include <unistd.h>

std::vector<std::u16string> commandLineArguments(int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(decodeUtf8Lossless(argv[i]));
    return arguments;
}

bool standardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

std::unique_ptr<std::ostream> createOutputFile(std::u16string_view path) {
    const std::optional<std::string> bytes = encodeUtf8Lossless(path);
    if (!bytes)
        return nullptr;
    auto file = std::make_unique<std::ofstream>(*bytes, std::ios::binary | std::ios::trunc);
    return *file ? std::move(file) : nullptr;
}

std::unique_ptr<FileServices> hostFileServices() {
    return std::make_unique<PosixFileServices>();
}
