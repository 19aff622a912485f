#include "Preferences.h"

#include "PreferenceKeys.h"
#include "UserDefaults.h"

#include <algorithm>
#include <limits>

namespace Preferences {

namespace {
constexpr qint64 kMinIdleMinutes = Keys::minutesUntilClose.range().minimum;
constexpr qint64 kMaxIdleMinutes = Keys::minutesUntilClose.range().maximum;

// hours × 60 clamped to 1...4320 without ever forming a product that overflows.
qint64 legacyHoursToMinutes(qint64 hours) {
    if (hours < 1)
        return kMinIdleMinutes;
    if (hours > kMaxIdleMinutes / 60)
        return kMaxIdleMinutes;
    return std::clamp(hours * 60, kMinIdleMinutes, kMaxIdleMinutes);
}
} // namespace

void migrateIdleTimePreferenceIfNeeded(UserDefaults& userDefaults) {
    const QString minutesKey = QString::fromLatin1(Keys::minutesUntilClose.name);
    if (userDefaults.contains(minutesKey))
        return;
    const std::optional<qint64> hours =
        userDefaults.integer(QString::fromLatin1(Keys::hoursUntilClose));
    if (!hours)
        return;
    userDefaults.setInteger(minutesKey, legacyHoursToMinutes(*hours));
}

QString formattedIdleTime(qint64 minutes) {
    const qint64 m = Keys::minutesUntilClose.range().clamp(minutes);
    if (minutes >= 60) {
        const qint64 h = m / 60;
        const qint64 r = m % 60;
        if (r == 0)
            return QStringLiteral("%1h").arg(h);
        return QStringLiteral("%1h %2m").arg(h).arg(r);
    }
    return QStringLiteral("%1m").arg(m);
}

// The platform standard colours, as sRGB (the system colours of the light appearance).
QColor accentColor(const QString& named) {
    if (named == QLatin1String("blue"))
        return QColor(0, 122, 255);
    if (named == QLatin1String("green"))
        return QColor(52, 199, 89);
    if (named == QLatin1String("orange"))
        return QColor(255, 149, 0);
    if (named == QLatin1String("pink"))
        return QColor(255, 45, 85);
    if (named == QLatin1String("graphite"))
        return QColor(142, 142, 147);
    if (named == QLatin1String("gold"))
        return goldColor();
    return QColor(175, 82, 222);
}

QColor goldColor() {
    return QColor::fromRgbF(0.95f, 0.63f, 0.18f, 1.0f);
}

} // namespace Preferences
