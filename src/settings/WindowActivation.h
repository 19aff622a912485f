#pragma once

class QWidget;

namespace WindowActivation {

// Brings a top-level window in front of other applications' windows and focuses it.
// Qt's own request counts as an application's request, which window managers with focus
// stealing prevention may refuse (openbox does, now and then, for a window the user just
// asked for from the tray); on X11 the request is therefore also sent the way a taskbar
// sends it, once the window is mapped.
void bringToFront(QWidget* window);

} // namespace WindowActivation
