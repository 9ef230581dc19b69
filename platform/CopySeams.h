#pragma once

#include <functional>
#include <system_error>

// The points of a copy where a test may act: each lies between a check and the use it guards.
enum class CopyPoint {
    TargetChecked,   // the target is resolved and judged; nothing is written yet
    ContentCopied,   // after each piece of the content
    BeforeLastCheck, // the new file is whole; the target's name is checked once more next
};

// What the copy holds open at a point.
struct CopyHolding {
    bool folder = false; // the folder of the target's final file
    bool target = false; // the checked target file itself
};

// Host calls a test may make fail (Windows only), for faults Wine cannot produce.
enum class HostCall {
    CreateTemporary, // creating the temporary file
    MarkDeleted,     // its delete disposition, set right after it is created
    SetAttributes,   // the attributes the new file takes before its rename
    Rename,          // the rename over the target
};

// Test seams of the copy: a call at each point, and fallbacks forced for the file systems and
// kernels this machine does not have.
struct CopySeams {
    std::function<void(CopyPoint)> at;
    // Told what the copy holds at each point.
    std::function<void(CopyPoint, const CopyHolding&)> held;
    // POSIX only:
    bool noAnonymousFiles = false; // as on a file system without O_TMPFILE
    bool noProcLinks = false;      // as without /proc: anonymous files are named by AT_EMPTY_PATH
    bool noEmptyPathLinks = false; // as where AT_EMPTY_PATH needs a capability we lack
    // Windows only: the error a host call fails with instead of being made; none when empty.
    std::function<std::error_code(HostCall)> fail;
    // Windows only: the rename over a held target with POSIX semantics made as a plain one,
    // which Wine, lacking the former, still carries out.
    bool posixRenameAsPlain = false;
};
