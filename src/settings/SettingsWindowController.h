#pragma once

#include "SettingsPane.h"

#include <QObject>
#include <QSize>

#include <memory>

class QWidget;
class RunningAppsManager;
class SettingsView;
namespace LaunchAtLogin {
class Observable;
}

// Keeps the one settings window of the program. The first openSettings builds it; later
// calls bring the same window forward as it was left, whatever pane they ask for. Closing
// the window only hides it; it goes with the controller, which the program creates after
// the engine and the launch-at-login model so that it ends before them.
class SettingsWindowController : public QObject {
    Q_OBJECT
public:
    SettingsWindowController(RunningAppsManager& manager, LaunchAtLogin::Observable& launchAtLogin,
                             QObject* parent = nullptr);
    ~SettingsWindowController() override;

    void openSettings(SettingsPane initialPane);

    // Both null before the first opening.
    QWidget* window() const { return m_window.get(); }
    SettingsView* view() const { return m_view; }

    // Brings the window in front of other applications' windows and gives it the focus.
    void showWindow();

    static constexpr QSize kContentSize{880, 560};
    static constexpr QSize kMinimumSize{780, 500};
    static constexpr int kDecorations = 40;

private:
    RunningAppsManager& m_manager;
    LaunchAtLogin::Observable& m_launchAtLogin;
    std::unique_ptr<QWidget> m_window;
    SettingsView* m_view = nullptr;
};
