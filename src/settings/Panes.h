#pragma once

#include <QString>

class QWidget;
class RunningAppsManager;
class UserDefaults;
namespace LaunchAtLogin {
class Observable;
}

// The body of each settings pane, one file each. A pane works on the engine and the store
// it is given and knows nothing of the window around it.
namespace Panes {
QWidget* general(RunningAppsManager& manager, LaunchAtLogin::Observable& launchAtLogin);
QWidget* presets(RunningAppsManager& manager);
QWidget* behavior(RunningAppsManager& manager);
QWidget* appearance(RunningAppsManager& manager);
QWidget* trayIcon(RunningAppsManager& manager);
QWidget* exclusions(RunningAppsManager& manager);
QWidget* appTimeouts(RunningAppsManager& manager);
QWidget* advanced(RunningAppsManager& manager);
QWidget* support(RunningAppsManager& manager);
} // namespace Panes

// Writes the appearance keys back to their defaults, with the accent set to "gold".
// Nothing else is touched: not the timers, the quitting keys nor the exclusions.
void restoreAppearanceDefaults(UserDefaults& store);

inline constexpr char kWebsiteAddress[] = "https://idlewatch.app/";
// Where the Linux packages of every release are.
inline constexpr char kReleasesAddress[] = "https://idlewatch.app/releases/";

// This build's version, with its build number in parentheses when it was given one:
// "0.1.0", "0.1.0 (7)".
QString versionText();

// Six lines: name with the version text, tracked apps, exclusions, quitting enabled, idle
// timeout, refresh seconds; no line break at the end.
QString diagnosticsText(const RunningAppsManager& manager);

// Opens an address in the user's browser; text that is not an absolute URL is ignored.
void openURL(const QString& address);
