#include "Panes.h"

#include "Controls.h"
#include "PreferenceGroup.h"
#include "SettingsStyle.h"

#include "engine/RunningAppsManager.h"
#include "preferences/PreferenceKeys.h"

#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

// The hidden-app rule, the force-quit fallback, asking only while the user is away, the
// notice before closing, the launch grace and the scan interval.
// A pure preference editor: the engine reads the keys on its own.
QWidget* Panes::behavior(RunningAppsManager& manager) {
    using namespace SettingsControls;
    UserDefaults& store = manager.defaults();

    auto* rules = new QWidget;
    auto* rulesLayout = new QVBoxLayout(rules);
    rulesLayout->setContentsMargins(0, 0, 0, 0);
    rulesLayout->addWidget(
        makeToggle(QStringLiteral("Ignore hidden apps"), {store, Keys::ignoreHiddenApps}));
    rulesLayout->addWidget(makeToggle(QStringLiteral("Force quit if normal quit fails"),
                                      {store, Keys::forceQuitIfTerminateFails}));
    if (!manager.workspace().canForceQuit()) {
        auto* unavailable = SettingsStyle::makeLabel(
            QStringLiteral("On this desktop every window can be asked to close, so Idlewatch "
                           "only ever asks apps to quit and never forces them."),
            SettingsStyle::captionFont(), true);
        unavailable->setWordWrap(true);
        rulesLayout->addWidget(unavailable);
    }
    rulesLayout->addWidget(
        makeToggle(QStringLiteral("Only quit while I'm away"), {store, Keys::onlyQuitWhileAway}));
    auto* away = SettingsStyle::makeLabel(
        QStringLiteral("Apps are asked after two minutes without keyboard or mouse, or while the "
                       "screen is locked, so no question they ask meets your typing."),
        SettingsStyle::captionFont(), true);
    away->setWordWrap(true);
    rulesLayout->addWidget(away);
    const QString notice = QStringLiteral("Tell me before closing");
    QSpinBox* noticeMinutes =
        makeSpinBox(notice, {store, Keys::closingNoticeMinutes}, QStringLiteral("m"));
    noticeMinutes->setSpecialValueText(QStringLiteral("Off"));
    rulesLayout->addWidget(makeRow(notice, 170, noticeMinutes,
                                   SettingsStyle::makeLabel(QStringLiteral("with a notification"),
                                                            SettingsStyle::bodyFont(), true)));
    const QString grace = QStringLiteral("Launch grace period");
    rulesLayout->addWidget(makeRow(
        grace, 170, makeSpinBox(grace, {store, Keys::launchGraceMinutes}, QStringLiteral("m")),
        SettingsStyle::makeLabel(QStringLiteral("before an app can be quit"),
                                 SettingsStyle::bodyFont(), true)));

    auto* scanning = new QWidget;
    auto* scanningLayout = new QVBoxLayout(scanning);
    scanningLayout->setContentsMargins(0, 0, 0, 0);
    const QString refresh = QStringLiteral("Refresh running apps every");
    scanningLayout->addWidget(
        makeRow(refresh, 170,
                makeSpinBox(refresh, {store, Keys::openAppsRefreshSeconds}, QStringLiteral("s"))));
    auto* note = SettingsStyle::makeLabel(
        QStringLiteral("Lower values feel more live; higher values use less background work."),
        SettingsStyle::captionFont(), true);
    note->setWordWrap(true);
    scanningLayout->addWidget(note);

    auto* pane = new QWidget;
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(SettingsStyle::kPaneSpacing);
    layout->addWidget(new PreferenceGroup(QStringLiteral("Quitting rules"), QStringLiteral("bolt"),
                                          rules, store));
    layout->addWidget(new PreferenceGroup(QStringLiteral("Scanning"), QStringLiteral("speedometer"),
                                          scanning, store));
    return pane;
}
