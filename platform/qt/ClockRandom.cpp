#include "platform/qt/ClockRandom.h"

#include <chrono>

void ClockRandom::randomize() {
    m_generator.seed(
        static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()));
}

double ClockRandom::rnd() {
    return std::uniform_real_distribution<double>(0.0, 1.0)(m_generator);
}
