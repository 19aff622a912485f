#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>

// A private X11 desktop for tests: Xvfb on a free display, openbox, optionally tint2 as a
// tray host, HOME and the XDG folders in a temporary tree, no session bus or a private one.
// Everything it starts is in one process group that dies with the session and with the test
// process.
class X11Session {
public:
    struct Options {
        bool windowManager = true;
        bool tray = false;
        bool sessionBus = false;        // a private dbus-daemon instead of none
        QStringList xvfbArguments = {}; // e.g. {"-extension", "X-Resource"}
    };

    X11Session();
    ~X11Session();
    X11Session(const X11Session&) = delete;
    X11Session& operator=(const X11Session&) = delete;

    // Starts every part and waits until each is ready; false with errorString() if not.
    bool start(const Options& options);
    bool start() { return start(Options{}); }
    void stop();
    QString errorString() const { return m_error; }

    QByteArray display() const { return m_display; } // ":N"
    // xfce4-panel with its tray plugin, which hosts StatusNotifierItems on the session bus
    // (and XEmbed icons). Its PID once a host is registered with the watcher, or -1.
    pid_t startStatusNotifierHost(const QProcessEnvironment& extra = {});
    // DISPLAY, HOME, XDG_*, the session bus: what the session's programs see.
    QProcessEnvironment environment() const { return m_env; }
    void exportToCurrentProcess() const;
    // A folder inside the session's temporary tree, created on demand.
    QString path(const QString& relative) const;

    // Starts a program in the session's process group; output goes to the session log.
    pid_t spawn(const QStringList& argv, const QProcessEnvironment& extra = {}, int keepFd = -1);
    // Waits (processing Qt events) until the child exits and reaps it: its wait status.
    std::optional<int> waitForExit(pid_t pid, int timeoutMs);
    bool isRunning(pid_t pid);
    // Runs a short command; its exit code, or -1. Its errors are warned about if `warn`.
    int run(const QStringList& argv, QByteArray* output = nullptr, int timeoutMs = 10000,
            bool warn = true);

    // Top-level windows with _NET_WM_PID = pid, as decimal ids (xterm sets it after mapping).
    QList<QByteArray> windowsOf(pid_t pid);
    // Activates the window through the window manager and waits until it is active.
    bool activate(const QByteArray& window, int timeoutMs = 5000);
    // Processes Qt events until `ready`, on the monotonic clock (QTRY_* shrinks under
    // faketime).
    bool waitFor(const std::function<bool()>& ready, int timeoutMs);
    QString logText() const;

private:
    struct Xcb;
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcessEnvironment m_env;
    QByteArray m_display;
    QString m_error;
    pid_t m_group = 0;
    QList<pid_t> m_children;
    std::unique_ptr<Xcb> m_xcb;
};
