#include "Clock.h"

#include <QDateTime>

double SystemClock::now() const {
    return static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

SystemClock& SystemClock::shared() {
    // Lives until the process ends, like the engine that reads it.
    static SystemClock* clock = new SystemClock;
    return *clock;
}
