#include "PreferenceKeys.h"

#include <array>

namespace Keys {

namespace {
template <typename T> Entry row(const PreferenceKey<T>& key, UserDefaults::Type type) {
    if constexpr (std::is_same_v<T, QString>)
        return {key.name, type, QVariant(QString::fromUtf8(key.defaultValue))};
    else if constexpr (std::is_same_v<T, QByteArray>)
        return {key.name, type, QVariant(QByteArray()), key.merge};
    else
        return {key.name, type, QVariant::fromValue(key.defaultValue)};
}
} // namespace

std::span<const Entry> all() {
    using T = UserDefaults::Type;
    static const std::array<Entry, 28> table{
        row(minutesUntilClose, T::Integer),
        row(quittingEnabled, T::Boolean),
        row(showCloseButton, T::Boolean),
        row(openAppsRefreshSeconds, T::Integer),
        row(launchGraceMinutes, T::Integer),
        row(ignoreHiddenApps, T::Boolean),
        row(newAppsEnabled, T::Boolean),
        row(forceQuitIfTerminateFails, T::Boolean),
        row(onlyQuitWhileAway, T::Boolean),
        row(closingNoticeMinutes, T::Integer),
        row(showExclusionsInPopover, T::Boolean),
        row(showEmptyState, T::Boolean),
        row(compactRows, T::Boolean),
        row(popoverWidth, T::Integer),
        row(rowIconSize, T::Integer),
        row(countdownWarningMinutes, T::Integer),
        row(countdownStyle, T::Text),
        row(sortMode, T::Text),
        row(accentColor, T::Text),
        row(showSecondsInCountdown, T::Boolean),
        row(menuBarIconSize, T::Integer),
        row(menuBarIconTemplate, T::Boolean),
        row(firstRunNoticeShown, T::Boolean),
        row(toggleStatus, T::Data),
        row(excludedApps, T::Data),
        row(toggleLastSeen, T::Data),
        row(appTimeouts, T::Data),
        Entry{hoursUntilClose, T::Integer, QVariant()},
    };
    return table;
}

EntryMerge mergeOf(const QString& key) {
    for (const Entry& entry : all()) {
        if (key == QLatin1String(entry.name))
            return entry.merge;
    }
    return {};
}

} // namespace Keys
