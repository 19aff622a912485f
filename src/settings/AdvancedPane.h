#pragma once

#include <QWidget>

class QPushButton;
class SettingsView;
class UserDefaults;

// One-click maintenance on the engine and the reset of the display settings.
class AdvancedPane : public QWidget {
    Q_OBJECT
public:
    explicit AdvancedPane(SettingsView& view, QWidget* parent = nullptr);

    QPushButton* rescanButton() const { return m_rescan; }
    QPushButton* resetTimersButton() const { return m_resetTimers; }
    QPushButton* clearTogglesButton() const { return m_clearToggles; }
    QPushButton* restoreAppearanceButton() const { return m_restoreAppearance; }

private:
    QPushButton* m_rescan = nullptr;
    QPushButton* m_resetTimers = nullptr;
    QPushButton* m_clearToggles = nullptr;
    QPushButton* m_restoreAppearance = nullptr;
};

// Writes the appearance keys back to their defaults, with the accent set to "gold".
// Nothing else is touched: not the timers, the quitting keys nor the exclusions.
void restoreAppearanceDefaults(UserDefaults& store);
