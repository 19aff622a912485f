#pragma once

#include <QtGlobal>

#include <limits>

// Stored minutes come from a file any tool can edit, so a value may be anywhere in the
// 64-bit range. Converting minutes to seconds saturates at the ends of that range instead
// of overflowing: INT64_MAX minutes means "never" (the timeout or grace is never reached),
// INT64_MIN behaves like any other negative value (the engine's own floors apply).
namespace SaturatingTime {

constexpr qint64 minutesToSeconds(qint64 minutes) {
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    if (minutes > max / 60)
        return max;
    if (minutes < min / 60)
        return min;
    return minutes * 60;
}

} // namespace SaturatingTime
