#pragma once

#include <chrono>
#include <functional>
#include <iosfwd>
#include <string_view>

// Standard error of a run: its messages, and "lines done / lines" once the run passes a second
// where standard error is a terminal, taken away before any message and at the end.
class ProgressDisplay {
  public:
    using Clock = std::chrono::steady_clock;

    ProgressDisplay(std::ostream& err, bool terminal,
                    std::function<Clock::time_point()> now = Clock::now);

    // The run has this many lines; its second starts now.
    void start(int lines);
    // `done` lines are over, read from the clock between lines.
    void show(int done);
    // One line of text, prefixed with the program's name.
    void say(std::string_view message);
    void clear();

  private:
    std::ostream& m_err;
    bool m_terminal;
    std::function<Clock::time_point()> m_now;
    Clock::time_point m_start;
    int m_lines = 0;
    bool m_shown = false;
};
