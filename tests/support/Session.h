#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>

// What the X11 and Wayland test sessions share: a temporary tree with HOME and the XDG
// folders, a session log, and one process group for everything they start, which dies with
// the session and with the test process.
class Session {
public:
    ~Session() { stop(); } // not copyable: it owns the tree

    void stop();
    QString errorString() const { return m_error; }
    QByteArray display() const { return m_display; }
    // What the session's programs see: HOME, XDG_*, the bus and the display.
    QProcessEnvironment environment() const { return m_env; }
    // A folder inside the session's tree that the session's programs own, created on demand.
    QString path(const QString& relative) const;

    // Starts a program in the session's process group with the session environment plus
    // `extra`, `keepFd` inherited; its output goes to the session log. The PID, or -1.
    pid_t spawn(const QStringList& argv, const QProcessEnvironment& extra = {}, int keepFd = -1);
    // Waits (processing Qt events) until the child exits and reaps it: its wait status.
    std::optional<int> waitForExit(pid_t pid, int timeoutMs);
    bool isRunning(pid_t pid);
    // Runs a short command; its exit code, or -1. Its errors are warned about if `warn`.
    int run(const QStringList& argv, QByteArray* output = nullptr, int timeoutMs = 10000,
            bool warn = true);
    // Waits until `ready` on the monotonic clock (QTRY_* shrinks under faketime), processing
    // Qt events if `events`.
    bool waitFor(const std::function<bool()>& ready, int timeoutMs, bool events = true);
    QString logText() const;
    // A call on the session bus through dbus-send: its printed reply, empty on failure.
    QString busCall(const QString& service, const QString& path, const QString& method,
                    const QStringList& args);
    QString busProperty(const QString& service, const QString& path, const QString& interface,
                        const QString& name) {
        return busCall(service, path, "org.freedesktop.DBus.Properties.Get",
                       {"string:" + interface, "string:" + name});
    }

protected:
    // A fresh tree and environment, after stopping whatever ran; false if there is no tree.
    bool prepare();
    // A private session bus; services it activates stay in the process group.
    bool startBus();
    // Writes a file into the tree, owned by the session's user: its path, or nothing.
    QString write(const QString& relative, const QByteArray& contents) const;
    bool fail(const QString& what);

    std::unique_ptr<QTemporaryDir> m_dir;
    QProcessEnvironment m_env;
    QByteArray m_display;
    QString m_error;
    // Under root the programs run as this user (sway refuses root).
    bool m_dropPrivileges = false;
    uid_t m_uid = 0;
    gid_t m_gid = 0;

private:
    bool own(const QString& path) const;

    pid_t m_group = 0;
    QList<pid_t> m_children;
};

// Only a private session bus, for tests of what talks over it.
class BusSession : public Session {
public:
    bool start() { return prepare() && startBus(); }
    QString address() const { return m_env.value("DBUS_SESSION_BUS_ADDRESS"); }
};
