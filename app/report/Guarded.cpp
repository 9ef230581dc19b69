#include "app/report/Guarded.h"

#include "app/report/ErrorReport.h"
#include "base/Text.h"
#include "platform/PlatformError.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string>

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

std::size_t rowAfter(std::span<const StepRoute> routes, std::size_t row, int next) {
    if (next == kNextStep)
        return row + 1;
    // kEndProcedure names no line, so it leads past the last row.
    const auto found = std::ranges::find(routes, next, &StepRoute::line);
    return static_cast<std::size_t>(found - routes.begin());
}

// The report of a failure at a line; an observer that fails must not hide it, nor a report
// that cannot be shown stop the procedure.
void report(MessageBoxes& boxes, std::u16string_view tag, const FailureReported& reported, int line,
            std::u16string_view description) {
    try {
        if (reported)
            reported(line, description);
    } catch (...) {
    }
    try {
        ShowErrorReport(boxes, description, tag, line);
    } catch (...) {
    }
}

} // namespace

void runGuardedSteps(MessageBoxes& boxes, std::u16string_view procedure,
                     std::span<const StepRoute> routes, std::span<const GuardedStep> steps,
                     const FailureReported& reported) {
    const std::u16string tag = procedureTag(procedure);
    for (std::size_t row = 0; row < steps.size(); ++row)
        if (steps[row].line != routes[row].line) {
            report(boxes, tag, reported, routes[row].line, u"Step table does not match its routes");
            return;
        }
    std::size_t row = 0;
    while (row < steps.size()) {
        const StepRoute& route = routes[row];
        int next = kEndProcedure;
        std::optional<std::u16string> failure;
        try {
            next = steps[row].action();
            if (!std::ranges::count(route.next, next))
                failure = u"Step went where its route does not lead";
        } catch (...) {
            failure = describeCurrentFailure();
        }
        if (failure) {
            report(boxes, tag, reported, route.line, *failure);
            next = route.resume;
        }
        row = rowAfter(routes, row, next);
    }
}
