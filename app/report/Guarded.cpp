#include "app/report/Guarded.h"

#include "app/report/ErrorReport.h"
#include "base/Text.h"
#include "platform/PlatformError.h"

#include <cassert>
#include <new>

namespace {

std::u16string describeCurrentFailure() {
    try {
        throw;
    } catch (const PlatformError& error) {
        return error.description();
    } catch (const std::bad_alloc&) {
        return u"Out of memory";
    } catch (const std::exception& error) {
        return toWide(error.what());
    } catch (...) {
        return u"Unknown error";
    }
}

std::size_t rowAfter(std::span<const GuardedStep> steps, std::size_t row, int next) {
    if (next == kNextStep)
        return row + 1;
    if (next == kEndProcedure)
        return steps.size();
    for (std::size_t i = 0; i < steps.size(); ++i)
        if (steps[i].line == next)
            return i;
    assert(!"a step names a line that is not in its table");
    return steps.size();
}

} // namespace

void RunGuarded(MessageBoxes& boxes, std::u16string_view procedure,
                std::span<const GuardedStep> steps, const FailureReported& reported) {
    const std::u16string tag = procedureTag(procedure);
    std::size_t row = 0;
    while (row < steps.size()) {
        int next;
        try {
            next = steps[row].action();
        } catch (...) {
            next = steps[row].resume;
            const std::u16string description = describeCurrentFailure();
            // An observer that fails must not hide the report, nor a report that cannot be
            // shown stop the procedure.
            try {
                if (reported)
                    reported(steps[row].line, description);
            } catch (...) {
            }
            try {
                ShowErrorReport(boxes, description, tag, steps[row].line);
            } catch (...) {
            }
        }
        row = rowAfter(steps, row, next);
    }
}
