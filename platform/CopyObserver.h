#pragma once

// The points of a copy a test must reach: each lies between a check and the use it guards.
enum class CopyPoint {
    TargetChecked,   // the target is resolved and judged; nothing is written yet
    ContentCopied,   // after each piece of the content
    BeforeLastCheck, // the new file is whole; the target's name is checked once more next
    Busy,            // another program holds the target: the copy waits, then asks again
};

// What the copy holds open at a point.
struct CopyHolding {
    bool folder = false; // the folder of the target's final file
    bool target = false; // the checked target file itself
};

// Told at each point of a copy, for a test to act there (a race made to happen every time), or
// for a writer ahead to stop a copy no longer wanted by throwing.
class CopyObserver {
  public:
    virtual ~CopyObserver() = default;
    virtual void reached(CopyPoint point, const CopyHolding& holding) = 0;
};
