#include "WaylandSession.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <pwd.h>
#include <unistd.h>

namespace {

// The unprivileged account sway and its clients run as when the tests run as root.
constexpr const char* kUser = "idlewatch-test";

void collectWindows(const QJsonObject& node, const QString& appId, QList<qint64>* ids) {
    if (node.value("app_id").toString() == appId)
        ids->append(node.value("id").toInteger());
    for (const char* list : {"nodes", "floating_nodes"})
        for (const QJsonValue& child : node.value(QLatin1String(list)).toArray())
            collectWindows(child.toObject(), appId, ids);
}

} // namespace

bool WaylandSession::start(bool* unavailable) {
    // Until it is clear that sway can run here at all.
    bool ignored = true;
    bool& notHere = unavailable ? (*unavailable = true) : ignored;
    for (const char* program : {"sway", "swaymsg", "foot", "dbus-daemon"})
        if (QStandardPaths::findExecutable(program).isEmpty())
            return fail(QString::fromLatin1(program) + " is not installed");
    m_dropPrivileges = ::geteuid() == 0;
    if (m_dropPrivileges) {
        if (!::getpwnam(kUser))
            QProcess::execute("useradd", {"--system", "--no-create-home", "--home-dir",
                                          "/nonexistent", "--shell", "/usr/sbin/nologin", kUser});
        const passwd* user = ::getpwnam(kUser);
        if (!user)
            return fail(QStringLiteral("sway refuses root, and no user could be created"));
        m_uid = user->pw_uid;
        m_gid = user->pw_gid;
    }
    if (!prepare())
        return fail("cannot create a temporary folder for the session");
    notHere = false;
    // foot exits at once under a locale the machine has not generated (CI sets one).
    for (const QString& key : m_env.keys())
        if (key.startsWith("LC_"))
            m_env.remove(key);
    m_env.insert("LANG", "C.UTF-8");
    // Without SHELL (CI has none) foot runs the session user's login shell, which is nologin.
    m_env.insert("SHELL", "/bin/sh");
    for (const char* key : {"USER", "LOGNAME"})
        if (m_dropPrivileges)
            m_env.insert(key, kUser);
    if (!startBus())
        return fail("the session bus did not start");
    const QString config =
        write("sway.conf", "xwayland disable\nfocus_follows_mouse no\n"
                           "output HEADLESS-1 resolution 1280x720 position 0 0\n");
    const pid_t sway =
        spawn({"env", "WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1",
               "WLR_HEADLESS_OUTPUTS=1", "sway", "-c", config});
    if (config.isEmpty() || sway < 0)
        return fail("cannot start sway");

    const QDir runtime(path("runtime"));
    QString socket;
    const auto ready = [&] {
        for (const QString& s : runtime.entryList({"wayland-*"}, QDir::System))
            if (!s.endsWith(".lock"))
                socket = s;
        const QStringList ipc = runtime.entryList({"sway-ipc.*.sock"}, QDir::System);
        if (socket.isEmpty() || ipc.isEmpty())
            return !isRunning(sway);
        m_env.insert("WAYLAND_DISPLAY", socket);
        m_env.insert("SWAYSOCK", runtime.filePath(ipc.first()));
        return swaymsg({"-t", "get_outputs"}) == 0 || !isRunning(sway);
    };
    const bool up = waitFor(ready, 10000);
    // A machine whose sway cannot start headless at all: say what it said.
    notHere = !isRunning(sway);
    if (notHere || !up)
        return fail(notHere ? "sway exited while starting headless:" : "sway did not become ready");
    m_display = QFile::encodeName(runtime.filePath(socket));
    return true;
}

QList<qint64> WaylandSession::windowIds(const QString& appId) {
    QByteArray tree;
    QList<qint64> ids;
    if (swaymsg({"-t", "get_tree"}, &tree) == 0)
        collectWindows(QJsonDocument::fromJson(tree).object(), appId, &ids);
    std::sort(ids.begin(), ids.end());
    return ids;
}
