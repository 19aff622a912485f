#pragma once

#include <QProcessEnvironment>
#include <QString>

// One line for the user when the session is Wayland, where only X11 (XWayland) clients are
// visible to Idlewatch; empty otherwise.
QString
waylandSessionWarning(const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
