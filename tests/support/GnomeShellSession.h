#pragma once

#include "Session.h"

#include <QDBusConnection>

// A private headless GNOME Shell with XWayland, a session bus and an empty system bus (43 dies
// without one where systemd's seats exist). Idlewatch's extension from `extensionBuild`,
// answering `allowedCaller` alone, and the tests' hands are enabled before it starts.
class GnomeShellSession : public Session {
public:
    // False with errorString(); `unavailable` when gnome-shell cannot run here at all.
    bool start(const QString& extensionBuild, const QString& allowedCaller, bool* unavailable);
    QDBusConnection bus() const { return QDBusConnection(m_busName); }
    // Leaves the overview and focuses / asks to close the window with this title.
    bool activate(const QString& title) { return hands("Activate", title); }
    bool closeWindow(const QString& title) { return hands("Delete", title); }

private:
    bool hands(const char* method, const QString& title);
    QString m_busName;
};
