#pragma once

#include <QtGlobal>

#include <cmath>
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

// Whole seconds of a difference of Clock times, truncated toward zero; saturated at the
// ends of the range, 0 for a time that is not a number.
inline qint64 truncatedSeconds(double seconds) {
    if (std::isnan(seconds))
        return 0;
    // 2^63 is exactly representable; anything at or beyond it saturates.
    if (seconds >= 9223372036854775808.0)
        return std::numeric_limits<qint64>::max();
    if (seconds <= -9223372036854775808.0)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(std::trunc(seconds));
}

inline qint64 subtract(qint64 a, qint64 b) {
    qint64 out;
    if (__builtin_sub_overflow(a, b, &out))
        return b > 0 ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
    return out;
}

} // namespace SaturatingTime
