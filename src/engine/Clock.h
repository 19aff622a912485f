#pragma once

// The source of every time the engine uses: seconds, with sub-second precision, that never
// jump and keep counting through suspend. Setting the wall clock, NTP stepping it or a bad
// RTC moves no countdown. Tests use a manual clock to cover hours in microseconds.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
};

// CLOCK_BOOTTIME: seconds since boot, suspend included.
class SystemClock final : public Clock {
public:
    double now() const override;
};
