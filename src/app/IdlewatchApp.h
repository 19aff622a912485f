#pragma once

#include "preferences/PreferenceKeys.h"

#include <QIcon>
#include <QObject>

class ContentView;
class PopoverWindow;
class QSystemTrayIcon;
class RunningAppsManager;
class SettingsWindowController;
class UserDefaults;

// The application object: the tray icon, drawn from "MenuBarIcon" at "menuBarIconSize"
// and, with "menuBarIconTemplate", as a silhouette in the panel's text colour, and the
// popover it opens. There is no main window.
class IdlewatchApp : public QObject {
    Q_OBJECT
public:
    // Binds the two icon preferences.
    explicit IdlewatchApp(UserDefaults& defaults, QObject* parent = nullptr);
    ~IdlewatchApp() override;

    // Builds the popover's content on the engine and shows the tray icon. "Settings" opens
    // the window of `settings`; both must outlive this object.
    void start(RunningAppsManager& manager, SettingsWindowController& settings);

    Preference<qint64> menuBarIconSize;
    Preference<bool> menuBarIconTemplate;

    // The icon as the tray shows it now; redrawn whenever either preference or the
    // palette changes.
    QIcon trayIconImage() const { return m_icon; }
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    PopoverWindow* popover() const { return m_popover; }
    ContentView* contentView() const;

    // Opens the popover at the tray icon, or at the pointer when the tray has no geometry.
    void showPopover();
    void togglePopover();
    // Opens the settings window at its first pane (closing the popover).
    void openSettings();

signals:
    // "Quit Idlewatch" was chosen.
    void quitRequested();
    // "Settings" was chosen; the settings window has been opened.
    void settingsRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateIcon();

    UserDefaults* m_defaults;
    SettingsWindowController* m_settings = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    PopoverWindow* m_popover = nullptr;
    QIcon m_icon;
};
