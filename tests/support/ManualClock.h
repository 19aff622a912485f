#pragma once

#include "engine/Clock.h"
#include "engine/UserPresence.h"

// A clock that moves only when told: hours of idleness pass in a function call.
class ManualClock final : public Clock {
public:
    double now() const override { return m_now; }
    void advance(double seconds) { m_now += seconds; }

private:
    double m_now = 1'000'000.0; // seconds since boot
};

// An idle counter on a manual clock, as the desktop keeps one: away once nobody has touched
// keyboard or pointer for two minutes.
class ManualPresence final : public UserPresence {
public:
    explicit ManualPresence(const ManualClock& clock)
        : m_clock(clock) {}
    State state() override {
        return m_clock.now() - m_lastInput >= kAwayAfterSeconds ? State::Away : State::Present;
    }
    void input() { m_lastInput = m_clock.now(); }

private:
    const ManualClock& m_clock;
    double m_lastInput = 0; // none since boot
};
