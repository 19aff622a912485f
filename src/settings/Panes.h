#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

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
QWidget* menuBar(RunningAppsManager& manager);
QWidget* exclusions(RunningAppsManager& manager);
QWidget* advanced(RunningAppsManager& manager);
QWidget* support(RunningAppsManager& manager);
} // namespace Panes

// Writes the appearance keys back to their defaults, with the accent set to "gold".
// Nothing else is touched: not the timers, the quitting keys nor the exclusions.
void restoreAppearanceDefaults(UserDefaults& store);

inline constexpr char kWebsiteAddress[] = "https://idlewatch.app/";
inline constexpr char kDownloadAddress[] = "https://idlewatch.app/downloads/Idlewatch-1.0.dmg";

// The version and build number of this build, read afresh at each use.
QString appVersion();
QString appBuildNumber();
// Replaces the build's values (tests); nothing restores the build's own value.
void overrideAppVersion(std::optional<QString> version, std::optional<QString> build);

// Six lines: name with version and build, tracked apps, exclusions, quitting enabled, idle
// timeout, refresh seconds; no line break at the end.
QString diagnosticsText(const RunningAppsManager& manager);

// Opens an address in the user's browser; text that is not an absolute URL is ignored.
void openURL(const QString& address);
// Replaces the browser hand-off (tests); an empty function restores QDesktopServices.
void setUrlOpener(std::function<bool(const QUrl&)> opener);
