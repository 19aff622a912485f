#include "Clock.h"

#include <QDateTime>

double SystemClock::now() const {
    return static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}
