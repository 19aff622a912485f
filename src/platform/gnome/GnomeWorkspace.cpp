// The GNOME backend, for GNOME Shell under Wayland with Idlewatch's Shell extension:
//   the extension  packaging/gnome-shell: exports the windows on the session bus, to
//                  Idlewatch's executable alone
//   GnomeToplevels each signal marks the list stale; update() reads it and reports the change
//   GnomeWorkspace this facade over the core (ToplevelWorkspace)
//
// One deactivation: Mutter's focus-window changes; the extension sends FocusChanged; the
// eventfd wakes the core, whose update reads the list, where another window (or, in the
// overview, none) has the focus; the core posts the application that lost it.

#include "GnomeWorkspace.h"

#include "GnomeToplevels.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

std::unique_ptr<GnomeWorkspace> GnomeWorkspace::connect(const QDBusConnection& bus, QString* error,
                                                        DesktopEntryIndex& index) {
    std::unique_ptr<GnomeToplevels> source = GnomeToplevels::open(bus, error);
    if (!source)
        return nullptr;
    std::unique_ptr<GnomeWorkspace> ws(new GnomeWorkspace(std::move(source), index));
    return ws;
}

bool GnomeWorkspace::available(const QDBusConnection& bus) {
    return GnomeToplevels::extensionRunning(bus);
}

QString GnomeWorkspace::setupAdvice(const QProcessEnvironment& env, bool extensionRunning) {
    const bool gnome = env.value(QStringLiteral("XDG_CURRENT_DESKTOP"))
                           .split(u':')
                           .contains(QLatin1String("GNOME"), Qt::CaseInsensitive);
    if (!gnome || env.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty() || extensionRunning)
        return {};
    // The command on a line of its own, so that a narrow popover does not break it.
    return QStringLiteral("GNOME shows Idlewatch its windows only through Idlewatch's Shell "
                          "extension. Turn it on once, then log out and in again:\n"
                          "    gnome-extensions enable %1\n"
                          "Until then only X11 (XWayland) applications are seen.")
        .arg(QString::fromLatin1(GnomeToplevels::kExtension));
}

std::unique_ptr<GnomeUserPresence> GnomeUserPresence::connect(const QDBusConnection& bus,
                                                              int awayAfterSeconds) {
    const bool there =
        bus.isConnected() && bus.interface() &&
        bus.interface()->isServiceRegistered(QStringLiteral("org.gnome.Mutter.IdleMonitor"));
    if (!there)
        return nullptr;
    return std::unique_ptr<GnomeUserPresence>(new GnomeUserPresence(bus, awayAfterSeconds));
}

UserPresence::State GnomeUserPresence::state() {
    const QDBusReply<bool> locked = m_bus.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("/org/gnome/ScreenSaver"),
        QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("GetActive")));
    if (locked.isValid() && locked.value())
        return State::Away;
    const QDBusReply<quint64> idle = m_bus.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.gnome.Mutter.IdleMonitor"),
        QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"),
        QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("GetIdletime")));
    if (!idle.isValid())
        return State::Unknown;
    return idle.value() >= m_awayAfterMs ? State::Away : State::Present;
}
