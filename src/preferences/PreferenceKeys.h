#pragma once

#include "UserDefaults.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <algorithm>
#include <span>

// The one table of preference keys: name, type, default and, for integers, the range.
// Every reader takes its default from here, through Preference<T>.
template <typename T> struct PreferenceKey;

// The values an integer preference may take: what its control offers (in steps of `step`)
// and what every reader clamps a stored value to, so both agree on an out-of-range value.
struct IntRange {
    qint64 minimum;
    qint64 maximum;
    qint64 step = 1;
    constexpr qint64 clamp(qint64 value) const { return std::clamp(value, minimum, maximum); }
};

template <> struct PreferenceKey<qint64> {
    const char* name;
    qint64 defaultValue;
    IntRange valueRange;
    constexpr const IntRange& range() const { return valueRange; }
};
template <> struct PreferenceKey<bool> {
    const char* name;
    bool defaultValue;
};
template <> struct PreferenceKey<QString> {
    const char* name;
    const char* defaultValue;
};
// Byte blobs default to empty.
template <> struct PreferenceKey<QByteArray> {
    const char* name;
    EntryMerge merge = {};
};

namespace Keys {

inline constexpr PreferenceKey<qint64> minutesUntilClose{"minutesUntilClose", 480, {1, 4320}};
inline constexpr PreferenceKey<bool> quittingEnabled{"quittingEnabled", true};
inline constexpr PreferenceKey<bool> showCloseButton{"showCloseButton", false};
inline constexpr PreferenceKey<qint64> openAppsRefreshSeconds{"openAppsRefreshSeconds", 5, {1, 30}};
inline constexpr PreferenceKey<qint64> launchGraceMinutes{"launchGraceMinutes", 0, {0, 120}};
inline constexpr PreferenceKey<bool> ignoreHiddenApps{"ignoreHiddenApps", false};
inline constexpr PreferenceKey<bool> newAppsEnabled{"newAppsEnabled", true};
inline constexpr PreferenceKey<bool> forceQuitIfTerminateFails{"forceQuitIfTerminateFails", false};
// Requests wait until nobody has touched keyboard or pointer for two minutes.
inline constexpr PreferenceKey<bool> onlyQuitWhileAway{"onlyQuitWhileAway", true};
// Minutes of notice a notification gives before an application is asked; 0 gives none.
inline constexpr PreferenceKey<qint64> closingNoticeMinutes{"closingNoticeMinutes", 5, {0, 60}};
inline constexpr PreferenceKey<bool> showExclusionsInPopover{"showExclusionsInPopover", true};
inline constexpr PreferenceKey<bool> showEmptyState{"showEmptyState", true};
inline constexpr PreferenceKey<bool> compactRows{"compactRows", false};
inline constexpr PreferenceKey<qint64> popoverWidth{"popoverWidth", 320, {280, 520, 20}};
inline constexpr PreferenceKey<qint64> rowIconSize{"rowIconSize", 28, {20, 40, 2}};
inline constexpr PreferenceKey<qint64> countdownWarningMinutes{
    "countdownWarningMinutes", 60, {1, 180, 5}};
inline constexpr PreferenceKey<QString> countdownStyle{"countdownStyle", "verbose"};
inline constexpr PreferenceKey<QString> sortMode{"sortMode", "name"};
inline constexpr PreferenceKey<QString> accentColor{"accentColor", "purple"};
inline constexpr PreferenceKey<bool> showSecondsInCountdown{"showSecondsInCountdown", true};
inline constexpr PreferenceKey<qint64> menuBarIconSize{"menuBarIconSize", 18, {14, 24}};
inline constexpr PreferenceKey<bool> menuBarIconTemplate{"menuBarIconTemplate", true};
// Set once the first start has said what Idlewatch does.
inline constexpr PreferenceKey<bool> firstRunNoticeShown{"firstRunNoticeShown", false};

inline constexpr PreferenceKey<QByteArray> toggleStatus{"com.Idlewatch.toggleStatus",
                                                        {EntryMerge::Form::Members}};
inline constexpr PreferenceKey<QByteArray> excludedApps{
    "com.Idlewatch.excludedApps", {EntryMerge::Form::Elements, "bundleIdentifier"}};
// The day (since the epoch) each name of the toggle map was last seen running:
// {"Name": 20250, ...}. It lets the store forget the names unseen the longest when it must.
inline constexpr PreferenceKey<QByteArray> toggleLastSeen{"com.Idlewatch.toggleStatus.lastSeen",
                                                          {EntryMerge::Form::Members}};

// Each application's own idle timeout in minutes, by display name like the switches:
// {"Firefox": 120, ...}. Names without an entry use "minutesUntilClose".
inline constexpr PreferenceKey<QByteArray> appTimeouts{"com.Idlewatch.appTimeouts",
                                                       {EntryMerge::Form::Members}};
// What an application's own timeout may be: 15 minutes to 72 hours.
inline constexpr IntRange appTimeoutRange{15, 4320};

// Legacy idle time in hours, read once by the migration; it has no default.
inline constexpr char hoursUntilClose[] = "hoursUntilClose";

// One row of the table, for code that walks every key (diagnostics, tests).
struct Entry {
    const char* name;
    UserDefaults::Type type;
    QVariant defaultValue; // invalid for the legacy key
    EntryMerge merge = {};
};

// The 23 preference keys in the order the settings declare them, then the four data keys,
// then the legacy key.
std::span<const Entry> all();

// How the store merges the value of `key` with another process's writes.
EntryMerge mergeOf(const QString& key);

} // namespace Keys

// A live binding of one key: every read goes to the store, so it never holds a stale value.
// A stored value of another type than the table's (written by an outside tool) reads as
// the default; an integer outside its key's range reads clamped to it, so the screen and
// the engine always agree on a hand-edited value.
template <typename T> class Preference {
public:
    Preference(UserDefaults& store, const PreferenceKey<T>& key)
        : m_store(&store)
        , m_key(key) {}

    T value() const {
        if (auto stored = m_store->get<T>(QString::fromLatin1(m_key.name))) {
            if constexpr (std::is_same_v<T, qint64>)
                return m_key.range().clamp(*stored);
            else
                return *stored;
        }
        return defaultValue();
    }
    T operator()() const { return value(); }
    const IntRange& range() const requires std::is_same_v<T, qint64> { return m_key.range(); }

    void set(const T& value) const;

    bool isStored() const { return m_store->contains(QString::fromLatin1(m_key.name)); }
    QString name() const { return QString::fromLatin1(m_key.name); }
    UserDefaults& store() const { return *m_store; }

    T defaultValue() const {
        if constexpr (std::is_same_v<T, QString>)
            return QString::fromUtf8(m_key.defaultValue);
        else if constexpr (std::is_same_v<T, QByteArray>)
            return QByteArray();
        else
            return m_key.defaultValue;
    }

private:
    UserDefaults* m_store;
    PreferenceKey<T> m_key;
};

template <> inline void Preference<qint64>::set(const qint64& value) const {
    m_store->setInteger(name(), value);
}
template <> inline void Preference<bool>::set(const bool& value) const {
    m_store->setBoolean(name(), value);
}
template <> inline void Preference<QString>::set(const QString& value) const {
    m_store->setText(name(), value);
}
template <> inline void Preference<QByteArray>::set(const QByteArray& value) const {
    m_store->setData(name(), value);
}
