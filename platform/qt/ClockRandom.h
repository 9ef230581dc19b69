#pragma once

#include "platform/RandomSource.h"

#include <random>

// Rnd and Randomize on a generator seeded from the clock.
class ClockRandom : public RandomSource {
  public:
    void randomize() override;
    double rnd() override;

  private:
    std::mt19937_64 m_generator;
};
