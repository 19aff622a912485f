#pragma once

// The source of every time the engine uses: wall-clock seconds since the epoch, with
// sub-second precision. Tests use a manual clock to cover hours in microseconds.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
};

class SystemClock final : public Clock {
public:
    double now() const override;
};
