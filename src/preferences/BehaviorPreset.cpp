#include "BehaviorPreset.h"

#include "PreferenceKeys.h"

const std::array<BehaviorPreset, 3>& BehaviorPreset::all() {
    static const std::array<BehaviorPreset, 3> presets{{
        {QStringLiteral("battery"), QStringLiteral("Battery Saver"),
         QStringLiteral("Quit unused apps quickly and keep the popover compact."),
         QStringLiteral("battery.75"), 10, 5, 10, 2, true, true, QStringLiteral("remaining")},
        {QStringLiteral("focus"), QStringLiteral("Focus Sprint"),
         QStringLiteral("Gentler cleanup for deep work blocks."), QStringLiteral("scope"), 45, 10,
         5, 5, false, false, QStringLiteral("recent")},
        {QStringLiteral("deepClean"), QStringLiteral("Deep Clean"),
         QStringLiteral("Short timers for a busy desktop."), QStringLiteral("sparkles"), 5, 3, 3, 1,
         true, true, QStringLiteral("remaining")},
    }};
    return presets;
}

const BehaviorPreset* BehaviorPreset::find(const QString& id) {
    for (const BehaviorPreset& preset : all()) {
        if (preset.id == id)
            return &preset;
    }
    return nullptr;
}

void BehaviorPreset::writeTo(UserDefaults& defaults) const {
    Preference<qint64>(defaults, Keys::minutesUntilClose).set(minutesUntilClose);
    Preference<qint64>(defaults, Keys::countdownWarningMinutes).set(countdownWarningMinutes);
    Preference<qint64>(defaults, Keys::openAppsRefreshSeconds).set(openAppsRefreshSeconds);
    Preference<qint64>(defaults, Keys::launchGraceMinutes).set(launchGraceMinutes);
    Preference<bool>(defaults, Keys::ignoreHiddenApps).set(ignoreHiddenApps);
    Preference<bool>(defaults, Keys::compactRows).set(compactRows);
    Preference<QString>(defaults, Keys::sortMode).set(sortMode);
    Preference<QString>(defaults, Keys::accentColor).set(QStringLiteral("gold"));
}
