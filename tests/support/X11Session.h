#pragma once

#include "Session.h"

// A private X11 desktop for tests: Xvfb on a free display, openbox, optionally tint2 as a
// tray host, HOME and the XDG folders in a temporary tree, no session bus or a private one.
class X11Session : public Session {
public:
    struct Options {
        bool tray = false;       // tint2, dark
        bool sessionBus = false; // a private dbus-daemon instead of none
    };

    // Starts every part and waits until each is ready; false with errorString() if not.
    bool start(const Options& options);
    bool start() { return start(Options{}); }

    // display() is ":N".
    // xfce4-panel with its tray plugin, which hosts StatusNotifierItems on the session bus
    // (and XEmbed icons), light or dark. Its PID once a host is registered with the
    // watcher, or -1.
    pid_t startStatusNotifierHost(const QProcessEnvironment& extra = {}, bool dark = false);
    void exportToCurrentProcess() const;

    // Top-level windows with _NET_WM_PID = pid, as decimal ids (xterm sets it after mapping).
    QList<QByteArray> windowsOf(pid_t pid);
    // Activates the window through the window manager and waits until it is active.
    bool activate(const QByteArray& window, int timeoutMs = 5000);
    // Turns the screen saver on, as a screen locker does; the next input turns it off.
    bool startScreenSaver();
};
