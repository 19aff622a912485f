#include "GnomeShellSession.h"
#include "Files.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDir>
#include <QStandardPaths>

bool GnomeShellSession::start(const QString& extensionBuild, const QString& allowedCaller,
                              bool* unavailable) {
    *unavailable = true;
    for (const char* program : {"gnome-shell", "gsettings", "dbus-daemon"})
        if (QStandardPaths::findExecutable(program).isEmpty())
            return fail(QString::fromLatin1(program) + " is not installed");
    if (!prepare())
        return fail("cannot create a temporary folder for the session");
    const QString systemBus = path("runtime") + "/system_bus";
    m_env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + systemBus);
    m_env.insert("LANG", "C.UTF-8");
    m_env.insert("QT_QPA_PLATFORM", "wayland");
    const QString idlewatch = "idlewatch@idlewatch.app", hands = "idlewatch-test@idlewatch.app";
    bool installed = true;
    for (const auto& [uuid, from] : {std::pair{idlewatch, extensionBuild},
                                     {hands, QStringLiteral(IDLEWATCH_TEST_SHELL_EXTENSION)}})
        for (const char* file : {"/extension.js", "/metadata.json"})
            installed =
                installed &&
                QFile::copy(from + file, path("data/gnome-shell/extensions/" + uuid) + file);
    if (!installed || write("data/gnome-shell/extensions/" + idlewatch + "/allowed-callers",
                            allowedCaller.toLocal8Bit())
                          .isEmpty())
        return fail("cannot install the extensions");
    if (spawn({"dbus-daemon", "--config-file=/usr/share/dbus-1/session.conf", "--nofork",
               "--nopidfile", "--address=unix:path=" + systemBus}) < 0 ||
        !startBus() ||
        // dconf under the session's HOME, read by the shell when it starts.
        run({"gsettings", "set", "org.gnome.shell", "enabled-extensions",
             QStringLiteral("['%1', '%2']").arg(idlewatch, hands)}) != 0)
        return fail("the buses or dconf did not start");
    const pid_t shell = spawn({"gnome-shell", "--headless", "--wayland", "--virtual-monitor",
                               "1280x800", "--wayland-display", "wayland-0"});
    m_busName = "gnome-shell-session-" + QString::number(shell);
    const QDBusConnection bus =
        QDBusConnection::connectToBus(m_env.value("DBUS_SESSION_BUS_ADDRESS"), m_busName);
    // The extensions' names: up to 10 s on a loaded machine, more on a first start.
    const auto ready = [&] {
        const QDBusConnectionInterface* names = bus.interface();
        return !isRunning(shell) || (names->isServiceRegistered("com.Idlewatch.Test.Shell") &&
                                     names->isServiceRegistered("com.Idlewatch.Idlewatch.Shell"));
    };
    const bool up = shell > 0 && bus.isConnected() && waitFor(ready, 30000);
    *unavailable = shell > 0 && !isRunning(shell);
    if (*unavailable || !up)
        return fail(*unavailable ? "gnome-shell exited while starting:" : "no extension came up");
    m_env.insert("WAYLAND_DISPLAY", "wayland-0");
    // XWayland's display is the one whose lock names the shell; its cookie is the shell's.
    for (const QString& lock : QDir("/tmp").entryList({".X*-lock"}, QDir::Hidden | QDir::Files))
        if (readFile("/tmp/" + lock).trimmed().toInt() == shell)
            m_env.insert("DISPLAY", ':' + lock.mid(2).section('-', 0, 0));
    const QStringList cookies =
        QDir(path("runtime")).entryList({".mutter-Xwaylandauth.*"}, QDir::Hidden | QDir::Files);
    m_env.insert("XAUTHORITY", path("runtime") + '/' + cookies.value(0));
    return true;
}

bool GnomeShellSession::hands(const char* method, const QString& title) {
    const QDBusReply<bool> reply = bus().call(
        QDBusMessage::createMethodCall("com.Idlewatch.Test.Shell", "/com/Idlewatch/Test/Shell",
                                       "com.Idlewatch.Test.Shell", QString::fromLatin1(method))
        << title);
    return reply.isValid() && reply.value();
}
