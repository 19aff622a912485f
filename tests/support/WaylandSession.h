#pragma once

#include "Session.h"

// A private headless sway session for tests, with its own XDG_RUNTIME_DIR (mode 700), HOME,
// XDG folders and session bus, and no XWayland. sway refuses to run as root, so under root
// (as in CI) sway and every client run as an unprivileged user, created on first use; the
// test process itself may still connect, as root may open any socket.
class WaylandSession : public Session {
public:
    // Starts the bus and sway and waits until sway answers. False with errorString() on
    // failure; whatever had started is stopped again. `unavailable` tells a machine where
    // sway cannot run at all (not installed, no account to run it as) from a failure.
    bool start(bool* unavailable = nullptr);

    // display() is the absolute path of the compositor's socket, which any client may use;
    // environment() has WAYLAND_DISPLAY and SWAYSOCK. Programs run as the session's user.
    // swaymsg with these arguments; its exit code (-1 on timeout) and output.
    int swaymsg(const QStringList& args, QByteArray* output = nullptr) {
        return run(QStringList{"swaymsg"} + args, output, 10000, false);
    }
    // sway's container ids of the windows with this app_id, oldest first.
    QList<qint64> windowIds(const QString& appId);
};
