#include "MenuBarPane.h"

#include "Controls.h"
#include "PreferenceGroup.h"
#include "SettingsStyle.h"
#include "SettingsView.h"

#include "preferences/PreferenceKeys.h"

#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>

MenuBarPane::MenuBarPane(SettingsView& view, QWidget* parent)
    : QWidget(parent) {
    UserDefaults& store = view.store();

    auto* icon = new QWidget;
    auto* iconRows = new QVBoxLayout(icon);
    iconRows->setContentsMargins(0, 0, 0, 0);
    m_iconSize = makePreferenceStepper(QStringLiteral("Icon size"),
                                       Preference<qint64>(store, Keys::menuBarIconSize),
                                       {14, 24, 1}, QStringLiteral("px"), 70);
    iconRows->addWidget(
        makeStepperRow(QStringLiteral("Icon size"), 130, m_iconSize, nullptr, icon));
    m_template =
        SettingsControls::makeToggle(QStringLiteral("Use macOS template rendering"),
                                     Preference<bool>(store, Keys::menuBarIconTemplate), icon);
    iconRows->addWidget(m_template);

    auto* sections = new QWidget;
    auto* sectionRows = new QVBoxLayout(sections);
    sectionRows->setContentsMargins(0, 0, 0, 0);
    m_showExclusions = SettingsControls::makeToggle(
        QStringLiteral("Show Exclusions section in the menu bar popover"),
        Preference<bool>(store, Keys::showExclusionsInPopover), sections);
    sectionRows->addWidget(m_showExclusions);
    m_showEmptyState =
        SettingsControls::makeToggle(QStringLiteral("Show empty state"),
                                     Preference<bool>(store, Keys::showEmptyState), sections);
    sectionRows->addWidget(m_showEmptyState);
    auto* note = SettingsStyle::makeLabel(
        QStringLiteral("You can keep exclusions only in Settings if you want the popover tighter."),
        SettingsStyle::captionFont(), true, sections);
    note->setWordWrap(true);
    sectionRows->addWidget(note);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(SettingsView::kPaneSpacing);
    layout->addWidget(new PreferenceGroup(QStringLiteral("Menu bar icon"),
                                          QStringLiteral("menubar.rectangle"), icon, store, this));
    layout->addWidget(new PreferenceGroup(QStringLiteral("Popover sections"),
                                          QStringLiteral("sidebar.leading"), sections, store,
                                          this));
}
