#pragma once

#include "preferences/PreferenceKeys.h"
#include "ui/Artwork.h"

#include <QAbstractNativeEventFilter>
#include <QIcon>
#include <QObject>

#include <optional>

class ClosedToday;
class ContentView;
class DesktopNotifier;
class PopoverWindow;
class QDBusVariant;
class QMenu;
class QSystemTrayIcon;
class RunningAppsManager;
class SettingsWindowController;
class UserDefaults;

// The application object: the tray icon, drawn from "TrayIcon" at "menuBarIconSize"
// and, with "menuBarIconTemplate", as a silhouette that reads on the panel, its context
// menu, and the popover it opens. There is no main window.
//
// The silhouette takes the panel's text colour where the tray says it (an XEmbed tray's
// _NET_SYSTEM_TRAY_COLORS; StatusNotifier hosts that recolour symbolic icons use the
// installed symbolic icon by name), else black or white, whichever stands out more from
// the pixels around the icon, else a glyph with a rim of the opposite tone that reads on
// either.
//
// Qt 6.4 chooses between StatusNotifierItem and XEmbed once per process, when the first
// tray icon is created (or its availability asked), and keeps that choice. So the icon is
// created only once a host is there: a StatusNotifier host on the session bus, or an XEmbed
// tray owning its selection on the X screen, whichever comes first.
class IdlewatchApp : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    // Binds the two icon preferences.
    explicit IdlewatchApp(UserDefaults& defaults, QObject* parent = nullptr);
    ~IdlewatchApp() override;

    // Builds the popover's content on the engine and shows the tray icon. "Settings" opens
    // the window of `settings`; both must outlive this object.
    void start(RunningAppsManager& manager, SettingsWindowController& settings);
    // The list the popover shows as "Closed today"; it must outlive this object.
    void setClosedToday(ClosedToday& list) { m_closedToday = &list; }

    Preference<qint64> menuBarIconSize;
    Preference<bool> menuBarIconTemplate;

    // The icon as the tray shows it now; redrawn whenever either preference, pausing, the
    // palette or the desktop's light or dark preference changes.
    QIcon trayIconImage() const { return m_icon; }
    Artwork::TrayStyle trayStyle() const;
    // Null until a tray host is there.
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    // Null until the popover is first opened: its widgets and fonts cost memory all day.
    PopoverWindow* popover() const { return m_popover; }
    ContentView* contentView() const;

    // What the desktop needs set up before Idlewatch sees every application, shown atop the
    // popover; empty for none.
    void setSetupNotice(const QString& text);

    // Opens the popover at the tray icon, or at the pointer when the tray has no geometry.
    void showPopover();
    void togglePopover();
    // Opens the settings window at its first pane (closing the popover).
    void openSettings();
    // The first start's word on what Idlewatch does, its timeout and where its icon is: a
    // notification whose click opens the popover, or without a tray and a notification
    // server the popover itself. Remembered in the store, so it is said once.
    void greet(DesktopNotifier& notifier);

    // Notices an XEmbed tray starting.
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override;

signals:
    // "Quit Idlewatch" was chosen.
    void quitRequested();
    // "Settings" was chosen; the settings window has been opened.
    void settingsRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    // Creates the icon once a tray host is there.
    void findTrayHost();
    void appearanceSettingChanged(const QString& group, const QString& key,
                                  const QDBusVariant& value);

private:
    void buildMenu();
    PopoverWindow* ensurePopover();
    void updateIcon();
    // Reads the panel's colour around the embedded icon; tries again while the tray has not
    // placed it yet.
    void sampleTrayBackground(int triesLeft);

    UserDefaults* m_defaults;
    RunningAppsManager* m_manager = nullptr;
    SettingsWindowController* m_settings = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_menu = nullptr;
    PopoverWindow* m_popover = nullptr;
    ClosedToday* m_closedToday = nullptr;
    QString m_setupNotice;
    QIcon m_icon;
    // The XEmbed tray's selection, and the text colour it asks icons to use.
    quint32 m_traySelection = 0;
    quint32 m_managerAtom = 0;
    QColor m_trayTextColor;
    // The XEmbed tray's pixels around the icon, once the icon is placed.
    QColor m_trayBackground;
    bool m_xembed = false;
    // The desktop's colour-scheme preference, when it states one.
    std::optional<bool> m_prefersDark;
};
