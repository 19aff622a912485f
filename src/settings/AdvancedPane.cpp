#include "AdvancedPane.h"

#include "Controls.h"
#include "PreferenceGroup.h"
#include "SettingsStyle.h"
#include "SettingsView.h"

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

AdvancedPane::AdvancedPane(SettingsView& view, QWidget* parent)
    : QWidget(parent) {
    RunningAppsManager& manager = view.manager();

    auto* maintenance = new QWidget;
    auto* maintenanceRows = new QVBoxLayout(maintenance);
    maintenanceRows->setContentsMargins(0, 0, 0, 0);
    auto* buttons = new QHBoxLayout;
    m_rescan = SettingsControls::makeButton(QStringLiteral("Re-scan running apps"), maintenance);
    m_resetTimers = SettingsControls::makeButton(QStringLiteral("Reset all timers"), maintenance);
    buttons->addWidget(m_rescan);
    buttons->addWidget(m_resetTimers);
    buttons->addStretch(1);
    maintenanceRows->addLayout(buttons);
    m_clearToggles =
        SettingsControls::makeButton(QStringLiteral("Clear per-app on/off choices"), maintenance);
    maintenanceRows->addWidget(m_clearToggles, 0, Qt::AlignLeft);

    auto* reset = new QWidget;
    auto* resetRows = new QVBoxLayout(reset);
    resetRows->setContentsMargins(0, 0, 0, 0);
    m_restoreAppearance =
        SettingsControls::makeButton(QStringLiteral("Restore appearance defaults"), reset);
    resetRows->addWidget(m_restoreAppearance, 0, Qt::AlignLeft);
    auto* note = SettingsStyle::makeLabel(
        QStringLiteral("This keeps your exclusions and app timers intact."),
        SettingsStyle::captionFont(), true, reset);
    note->setWordWrap(true);
    resetRows->addWidget(note);

    connect(m_rescan, &QPushButton::clicked, &manager, &RunningAppsManager::addCurrentRunningApps);
    connect(m_resetTimers, &QPushButton::clicked, &manager, &RunningAppsManager::resetAllTimers);
    connect(m_clearToggles, &QPushButton::clicked, &manager,
            &RunningAppsManager::clearPerAppToggles);
    connect(m_restoreAppearance, &QPushButton::clicked, this,
            [&view] { restoreAppearanceDefaults(view.store()); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(SettingsView::kPaneSpacing);
    layout->addWidget(new PreferenceGroup(QStringLiteral("Maintenance"),
                                          QStringLiteral("wrench.and.screwdriver"), maintenance,
                                          view.store(), this));
    layout->addWidget(new PreferenceGroup(QStringLiteral("Reset display settings"),
                                          QStringLiteral("arrow.counterclockwise"), reset,
                                          view.store(), this));
}
