#pragma once

#include <functional>
#include <span>
#include <string_view>

class MessageBoxes;

// Where a step goes on: the next row, the end of the procedure, or the first row with a
// given line number.
inline constexpr int kNextStep = -1;
inline constexpr int kEndProcedure = -2;

// One numbered statement of a guarded procedure.
struct GuardedStep {
    int line;
    std::function<int()> action; // returns where to go on
    int resume;                  // where to go on after a failure, once it is reported
};

// Told of a failure at a step before its report is shown.
using FailureReported = std::function<void(int line, std::u16string_view description)>;

// Runs the steps from the first. A failing step shows the error report with the procedure's
// tag and the step's line number, then the run resumes where the step says.
void RunGuarded(MessageBoxes& boxes, std::u16string_view procedure,
                std::span<const GuardedStep> steps, const FailureReported& reported = {});
