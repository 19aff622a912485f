#include "Countdown.h"

#include "engine/SaturatingTime.h"

#include <cmath>
#include <limits>

namespace Countdown {

namespace {
constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

qint64 truncatedSeconds(double seconds) {
    if (std::isnan(seconds))
        return 0;
    // 2^63 is exactly representable; anything at or beyond it saturates.
    if (seconds >= 9223372036854775808.0)
        return kMax;
    if (seconds <= -9223372036854775808.0)
        return kMin;
    return static_cast<qint64>(std::trunc(seconds));
}

qint64 saturatingSub(qint64 a, qint64 b) {
    qint64 out;
    if (__builtin_sub_overflow(a, b, &out))
        return b > 0 ? kMin : kMax;
    return out;
}
} // namespace

qint64 remainingSeconds(qint64 minutesUntilClose, double lastDeactivation, double now) {
    return saturatingSub(SaturatingTime::minutesToSeconds(minutesUntilClose),
                         truncatedSeconds(now - lastDeactivation));
}

bool isWarning(qint64 remainingSeconds, qint64 countdownWarningMinutes) {
    return remainingSeconds <
           SaturatingTime::minutesToSeconds(std::max<qint64>(countdownWarningMinutes, 1));
}

QString formatTime(qint64 seconds, const QString& countdownStyle, bool showSecondsInCountdown) {
    const bool compact = countdownStyle == QLatin1String("compact");
    const qint64 s = std::max<qint64>(seconds, 0);
    if (s >= 3600) {
        const qint64 h = s / 3600;
        const qint64 rest = s % 3600;
        if (rest >= 60) {
            const qint64 m = rest / 60;
            return compact ? QStringLiteral("%1h %2m").arg(h).arg(m)
                           : QStringLiteral("%1h %2m left").arg(h).arg(m);
        }
        return compact ? QStringLiteral("%1h").arg(h) : QStringLiteral("%1h left").arg(h);
    }
    if (s >= 60)
        return compact ? QStringLiteral("%1m").arg(s / 60) : QStringLiteral("%1m left").arg(s / 60);
    if (showSecondsInCountdown)
        return compact ? QStringLiteral("%1s").arg(s) : QStringLiteral("%1s left").arg(s);
    return compact ? QStringLiteral("<1m") : QStringLiteral("less than 1m left");
}

} // namespace Countdown
