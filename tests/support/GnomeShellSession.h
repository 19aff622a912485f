#pragma once

#include "Session.h"

#include <QDBusConnection>

// A private headless GNOME Shell under Wayland (no XWayland) with its own session bus, an
// empty system bus (gnome-shell 43 dies at start without one where systemd's seats exist),
// HOME and XDG folders. Idlewatch's extension is installed from the build tree and enabled
// before the shell starts, answering `allowedCaller` alone, beside a test extension that
// focuses and closes windows as a user would. Everything runs as the test's user.
class GnomeShellSession : public Session {
public:
    // Waits until both extensions are on the bus. False with errorString() on failure;
    // `unavailable` tells a machine where gnome-shell cannot run at all.
    bool start(const QString& extensionBuild, const QString& allowedCaller, bool* unavailable);
    // The session bus, for this process.
    QDBusConnection bus() const { return QDBusConnection(m_busName); }
    // Leaves the overview and focuses the window with this title / asks it to close.
    bool activate(const QString& title) { return hands("Activate", title); }
    bool closeWindow(const QString& title) { return hands("Delete", title); }
    ~GnomeShellSession();

private:
    bool hands(const char* method, const QString& title);
    bool install(const QString& from, const QString& uuid, const QByteArray& allowList);
    QString m_busName;
};
