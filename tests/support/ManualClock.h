#pragma once

#include "engine/Clock.h"

// A clock that moves only when told: hours of idleness pass in a function call.
class ManualClock final : public Clock {
public:
    // An ordinary recent date, so that stamps look like real wall-clock times.
    explicit ManualClock(double start = 1'750'000'000.0)
        : m_now(start) {}

    double now() const override { return m_now; }
    void set(double seconds) { m_now = seconds; }
    void advance(double seconds) { m_now += seconds; }

private:
    double m_now;
};
