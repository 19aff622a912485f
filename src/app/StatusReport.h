#pragma once

#include <QByteArray>

class RunningAppsManager;
class SettingsWindowController;

// The running instance's state as one line of JSON, for `idlewatch --status`:
//   {"quittingEnabled":true,
//    "apps":[{"name":"XTerm","id":"xterm","secondsLeft":28800,"enabled":true,
//             "waitingForYou":false,"cantClose":false}],
//    "toggles":{"XTerm":true},
//    "exclusions":[{"id":"org.example.Editor","name":"Editor","path":"..."}],
//    "settingsPane":"general"}
// Applications are listed in the order the popover sorts them by time left. "settingsPane"
// is the pane the settings window shows, null while that window is closed.
namespace StatusReport {

QByteArray json(const RunningAppsManager& manager, const SettingsWindowController& settings);

} // namespace StatusReport
