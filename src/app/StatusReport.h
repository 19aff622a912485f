#pragma once

#include <QByteArray>

class RunningAppsManager;

// The running instance's state as one line of JSON, for `idlewatch --status`:
//   {"quittingEnabled":true,
//    "apps":[{"name":"XTerm","id":"xterm","secondsLeft":28800,"enabled":true,
//             "waitingForYou":false,"cantClose":false}],
//    "toggles":{"XTerm":true},
//    "exclusions":[{"bundleIdentifier":"org.example.Editor","name":"Editor","path":"..."}]}
// Applications are listed in the order the popover sorts them by time left.
namespace StatusReport {

QByteArray json(const RunningAppsManager& manager);

} // namespace StatusReport
