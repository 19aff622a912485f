#pragma once

#include <QString>

// The texts of a row's countdown; the seconds come from the engine's quit rule.
namespace Countdown {

// remaining < warningMinutes, clamped to the key's range, in minutes.
bool isWarning(qint64 remainingSeconds, qint64 countdownWarningMinutes);

// Beyond 999 days the countdown reads "never".
inline constexpr qint64 kNeverSeconds = 999LL * 24 * 3600;

// "2h 1m left", "2h left", "59m left", "59s left", "less than 1m left"; with the style
// exactly "compact": "2h 1m", "2h", "59m", "59s", "<1m". Negative seconds show as 0.
QString formatTime(qint64 seconds, const QString& countdownStyle, bool showSecondsInCountdown);

// Memory as the rows and the footer show it: "<1 MB", "840 MB", "2.3 GB" (powers of 1024).
QString formatMemory(qint64 bytes);

} // namespace Countdown
