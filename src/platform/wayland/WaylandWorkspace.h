#pragma once

#include "platform/core/ToplevelWorkspace.h"

#include <QByteArray>
#include <QString>

#include <memory>

class DesktopEntryIndex;

// The workspace of a wlroots compositor: the core fed by WlrToplevels. An application is
// the set of toplevels sharing an app id; none can be forced to quit, every one is asked.
class WaylandWorkspace final : public ToplevelWorkspace {
    Q_OBJECT
public:
    // Connects to `display` (empty: $WAYLAND_DISPLAY). Nothing, with `error` set to one line
    // for the user, when no compositor answers or it does not offer the toplevel list.
    // `index` must outlive the workspace.
    static std::unique_ptr<WaylandWorkspace> connect(const QByteArray& display, QString* error,
                                                     DesktopEntryIndex& index);
    // Whether the compositor at `display` (empty: $WAYLAND_DISPLAY) offers the toplevel list.
    // Opens and closes a bare connection and creates nothing else, so it is safe before the
    // application object exists.
    static bool available(const QByteArray& display);

private:
    using ToplevelWorkspace::ToplevelWorkspace;
};
