#include "batch/ProgressDisplay.h"

#include <ostream>

ProgressDisplay::ProgressDisplay(std::ostream& err, bool terminal,
                                 std::function<Clock::time_point()> now)
    : m_err(err), m_terminal(terminal), m_now(std::move(now)), m_start(m_now()) {}

void ProgressDisplay::start(int lines) {
    m_lines = lines;
    m_start = m_now();
}

void ProgressDisplay::show(int done) {
    if (!m_terminal || m_now() - m_start < std::chrono::seconds(1))
        return;
    m_err << "\rquorvane-batch: " << done << " / " << m_lines << std::flush;
    m_shown = true;
}

void ProgressDisplay::say(std::string_view message) {
    clear();
    m_err << "quorvane-batch: " << message << '\n';
}

void ProgressDisplay::clear() {
    if (m_shown)
        m_err << "\r\033[K";
    m_shown = false;
}
