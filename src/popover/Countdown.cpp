#include "Countdown.h"

#include "engine/SaturatingTime.h"
#include "preferences/PreferenceKeys.h"

#include <algorithm>
#include <cmath>

namespace Countdown {

bool isWarning(qint64 remainingSeconds, qint64 countdownWarningMinutes) {
    return remainingSeconds <
           SaturatingTime::minutesToSeconds(
               Keys::countdownWarningMinutes.range().clamp(countdownWarningMinutes));
}

QString formatTime(qint64 seconds, const QString& countdownStyle, bool showSecondsInCountdown) {
    const bool compact = countdownStyle == QLatin1String("compact");
    const qint64 s = std::max<qint64>(seconds, 0);
    // A stored timeout of centuries is no countdown anyone waits for.
    if (s > kNeverSeconds)
        return QStringLiteral("never");
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

QString formatMemory(qint64 bytes) {
    constexpr double kMiB = 1024.0 * 1024.0;
    const double mib = double(std::max<qint64>(bytes, 0)) / kMiB;
    if (mib < 0.5)
        return QStringLiteral("<1 MB");
    if (mib < 1000)
        return QStringLiteral("%1 MB").arg(std::llround(mib));
    return QStringLiteral("%1 GB").arg(mib / 1024, 0, 'f', 1);
}

} // namespace Countdown
