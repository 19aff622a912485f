#pragma once

#include <QWidget>

class QCheckBox;
class SettingsView;
class Stepper;

// The tray icon's size and rendering, and which sections the popover shows.
class MenuBarPane : public QWidget {
    Q_OBJECT
public:
    explicit MenuBarPane(SettingsView& view, QWidget* parent = nullptr);

    Stepper* iconSizeStepper() const { return m_iconSize; }
    QCheckBox* templateToggle() const { return m_template; }
    QCheckBox* showExclusionsToggle() const { return m_showExclusions; }
    QCheckBox* showEmptyStateToggle() const { return m_showEmptyState; }

private:
    Stepper* m_iconSize = nullptr;
    QCheckBox* m_template = nullptr;
    QCheckBox* m_showExclusions = nullptr;
    QCheckBox* m_showEmptyState = nullptr;
};
