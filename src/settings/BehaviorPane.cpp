#include "BehaviorPane.h"

#include "Controls.h"
#include "PreferenceGroup.h"
#include "SettingsStyle.h"
#include "SettingsView.h"

#include "preferences/PreferenceKeys.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

BehaviorPane::BehaviorPane(SettingsView& view, QWidget* parent)
    : QWidget(parent) {
    UserDefaults& store = view.store();

    auto* rules = new QWidget;
    auto* rulesLayout = new QVBoxLayout(rules);
    rulesLayout->setContentsMargins(0, 0, 0, 0);
    m_ignoreHidden =
        SettingsControls::makeToggle(QStringLiteral("Ignore hidden apps"),
                                     Preference<bool>(store, Keys::ignoreHiddenApps), rules);
    m_forceQuit = SettingsControls::makeToggle(
        QStringLiteral("Force quit if normal quit fails"),
        Preference<bool>(store, Keys::forceQuitIfTerminateFails), rules);
    rulesLayout->addWidget(m_ignoreHidden);
    rulesLayout->addWidget(m_forceQuit);
    m_grace = makePreferenceStepper(QStringLiteral("Launch grace period"),
                                    Preference<qint64>(store, Keys::launchGraceMinutes),
                                    {0, 120, 1}, QStringLiteral("m"), 54);
    rulesLayout->addWidget(
        makeStepperRow(QStringLiteral("Launch grace period"), 170, m_grace,
                       SettingsStyle::makeLabel(QStringLiteral("before an app can be quit"),
                                                SettingsStyle::bodyFont(), true),
                       rules));

    auto* scanning = new QWidget;
    auto* scanningLayout = new QVBoxLayout(scanning);
    scanningLayout->setContentsMargins(0, 0, 0, 0);
    m_refresh = makePreferenceStepper(QStringLiteral("Refresh running apps every"),
                                      Preference<qint64>(store, Keys::openAppsRefreshSeconds),
                                      {1, 30, 1}, QStringLiteral("s"), 54);
    scanningLayout->addWidget(makeStepperRow(QStringLiteral("Refresh running apps every"), 170,
                                             m_refresh, nullptr, scanning));
    auto* note = SettingsStyle::makeLabel(
        QStringLiteral("Lower values feel more live; higher values use less background work."),
        SettingsStyle::captionFont(), true, scanning);
    note->setWordWrap(true);
    scanningLayout->addWidget(note);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(SettingsView::kPaneSpacing);
    layout->addWidget(new PreferenceGroup(QStringLiteral("Quitting rules"), QStringLiteral("bolt"),
                                          rules, store, this));
    layout->addWidget(new PreferenceGroup(QStringLiteral("Scanning"), QStringLiteral("speedometer"),
                                          scanning, store, this));
}
