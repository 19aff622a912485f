#include "Panes.h"

#include "Controls.h"
#include "PreferenceGroup.h"
#include "SettingsStyle.h"

#include "engine/RunningAppsManager.h"
#include "preferences/PreferenceKeys.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

void restoreAppearanceDefaults(UserDefaults& store) {
    const auto reset = [&store](const auto& key) {
        using Key = std::decay_t<decltype(key)>;
        if constexpr (std::is_same_v<Key, PreferenceKey<QString>>) {
            Preference<QString>(store, key).set(QString::fromLatin1(key.defaultValue));
        } else {
            using T = decltype(key.defaultValue);
            Preference<T>(store, key).set(key.defaultValue);
        }
    };
    Preference<QString>(store, Keys::accentColor).set(QStringLiteral("gold"));
    reset(Keys::popoverWidth);
    reset(Keys::rowIconSize);
    reset(Keys::compactRows);
    reset(Keys::countdownWarningMinutes);
    reset(Keys::countdownStyle);
    reset(Keys::sortMode);
    reset(Keys::showEmptyState);
    reset(Keys::showSecondsInCountdown);
    reset(Keys::menuBarIconSize);
    reset(Keys::menuBarIconTemplate);
    reset(Keys::showExclusionsInPopover);
}

// One-click maintenance on the engine and the reset of the display settings.
QWidget* Panes::advanced(RunningAppsManager& manager) {
    using SettingsControls::makeButton;
    auto* maintenance = new QWidget;
    auto* maintenanceRows = new QVBoxLayout(maintenance);
    maintenanceRows->setContentsMargins(0, 0, 0, 0);
    auto* buttons = new QHBoxLayout;
    auto* rescan = makeButton(QStringLiteral("Re-scan running apps"));
    auto* resetTimers = makeButton(QStringLiteral("Reset all timers"));
    buttons->addWidget(rescan);
    buttons->addWidget(resetTimers);
    buttons->addStretch(1);
    maintenanceRows->addLayout(buttons);
    auto* clearToggles = makeButton(QStringLiteral("Clear per-app on/off choices"));
    maintenanceRows->addWidget(clearToggles, 0, Qt::AlignLeft);

    auto* reset = new QWidget;
    auto* resetRows = new QVBoxLayout(reset);
    resetRows->setContentsMargins(0, 0, 0, 0);
    auto* restoreAppearance = makeButton(QStringLiteral("Restore appearance defaults"));
    resetRows->addWidget(restoreAppearance, 0, Qt::AlignLeft);
    auto* note = SettingsStyle::makeLabel(
        QStringLiteral("This keeps your exclusions and app timers intact."),
        SettingsStyle::captionFont(), true);
    note->setWordWrap(true);
    resetRows->addWidget(note);

    QObject::connect(rescan, &QPushButton::clicked, &manager,
                     &RunningAppsManager::addCurrentRunningApps);
    QObject::connect(resetTimers, &QPushButton::clicked, &manager,
                     &RunningAppsManager::resetAllTimers);
    QObject::connect(clearToggles, &QPushButton::clicked, &manager,
                     &RunningAppsManager::clearPerAppToggles);
    QObject::connect(restoreAppearance, &QPushButton::clicked, &manager,
                     [&manager] { restoreAppearanceDefaults(manager.defaults()); });

    auto* pane = new QWidget;
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(SettingsStyle::kPaneSpacing);
    layout->addWidget(new PreferenceGroup(QStringLiteral("Maintenance"),
                                          QStringLiteral("wrench.and.screwdriver"), maintenance,
                                          manager.defaults()));
    layout->addWidget(new PreferenceGroup(QStringLiteral("Reset display settings"),
                                          QStringLiteral("arrow.counterclockwise"), reset,
                                          manager.defaults()));
    return pane;
}
