#pragma once

#include "platform/core/ToplevelWorkspace.h"

#include <QByteArray>
#include <QString>

#include <memory>

class DesktopEntryIndex;
class X11Toplevels;

// The workspace of an X11 desktop with an EWMH window manager, over its own xcb
// connection: the core fed by X11Toplevels, whose parts are
//   X11Connection  the connection, its atoms and property decoding
//   WindowCache    the managed windows, kept current from events (no round trip in the
//                  steady state)
//   X11Toplevels   those windows as the core's toplevels, and the two requests
class X11Workspace final : public ToplevelWorkspace {
    Q_OBJECT
public:
    // Connects to `display` (empty: $DISPLAY). Nothing, with `error` set to one line for
    // the user, when no X server can be reached. `index` must outlive the workspace.
    static std::unique_ptr<X11Workspace> connect(const QByteArray& display, QString* error,
                                                 DesktopEntryIndex& index);

    // Asks again the way a taskbar does: window managers that prevent focus stealing may
    // refuse a window the user just asked for from the tray.
    void activateOwnWindow(QWindow* window) override;
    // X requests sent since the connection opened (for the steady-state checks).
    quint64 requestCount() const;

private:
    X11Workspace(std::unique_ptr<X11Toplevels> source, DesktopEntryIndex& index);
    X11Toplevels& x11() const;
};
