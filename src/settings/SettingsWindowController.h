#pragma once

#include "SettingsPane.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

class RunningAppsManager;
class SettingsView;

// Owns the one settings window of the process. The first openSettings builds it; later
// calls bring the same window forward as it was left, whatever pane they ask for. Closing
// the window only hides it.
class SettingsWindowController : public QObject {
    Q_OBJECT
public:
    // Takes a fully built view and makes the window around it; becomes `current`.
    explicit SettingsWindowController(SettingsView* rootView);
    ~SettingsWindowController() override;

    static void openSettings(RunningAppsManager& manager, SettingsPane initialPane);

    // The one live controller, or null before the first opening.
    static SettingsWindowController* current();
    // Destroys the current controller and its window (tests).
    static void resetCurrent();

    QWidget* window() const { return m_window; }
    SettingsView* view() const { return m_view; }

    // Brings the window in front of other applications' windows and gives it the focus.
    void showWindow();

    static constexpr QSize kContentSize{880, 560};
    static constexpr QSize kMinimumSize{780, 500};

private:
    QWidget* m_window;
    SettingsView* m_view;
};
