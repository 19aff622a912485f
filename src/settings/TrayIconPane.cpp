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

// The tray icon's size and rendering, and which sections the popover shows.
QWidget* Panes::trayIcon(RunningAppsManager& manager) {
    using namespace SettingsControls;
    UserDefaults& store = manager.defaults();

    auto* icon = new QWidget;
    auto* iconRows = new QVBoxLayout(icon);
    iconRows->setContentsMargins(0, 0, 0, 0);
    const QString size = QStringLiteral("Icon size");
    iconRows->addWidget(makeRow(
        size, 130, makeSpinBox(size, {store, Keys::menuBarIconSize}, QStringLiteral("px"))));
    // Panels differ in colour: a silhouette in their own text colour fits every one.
    iconRows->addWidget(makeToggle(QStringLiteral("Monochrome icon in the panel's text color"),
                                   {store, Keys::menuBarIconTemplate}));

    auto* sections = new QWidget;
    auto* sectionRows = new QVBoxLayout(sections);
    sectionRows->setContentsMargins(0, 0, 0, 0);
    sectionRows->addWidget(makeToggle(QStringLiteral("Show Exclusions section in the popover"),
                                      {store, Keys::showExclusionsInPopover}));
    sectionRows->addWidget(
        makeToggle(QStringLiteral("Show empty state"), {store, Keys::showEmptyState}));
    auto* note = SettingsStyle::makeLabel(
        QStringLiteral("You can keep exclusions only in Settings if you want the popover tighter."),
        SettingsStyle::captionFont(), true);
    note->setWordWrap(true);
    sectionRows->addWidget(note);

    auto* pane = new QWidget;
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(SettingsStyle::kPaneSpacing);
    layout->addWidget(new PreferenceGroup(QStringLiteral("Tray icon"),
                                          QStringLiteral("tray.rectangle"), icon, store));
    layout->addWidget(new PreferenceGroup(QStringLiteral("Popover sections"),
                                          QStringLiteral("sidebar.leading"), sections, store));
    return pane;
}
