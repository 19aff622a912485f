#pragma once

#include <QString>

#include <array>

class UserDefaults;

// A named bundle of timer, scanning, filtering and popover values applied with one click.
// The three presets are fixed at build time; nothing records which one was applied last.
struct BehaviorPreset {
    QString id;
    QString title;
    QString detail;
    // Symbol name of the row's icon (see ui/Symbols.h).
    QString icon;
    qint64 minutesUntilClose;
    qint64 countdownWarningMinutes;
    qint64 openAppsRefreshSeconds;
    qint64 launchGraceMinutes;
    bool ignoreHiddenApps;
    bool compactRows;
    QString sortMode;

    // "battery", "focus", "deepClean", in display order.
    static const std::array<BehaviorPreset, 3>& all();
    // The preset with this id; nullptr when there is none.
    static const BehaviorPreset* find(const QString& id);

    // Writes the preset's eight keys, in order: the seven values, then "accentColor" set to
    // "gold". Every write happens even when the key already holds the value. Restarting the
    // countdowns is the engine's part (applyPreset).
    void writeTo(UserDefaults& defaults) const;

    friend bool operator==(const BehaviorPreset&, const BehaviorPreset&) = default;
};
