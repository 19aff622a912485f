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

// A private X11 desktop for tests: Xvfb on a display number nobody else uses, openbox, and
// optionally tint2 as a tray host, with HOME and the XDG folders in temporary directories
// and no session bus, or a private one. Every process it starts is in one process group that dies
// with the session, with the test process (even when it crashes) and at exit.
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

    // Starts every part and waits until each is ready. False with errorString() on failure;
    // whatever had started is stopped again.
    bool start(const Options& options);
    bool start() { return start(Options{}); }
    void stop();
    QString errorString() const { return m_error; }

    QByteArray display() const { return m_display; } // ":N"
    // xfce4-panel with its tray plugin, which hosts StatusNotifierItems on the session bus
    // (and XEmbed icons). Its PID once a host is registered with the watcher, or -1.
    pid_t startStatusNotifierHost(const QProcessEnvironment& extra = {});

    // The environment children of the session get: DISPLAY, HOME, XDG_*, the session bus.
    QProcessEnvironment environment() const { return m_env; }
    // Copies that environment into this process, for code under test that reads it.
    void exportToCurrentProcess() const;
    // A folder inside the session's temporary tree, created on demand.
    QString path(const QString& relative) const;

    // Starts a program in the session's process group with the session environment plus
    // `extra`. Its output goes to the session log. The PID, or -1.
    pid_t spawn(const QStringList& argv, const QProcessEnvironment& extra = {});
    // Waits (processing Qt events) until the child exits; reaps it. Nothing on timeout.
    std::optional<int> waitForExit(pid_t pid, int timeoutMs);
    // True while the child has not exited (reaps it if it has).
    bool isRunning(pid_t pid);
    // Runs a short command to completion; its exit code, or -1 on timeout or failure. Its
    // error output becomes a warning when it fails, unless `warn` is false.
    int run(const QStringList& argv, QByteArray* output = nullptr, int timeoutMs = 10000,
            bool warn = true);

    // Top-level windows carrying _NET_WM_PID = pid, as xdotool prints them (decimal ids).
    // Some clients (xterm) set the property only after mapping.
    QList<QByteArray> windowsOf(pid_t pid);
    // Asks the window manager to activate the window and waits until it is the active one.
    // (xdotool's own --sync gives up when the window manager passes through "no window".)
    bool activate(const QByteArray& window, int timeoutMs = 5000);

    // Processes Qt events until `ready` holds, on the monotonic clock. Unlike QTRY_*, whose
    // step counting shrinks under faketime, the timeout stays real.
    bool waitFor(const std::function<bool()>& ready, int timeoutMs);

    QString logText() const;

private:
    bool startXvfb(const QStringList& extra);
    bool startSessionBus();
    pid_t spawn(const QStringList& argv, const QProcessEnvironment& extra, int keepFd);
    bool waitUntil(int timeoutMs, const std::function<bool()>& ready);
    bool rootHasProperty(const char* atomName);
    QList<uint32_t> clientList();
    bool windowManagerManages();
    bool selectionHasOwner(const char* atomName);

    std::unique_ptr<QTemporaryDir> m_dir;
    QProcessEnvironment m_env;
    QByteArray m_display;
    QString m_error;
    pid_t m_group = 0;
    QList<pid_t> m_children;
    struct Xcb;
    std::unique_ptr<Xcb> m_xcb;
};
