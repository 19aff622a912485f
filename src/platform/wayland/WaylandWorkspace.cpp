// The Wayland backend, for compositors that offer wlroots' foreign-toplevel list:
//   WlrToplevels      the connection, the listeners and each toplevel's facts
//   SwayIpc           sway's window tree: each window's process, and whether it floats
//   WaylandWorkspace  this facade over the core (ToplevelWorkspace)
//
// One deactivation: the compositor sends `state` events to the toplevels whose
// `activated` state changed, each batch closed by `done` (a focus change is a pair, in
// either order); WlrToplevels reports them once everything read is dispatched, and the
// core posts the application that lost its activated toplevel.

#include "WaylandWorkspace.h"

#include "WlrToplevels.h"

namespace {

QByteArray displayName(const QByteArray& display) {
    return display.isEmpty() ? qgetenv("WAYLAND_DISPLAY") : display;
}

} // namespace

std::unique_ptr<WaylandWorkspace>
WaylandWorkspace::connect(const QByteArray& display, QString* error, DesktopEntryIndex& index) {
    std::unique_ptr<WlrToplevels> source = WlrToplevels::open(displayName(display), error);
    if (!source)
        return nullptr;
    std::unique_ptr<WaylandWorkspace> ws(new WaylandWorkspace(std::move(source), index));
    return ws;
}

bool WaylandWorkspace::available(const QByteArray& display) {
    return WlrToplevels::offersToplevels(displayName(display));
}
