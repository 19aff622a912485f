#pragma once

#include "engine/Clock.h"

// A clock that moves only when told: hours of idleness pass in a function call.
class ManualClock final : public Clock {
public:
    double now() const override { return m_now; }
    void advance(double seconds) { m_now += seconds; }

private:
    // An ordinary recent date, so that stamps look like real wall-clock times.
    double m_now = 1'750'000'000.0;
};
