#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <span>
#include <stdexcept>
#include <string_view>

class MessageBoxes;

// Where a step goes on: the next row, the end of the procedure, or the first row with a
// given line number.
inline constexpr int kNextStep = -1;
inline constexpr int kEndProcedure = -2;

// Every place one step's action may answer; fixed as the program builds.
class StepExits {
  public:
    consteval StepExits(std::initializer_list<int> exits) : m_count(exits.size()) {
        if (exits.size() > m_exits.size())
            throw std::length_error("a step has more exits than a route holds");
        std::copy(exits.begin(), exits.end(), m_exits.begin());
    }
    constexpr const int* begin() const { return m_exits.data(); }
    constexpr const int* end() const { return m_exits.data() + m_count; }

  private:
    std::array<int, 2> m_exits{};
    std::size_t m_count;
};

// A step's place in its procedure: its line, where its action may go on, and where the
// procedure resumes after the step fails, once the failure is reported.
struct StepRoute {
    int line;
    StepExits next;
    int resume;
};

// One numbered statement of a guarded procedure, in the order of its routes.
struct GuardedStep {
    int line;
    std::function<int()> action; // returns where to go on, one of its route's exits
};

// Told of a failure at a step before its report is shown.
using FailureReported = std::function<void(int line, std::u16string_view description)>;

// Whether every place the routes name is in their table: a line of a step, the end, or a
// next row that exists.
consteval bool routesLand(std::span<const StepRoute> routes) {
    for (std::size_t row = 0; row < routes.size(); ++row) {
        const auto lands = [&](int exit) {
            return exit == kEndProcedure || (exit == kNextStep && row + 1 < routes.size()) ||
                   std::ranges::any_of(routes, [&](const StepRoute& r) { return r.line == exit; });
        };
        if (!lands(routes[row].resume) || !std::ranges::all_of(routes[row].next, lands))
            return false;
    }
    return true;
}

// RunGuarded's run, once its routes are checked.
void runGuardedSteps(MessageBoxes& boxes, std::u16string_view procedure,
                     std::span<const StepRoute> routes, std::span<const GuardedStep> steps,
                     const FailureReported& reported);

// Runs the steps from the first. A failing step shows the error report with the procedure's
// tag and the step's line number, then the run resumes where its route says; so does a step
// whose action goes where its route does not lead. Steps that do not match their routes line
// for line are reported and not run.
template <const auto& routes, std::size_t N>
void RunGuarded(MessageBoxes& boxes, std::u16string_view procedure, const GuardedStep (&steps)[N],
                const FailureReported& reported = {}) {
    static_assert(std::size(routes) == N, "a guarded procedure has one route per step");
    static_assert(routesLand(routes), "a step may go to a line that is not in its table");
    runGuardedSteps(boxes, procedure, routes, steps, reported);
}
