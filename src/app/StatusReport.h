#pragma once

#include <QByteArray>
#include <QString>

class RunningAppsManager;
class RunningApplication;
class SettingsWindowController;

// The running instance's state as one line of JSON, for `idlewatch --status`:
//   {"quittingEnabled":true,
//    "apps":[{"name":"XTerm","id":"xterm","state":"counting","secondsLeft":28800,
//             "enabled":true,"timeoutMinutes":480}],
//    "toggles":{"XTerm":true},
//    "appTimeouts":{"Firefox":120},
//    "exclusions":[{"id":"org.example.Editor","name":"Editor","path":"..."}],
//    "settingsPane":"general"}
// Applications that count down come first, by time left, the others after them by name;
// "secondsLeft" is null for those. "settingsPane" is the pane the settings window shows,
// null while it is closed.
namespace StatusReport {

// What a tracked application is doing, as --status names it: "counting", "paused" (all
// automatic quitting is), "off" (its own switch is), "waitingForYou", "cantClose",
// "playingAudio", "busy", "heldUntilAway". "timeoutMinutes" is the one it counts down from:
// its own, else the default.
QString state(const RunningAppsManager& manager, const RunningApplication& app);

QByteArray json(const RunningAppsManager& manager, const SettingsWindowController& settings);

} // namespace StatusReport
