#include "batch/BatchCommand.h"
#include "platform/posix/PosixFileServices.h"
#include "shared/Text.h"

#include <fstream>
#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(decodeUtf8Lossless(argv[i]));
    PosixFileServices files;
    BatchConsole console{std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1,
                         [](std::u16string_view path) -> std::unique_ptr<std::ostream> {
                             const auto bytes = encodeUtf8Lossless(path);
                             if (!bytes)
                                 return nullptr;
                             return std::make_unique<std::ofstream>(*bytes, std::ios::binary |
                                                                                std::ios::trunc);
                         }};
    return RunBatch(arguments, files, console);
}
