#pragma once

#include "platform/FileServices.h"

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a console program needs of its host.

// The program's arguments as wide text, without the program's name: argv decoded losslessly
// on POSIX, the wide command line on Windows (narrow arguments turn what the code page lacks
// into "?", a wildcard).
std::vector<std::u16string> commandLineArguments(int argc, char** argv);

bool standardErrorIsTerminal();

// A file a console program writes as it goes, such as a receipt. Every call that fails throws
// PlatformError.
class OutputFile {
  public:
    virtual ~OutputFile() = default;
    // True when a path, in Windows form as a box holds it, names this very file (by any
    // spelling or link). False when it names another file or nothing.
    virtual bool isFileAt(std::u16string_view path) = 0;
    // Which file it is; nothing for what is not a file on disk (a device, a pipe).
    virtual std::optional<FileIdentity> identity() = 0;
    // Empties the file; a device or a pipe is left as it is.
    virtual void clear() = 0;
    // Writes all of the bytes before it returns.
    virtual void write(std::string_view bytes) = 0;
    // Makes what was written durable where the host does so for the run's copies, and closes
    // the file.
    virtual void close() = 0;
};

// Which file standard output writes to; nothing when it is not a file on disk.
std::optional<FileIdentity> standardOutputIdentity();

// Which file or folder a path in Windows form, as a box holds it, names (by any spelling or
// link); nothing when it names none.
std::optional<FileIdentity> identityAt(std::u16string_view path);

// A write to a pipe whose reader is gone fails as any failed write does, rather than ending
// the program.
void keepRunningOnClosedPipes();

// Opens a file for writing at a path in Windows form, as a box holds it, creating it when
// absent, without emptying it.
std::unique_ptr<OutputFile> openOutputFile(std::u16string_view path);
