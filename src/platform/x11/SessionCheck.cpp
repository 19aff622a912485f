#include "SessionCheck.h"

#include <xcb/xcb.h>

QString waylandSessionWarning(const QProcessEnvironment& env) {
    const bool wayland = env.value(QStringLiteral("XDG_SESSION_TYPE"))
                                 .compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0 ||
                         !env.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
    if (!wayland)
        return {};
    return QStringLiteral("Idlewatch: this is a Wayland session; only X11 (XWayland) "
                          "applications are seen.");
}

QString x11DisplayError(const QByteArray& display) {
    if (display.isEmpty())
        return QStringLiteral("Idlewatch needs an X11 display, and $DISPLAY is not set.");
    return QStringLiteral("Idlewatch needs an X11 display and cannot open \"%1\" (check $DISPLAY).")
        .arg(QString::fromLocal8Bit(display));
}

bool x11DisplayReachable(const QByteArray& display, QString* error) {
    const QByteArray name = display.isEmpty() ? qgetenv("DISPLAY") : display;
    bool ok = false;
    if (!name.isEmpty()) {
        xcb_connection_t* c = xcb_connect(name.constData(), nullptr);
        ok = !xcb_connection_has_error(c);
        xcb_disconnect(c);
    }
    if (!ok && error)
        *error = x11DisplayError(name);
    return ok;
}
