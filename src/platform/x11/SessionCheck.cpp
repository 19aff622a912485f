#include "SessionCheck.h"

QString waylandSessionWarning(const QProcessEnvironment& env) {
    const bool wayland = env.value(QStringLiteral("XDG_SESSION_TYPE"))
                                 .compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0 ||
                         !env.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
    if (!wayland)
        return {};
    return QStringLiteral("Idlewatch: this is a Wayland session; only X11 (XWayland) "
                          "applications are seen.");
}
