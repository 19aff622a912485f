#pragma once

#include <QWidget>

class QCheckBox;
class SettingsView;
class Stepper;

// The hidden-app rule, the force-quit fallback, the launch grace and the scan interval.
// A pure preference editor: the engine reads the keys on its own.
class BehaviorPane : public QWidget {
    Q_OBJECT
public:
    explicit BehaviorPane(SettingsView& view, QWidget* parent = nullptr);

    QCheckBox* ignoreHiddenAppsToggle() const { return m_ignoreHidden; }
    QCheckBox* forceQuitToggle() const { return m_forceQuit; }
    Stepper* launchGraceStepper() const { return m_grace; }
    Stepper* refreshStepper() const { return m_refresh; }

private:
    QCheckBox* m_ignoreHidden = nullptr;
    QCheckBox* m_forceQuit = nullptr;
    Stepper* m_grace = nullptr;
    Stepper* m_refresh = nullptr;
};
