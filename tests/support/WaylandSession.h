#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>

// A private headless sway session for tests, with its own XDG_RUNTIME_DIR (mode 700), HOME,
// XDG folders and session bus, and no XWayland. sway refuses to run as root, so under root
// (as in CI) sway and every client run as an unprivileged user, created on first use; the
// test process itself may still connect, as root may open any socket. Every process it
// starts is in one process group that dies with the session and with the test process.
class WaylandSession {
public:
    // The unprivileged account sway and its clients run as when the tests run as root.
    static constexpr const char* kUser = "idlewatch-test";

    WaylandSession();
    ~WaylandSession();
    WaylandSession(const WaylandSession&) = delete;
    WaylandSession& operator=(const WaylandSession&) = delete;

    // Starts the bus and sway and waits until sway answers. False with errorString() on
    // failure; whatever had started is stopped again. `unavailable` tells a machine where
    // sway cannot run at all (not installed, no account to run it as) from a failure.
    bool start(bool* unavailable = nullptr);
    void stop();
    QString errorString() const { return m_error; }

    // Absolute path of the compositor's socket: a display name any client may connect to.
    QByteArray display() const { return m_display; }
    // What clients of the session get: WAYLAND_DISPLAY, SWAYSOCK, XDG_*, HOME, the bus.
    QProcessEnvironment environment() const { return m_env; }
    // A folder inside the session's tree that the session's user owns, created on demand.
    QString path(const QString& relative) const;

    // Starts a program as the session's user in its process group, with the session
    // environment plus `extra`; its output goes to the session log. The PID, or -1.
    pid_t spawn(const QStringList& argv, const QProcessEnvironment& extra = {});
    // Waits (processing Qt events) until the child exits; reaps it. Nothing on timeout.
    std::optional<int> waitForExit(pid_t pid, int timeoutMs);
    bool isRunning(pid_t pid);

    // swaymsg with these arguments; its exit code (-1 on timeout) and output.
    int swaymsg(const QStringList& args, QByteArray* output = nullptr);
    // sway's container ids of the windows with this app_id, oldest first.
    QList<qint64> windowIds(const QString& appId);
    // Processes Qt events until `ready` holds, on the monotonic clock.
    bool waitFor(const std::function<bool()>& ready, int timeoutMs);

    QString logText() const;

private:
    bool ownByUser(const QString& path) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QProcessEnvironment m_env;
    QByteArray m_display;
    QString m_error;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    bool m_dropPrivileges = false;
    pid_t m_group = 0;
    pid_t m_sway = 0;
    QList<pid_t> m_children;
};
