#include "GnomeShellSession.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDir>
#include <QStandardPaths>

namespace {

constexpr char kIdlewatch[] = "idlewatch@idlewatch.app";
constexpr char kHands[] = "idlewatch-test@idlewatch.app";

} // namespace

GnomeShellSession::~GnomeShellSession() {
    if (!m_busName.isEmpty())
        QDBusConnection::disconnectFromBus(m_busName);
}

bool GnomeShellSession::install(const QString& from, const QString& uuid,
                                const QByteArray& allowList) {
    const QString to = path("data/gnome-shell/extensions/" + uuid);
    for (const char* file : {"extension.js", "metadata.json"})
        if (!QFile::copy(from + "/" + file, to + "/" + file))
            return false;
    return allowList.isEmpty() ||
           !write("data/gnome-shell/extensions/" + uuid + "/allowed-callers", allowList).isEmpty();
}

bool GnomeShellSession::start(const QString& extensionBuild, const QString& allowedCaller,
                              bool* unavailable) {
    *unavailable = true;
    for (const char* program : {"gnome-shell", "gsettings", "dbus-daemon"})
        if (QStandardPaths::findExecutable(program).isEmpty())
            return fail(QString::fromLatin1(program) + " is not installed");
    if (!prepare())
        return fail("cannot create a temporary folder for the session");
    m_env.insert("LANG", "C.UTF-8");
    m_env.insert("XDG_CURRENT_DESKTOP", "GNOME");
    const QString systemBus = path("runtime") + "/system_bus";
    m_env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + systemBus);
    if (spawn({"dbus-daemon", "--config-file=/usr/share/dbus-1/session.conf", "--nofork",
               "--nopidfile", "--address=unix:path=" + systemBus}) < 0 ||
        !startBus() || !waitFor([&] { return QFile::exists(systemBus); }, 10000))
        return fail("the buses did not start");
    if (!install(extensionBuild, kIdlewatch, allowedCaller.toLocal8Bit() + '\n') ||
        !install(QStringLiteral(IDLEWATCH_TEST_SHELL_EXTENSION), kHands, {}))
        return fail("cannot install the extensions");
    // dconf under the session's HOME, read by the shell when it starts.
    if (run({"gsettings", "set", "org.gnome.shell", "enabled-extensions",
             QStringLiteral("['%1', '%2']").arg(kIdlewatch, kHands)}) != 0)
        return fail("gsettings cannot enable the extensions");
    const pid_t shell = spawn({"gnome-shell", "--headless", "--wayland", "--no-x11",
                               "--virtual-monitor", "1280x800", "--wayland-display",
                               "wayland-gnome"});
    if (shell < 0)
        return fail("cannot start gnome-shell");
    m_busName = "gnome-shell-session-" + QString::number(shell);
    const QDBusConnection bus =
        QDBusConnection::connectToBus(m_env.value("DBUS_SESSION_BUS_ADDRESS"), m_busName);
    const auto registered = [&](const char* name) {
        return bus.interface()->isServiceRegistered(QString::fromLatin1(name)).value();
    };
    // Up to 10 s on a loaded machine, longer on the first start after installing.
    const bool up = bus.isConnected() && waitFor(
                                             [&] {
                                                 return !isRunning(shell) ||
                                                        (registered("com.Idlewatch.Idlewatch.Shell") &&
                                                         registered("com.Idlewatch.Test.Shell"));
                                             },
                                             30000);
    *unavailable = !isRunning(shell);
    if (*unavailable || !up)
        return fail(*unavailable ? "gnome-shell exited while starting headless:"
                                 : "the extensions did not come up");
    m_env.insert("WAYLAND_DISPLAY", "wayland-gnome");
    m_display = QFile::encodeName(path("runtime") + "/wayland-gnome");
    return true;
}

bool GnomeShellSession::hands(const char* method, const QString& title) {
    const QDBusReply<bool> reply = bus().call(QDBusMessage::createMethodCall(
        "com.Idlewatch.Test.Shell", "/com/Idlewatch/Test/Shell", "com.Idlewatch.Test.Shell",
        QString::fromLatin1(method)) << title);
    return reply.isValid() && reply.value();
}
