// One deactivation through the X11 backend:
//
//   1. the window manager sets _NET_ACTIVE_WINDOW on the root; the server sends
//      PropertyNotify and the core's socket notifier has X11Toplevels::update run
//   2. WindowCache::update reads the events and fetches the new active window (and any new
//      or changed windows, in one pipelined batch), returning what changed
//   3. X11Toplevels reports those windows to the core, the newly active one marked so
//   4. the core (ToplevelWorkspace.cpp) posts the deactivation of the application that
//      lost the active window

#include "X11Workspace.h"

#include "OwnWindows.h"
#include "X11Toplevels.h"

#include <QGuiApplication>
#include <QPointer>
#include <QWindow>

X11Workspace::X11Workspace(std::unique_ptr<X11Toplevels> source, DesktopEntryIndex& index)
    : ToplevelWorkspace(std::move(source), index) {}

X11Toplevels& X11Workspace::x11() const {
    return static_cast<X11Toplevels&>(source());
}

std::unique_ptr<X11Workspace> X11Workspace::connect(const QByteArray& display, QString* error,
                                                    DesktopEntryIndex& index) {
    std::unique_ptr<X11Connection> connection = X11Connection::open(display, error);
    if (!connection)
        return nullptr;
    std::unique_ptr<X11Workspace> ws(
        new X11Workspace(std::make_unique<X11Toplevels>(std::move(connection)), index));
    if (ws->x11().connection().hasError()) {
        if (error)
            *error = QStringLiteral("Idlewatch lost the X11 display.");
        return nullptr;
    }
    return ws;
}

void X11Workspace::activateOwnWindow(QWindow* window) {
    // Qt's window ids are X window ids only on its xcb platform.
    if (!window || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    OwnWindows::whenExposed(window, [this, ws = QPointer(this)](QWindow* exposed) {
        if (ws && !x11().isBroken())
            x11().connection().requestActivation(xcb_window_t(exposed->winId()));
    });
}

quint64 X11Workspace::requestCount() const {
    return x11().connection().requestCount();
}
