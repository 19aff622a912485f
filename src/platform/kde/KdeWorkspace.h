#pragma once

#include "platform/core/ToplevelWorkspace.h"

#include <QByteArray>
#include <QString>

#include <memory>

class DesktopEntryIndex;

// The workspace of KDE Plasma on Wayland: the core fed by KWinToplevels. Every window KWin
// manages, XWayland's included, is listed; none can be forced to quit, every one is asked.
class KdeWorkspace final : public ToplevelWorkspace {
    Q_OBJECT
public:
    // Connects to `display` (empty: $WAYLAND_DISPLAY). Nothing, with `error` set to one line
    // for the user, when no compositor answers or it does not offer its window list.
    // `index` must outlive the workspace.
    static std::unique_ptr<KdeWorkspace> connect(const QByteArray& display, QString* error,
                                                 DesktopEntryIndex& index);
    // Whether KWin at `display` (empty: $WAYLAND_DISPLAY) offers its window list to this
    // process. When KWin withholds it, `withheld` is set to the message for the user. Opens
    // and closes a bare connection and creates nothing else, so it is safe before the
    // application object exists.
    static bool available(const QByteArray& display, QString* withheld = nullptr);

private:
    using ToplevelWorkspace::ToplevelWorkspace;
};
