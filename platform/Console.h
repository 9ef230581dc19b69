#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class FileServices;

// What a console program needs of its host.

// The program's arguments as wide text, without the program's name: argv decoded losslessly
// on POSIX, the wide command line on Windows (narrow arguments turn what the code page lacks
// into "?", a wildcard).
std::vector<std::u16string> commandLineArguments(int argc, char** argv);

bool standardErrorIsTerminal();

// A file created (or emptied) for writing at a path as the user typed it; null when it cannot be.
std::unique_ptr<std::ostream> createOutputFile(std::u16string_view path);

// The host's file services.
std::unique_ptr<FileServices> hostFileServices();
