#pragma once

#include <QString>

// The arithmetic and texts of a row's countdown. Stored minutes may hold any 64-bit value
// (an outside tool can write them), so every step saturates instead of overflowing.
namespace Countdown {

// Whole seconds left: timeout minus the idle time truncated toward zero; negative when
// overdue, never clamped.
qint64 remainingSeconds(qint64 minutesUntilClose, double lastDeactivation, double now);

// remaining < max(warningMinutes, 1) minutes.
bool isWarning(qint64 remainingSeconds, qint64 countdownWarningMinutes);

// "2h 1m left", "2h left", "59m left", "59s left", "less than 1m left"; with the style
// exactly "compact": "2h 1m", "2h", "59m", "59s", "<1m". Negative seconds show as 0.
QString formatTime(qint64 seconds, const QString& countdownStyle, bool showSecondsInCountdown);

} // namespace Countdown
