#pragma once

// The pseudo-random generator of the platform.
class RandomSource {
  public:
    virtual ~RandomSource() = default;
    // Seeds from the system clock.
    virtual void randomize() = 0;
    // The next fraction in [0, 1).
    virtual double rnd() = 0;
};
