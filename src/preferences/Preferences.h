#pragma once

#include <QColor>
#include <QString>

class UserDefaults;

namespace Preferences {

// Converts the legacy "hoursUntilClose" into "minutesUntilClose" once. Does nothing when
// "minutesUntilClose" holds any value, or when the legacy value is absent or not an integer.
void migrateIdleTimePreferenceIfNeeded(UserDefaults& userDefaults);

// Short text of an idle time: "8h", "1h 30m", "45m"; clamps to the range of
// "minutesUntilClose".
QString formattedIdleTime(qint64 minutes);

// The colour of an accent name; exact, case-sensitive; unknown names give purple.
QColor accentColor(const QString& named);

// The accent colour names offered for choice, in display order.
inline constexpr const char* kOfferedAccentColors[] = {"purple", "blue", "green",
                                                       "orange", "pink", "graphite"};

// The fixed gold written by presets and the appearance reset.
QColor goldColor();

} // namespace Preferences
