#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>

// One line for the user when the session is Wayland, where only X11 (XWayland) clients are
// visible to Idlewatch; empty otherwise.
QString
waylandSessionWarning(const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());

// Whether an X server answers on `display` (empty: $DISPLAY), with one line for the user in
// `error` when none does. Opens and closes a bare connection and creates nothing else, so it
// is safe before the application object exists.
bool x11DisplayReachable(const QByteArray& display, QString* error);
// That line, for a display that cannot be opened.
QString x11DisplayError(const QByteArray& display);
