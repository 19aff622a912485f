#include "KWinSession.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

bool KWinSession::start(bool checkPermissions, bool* unavailable) {
    bool ignored = true;
    bool& notHere = unavailable ? (*unavailable = true) : ignored;
    const QString installed = QStandardPaths::findExecutable("kwin_wayland");
    if (installed.isEmpty() || QStandardPaths::findExecutable("dbus-daemon").isEmpty())
        return fail("kwin_wayland or dbus-daemon is not installed");
    if (!prepare() || !startBus())
        return fail("cannot create the session's folder or its bus");
    // The same name: Idlewatch tells KWin by its executable's name.
    const QString kwin = path("bin") + "/kwin_wayland";
    if (!QFile::copy(installed, kwin))
        return fail("cannot copy kwin_wayland");
    QProcessEnvironment env;
    env.insert("KWIN_COMPOSE", "Q"); // QPainter: no OpenGL needed
    env.insert("QT_QPA_PLATFORM", "");
    if (!checkPermissions)
        env.insert("KWIN_WAYLAND_NO_PERMISSION_CHECKS", "1");
    const QString socket = "wayland-kwin";
    const pid_t pid =
        spawn({kwin, "--virtual", "--width", "1280", "--height", "800", "--socket", socket,
               "--no-lockscreen", "--no-global-shortcuts", "--no-kactivities"},
              env);
    const QString file = QDir(path("runtime")).filePath(socket);
    if (pid < 0 || !waitFor([&] { return QFile::exists(file) || !isRunning(pid); }, 10000))
        return fail("KWin did not start");
    notHere = !isRunning(pid);
    if (notHere)
        return fail("KWin exited while starting:");
    m_env.insert("WAYLAND_DISPLAY", socket);
    m_display = QFile::encodeName(file);
    return true;
}
