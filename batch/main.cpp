#include "batch/BatchCommand.h"
#include "platform/Console.h"
#include "platform/FileServices.h"
#include "platform/Host.h"

#include <iostream>

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const std::unique_ptr<FileServices> files = hostFileServices();
    BatchConsole console{std::cout, std::cerr, standardErrorIsTerminal()};
    return RunBatch(commandLineArguments(argc, argv), *files, console);
}
