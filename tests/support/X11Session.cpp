#include "X11Session.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Groups still alive at exit, should a session never be destroyed.
std::mutex groupsMutex;
std::set<pid_t> liveGroups;

bool until(const std::function<bool()>& ready, int timeoutMs, bool events = false) {
    QDeadlineTimer deadline(timeoutMs);
    while (!ready()) {
        if (deadline.hasExpired())
            return false;
        if (events)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

// The first line a child writes to `fd` (the read end), without its newline.
QByteArray readLine(int fd, int timeoutMs) {
    QByteArray line;
    pollfd p{fd, POLLIN, 0};
    char buffer[256];
    ssize_t n = 1;
    for (QDeadlineTimer deadline(timeoutMs);
         n > 0 && !line.endsWith('\n') && !deadline.hasExpired();)
        if (::poll(&p, 1, 200) > 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0)
            line.append(buffer, n);
    ::close(fd);
    return line.trimmed();
}

// One panel across the top, a spacer and the tray plugin.
const char kXfcePanelConfig[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="dark-mode" type="bool" value="false"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="size" type="uint" value="30"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
    </property>
    <property name="plugin-2" type="string" value="systray">
      <property name="square-icons" type="bool" value="true"/>
    </property>
  </property>
</channel>
)";

} // namespace

struct X11Session::Xcb {
    xcb_connection_t* c;
    xcb_window_t root;
    explicit Xcb(const QByteArray& display)
        : c(xcb_connect(display.constData(), nullptr))
        , root(xcb_setup_roots_iterator(xcb_get_setup(c)).data->root) {}
    ~Xcb() { xcb_disconnect(c); }
    xcb_atom_t atom(const char* name) {
        auto* r =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : XCB_NONE;
        std::free(r);
        return a;
    }
    // The root window's property as 32-bit values; nothing when it is not set.
    std::optional<QList<uint32_t>> property(const char* name) {
        auto* r = xcb_get_property_reply(
            c, xcb_get_property(c, 0, root, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
            nullptr);
        std::optional<QList<uint32_t>> out;
        if (r && r->type != XCB_NONE) {
            const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(r));
            out = r->format == 32 ? QList<uint32_t>(v, v + xcb_get_property_value_length(r) / 4)
                                  : QList<uint32_t>();
        }
        std::free(r);
        return out;
    }
    bool selectionOwned(const char* name) {
        auto* r = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom(name)), nullptr);
        const bool owned = r && r->owner != XCB_NONE;
        std::free(r);
        return owned;
    }
    // Right after it starts, openbox may leave the first map requests queued until another
    // event wakes it: map probe windows, each a new event, until one is managed.
    bool windowManagerManages() {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        QList<xcb_window_t> probes;
        bool managed = false;
        for (int attempt = 0; attempt < 20 && !managed; ++attempt) {
            const xcb_window_t w = xcb_generate_id(c);
            xcb_create_window(c, XCB_COPY_FROM_PARENT, w, root, 0, 0, 10, 10, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
            xcb_map_window(c, w);
            xcb_flush(c);
            probes.append(w);
            managed = until(
                [&] {
                    return property("_NET_CLIENT_LIST").value_or(QList<uint32_t>{}).contains(w);
                },
                500);
        }
        for (xcb_window_t w : std::as_const(probes))
            xcb_destroy_window(c, w);
        xcb_flush(c);
        // Tests start from an empty client list.
        return managed &&
               until(
                   [&] {
                       return property("_NET_CLIENT_LIST").value_or(QList<uint32_t>{1}).isEmpty();
                   },
                   5000);
    }
};

X11Session::X11Session() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::atexit([] {
            std::lock_guard lock(groupsMutex);
            for (pid_t group : liveGroups)
                ::kill(-group, SIGKILL);
        });
    });
}

X11Session::~X11Session() {
    stop();
}

bool X11Session::start(const Options& options) {
    stop();
    m_dir = std::make_unique<QTemporaryDir>();
    m_env = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, dir] : {std::pair{"HOME", "home"},
                                    {"XDG_RUNTIME_DIR", "runtime"},
                                    {"XDG_CONFIG_HOME", "config"},
                                    {"XDG_DATA_HOME", "data"},
                                    {"XDG_CACHE_HOME", "cache"}}) {
        const QString folder = path(QString::fromLatin1(dir));
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_env.insert(QString::fromLatin1(name), folder);
    }
    // No bus: Qt takes the XEmbed tray, and nothing starts a stray dbus-launch.
    m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                 QStringLiteral("unix:path=/nonexistent"));
    // The server and the window manager run on real time even when the test is under
    // faketime; clients that should share it get it through spawn()'s `extra`.
    for (const QString& key : m_env.keys())
        if (key == "LD_PRELOAD" || key.startsWith("FAKETIME") || key == "WAYLAND_DISPLAY" ||
            key == "XDG_SESSION_TYPE" || key == "SESSION_MANAGER")
            m_env.remove(key);
    const auto failed = [this](const QString& what) {
        m_error = what + QLatin1Char('\n') + logText();
        stop();
        return false;
    };

    // Xvfb picks a free display number and writes it to this descriptor when ready.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return failed(QStringLiteral("no pipe"));
    const pid_t xvfb = spawn(QStringList{"Xvfb", "-displayfd", QString::number(fds[1]), "-screen",
                                         "0", "1280x800x24", "-nolisten", "tcp", "-noreset"} +
                                 options.xvfbArguments,
                             {}, fds[1]);
    ::close(fds[1]);
    const QByteArray number = xvfb > 0 ? readLine(fds[0], 15000) : QByteArray();
    if (number.isEmpty())
        return failed(QStringLiteral("Xvfb did not start"));
    m_display = ':' + number;
    m_env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    m_xcb = std::make_unique<Xcb>(m_display);
    if (xcb_connection_has_error(m_xcb->c))
        return failed(QStringLiteral("cannot connect to ") + m_display);

    if (options.sessionBus) {
        // Services it activates (xfconfd) stay in the session's process group.
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return failed(QStringLiteral("no pipe"));
        const pid_t bus = spawn({"dbus-daemon", "--session", "--nofork",
                                 QStringLiteral("--print-address=%1").arg(fds[1])},
                                {}, fds[1]);
        ::close(fds[1]);
        const QByteArray address = readLine(fds[0], 10000);
        if (bus < 0 || address.isEmpty())
            return failed(QStringLiteral("dbus-daemon did not start"));
        m_env.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromLatin1(address));
        m_env.insert("NO_AT_BRIDGE", "1"); // no at-spi helpers
    }
    // The client list comes after the check window, once openbox manages windows.
    if (options.windowManager && (spawn({"openbox", "--sm-disable"}) < 0 ||
                                  !until(
                                      [this] {
                                          return m_xcb->property("_NET_SUPPORTING_WM_CHECK") &&
                                                 m_xcb->property("_NET_CLIENT_LIST");
                                      },
                                      10000) ||
                                  !m_xcb->windowManagerManages()))
        return failed(QStringLiteral("openbox did not become ready"));
    if (options.tray) {
        QFile rc(m_dir->filePath(QStringLiteral("tint2rc")));
        if (!rc.open(QIODevice::WriteOnly) ||
            rc.write("panel_items = S\npanel_position = bottom center horizontal\n"
                     "panel_size = 100% 32\nsystray_icon_size = 24\n") < 0)
            return failed(QStringLiteral("cannot write tint2rc"));
        rc.close();
        if (spawn({"tint2", "-c", rc.fileName()}) < 0 ||
            !until([this] { return m_xcb->selectionOwned("_NET_SYSTEM_TRAY_S0"); }, 10000))
            return failed(QStringLiteral("tint2 did not become ready"));
    }
    return true;
}

pid_t X11Session::startStatusNotifierHost(const QProcessEnvironment& extra) {
    QFile config(path("config/xfce4/xfconf/xfce-perchannel-xml") + "/xfce4-panel.xml");
    if (!config.open(QIODevice::WriteOnly) || config.write(kXfcePanelConfig) < 0)
        return -1;
    config.close();
    const pid_t pid = spawn({"xfce4-panel", "--disable-wm-check"}, extra);
    const auto hostRegistered = [this] {
        QByteArray out;
        return run({"dbus-send", "--session", "--print-reply",
                    "--dest=org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                    "org.freedesktop.DBus.Properties.Get", "string:org.kde.StatusNotifierWatcher",
                    "string:IsStatusNotifierHostRegistered"},
                   &out, 5000, false) == 0 &&
               out.contains("boolean true");
    };
    if (pid < 0 || !until([&] { return !isRunning(pid) || hostRegistered(); }, 15000) ||
        !isRunning(pid))
        return -1;
    return pid;
}

void X11Session::stop() {
    if (m_group > 0) {
        ::kill(-m_group, SIGTERM);
        QDeadlineTimer deadline(3000);
        for (pid_t child : std::as_const(m_children))
            until([child] { return ::waitpid(child, nullptr, WNOHANG) != 0; },
                  int(deadline.remainingTime()));
        ::kill(-m_group, SIGKILL);
        for (pid_t child : std::as_const(m_children))
            ::waitpid(child, nullptr, WNOHANG);
        std::lock_guard lock(groupsMutex);
        liveGroups.erase(m_group);
    }
    m_group = 0;
    m_children.clear();
    m_xcb.reset();
    m_display.clear();
}

pid_t X11Session::spawn(const QStringList& argv, const QProcessEnvironment& extra, int keepFd) {
    if (argv.isEmpty() || !m_dir)
        return -1;
    QProcessEnvironment env = m_env;
    env.insert(extra);
    // Everything the child needs is built before fork: it only calls async-signal-safe code.
    QString program = argv[0];
    if (!program.contains('/'))
        program = QStandardPaths::findExecutable(program, env.value("PATH").split(':'));
    std::vector<QByteArray> storage{QFile::encodeName(program)};
    for (const QString& s : argv.mid(1) + env.toStringList())
        storage.push_back(s.toLocal8Bit());
    std::vector<char*> args, vars;
    for (size_t i = 0; i < storage.size(); ++i)
        (i < size_t(argv.size()) ? args : vars).push_back(storage[i].data());
    args.push_back(nullptr);
    vars.push_back(nullptr);
    const QByteArray log = QFile::encodeName(m_dir->filePath(QStringLiteral("session.log")));
    const pid_t parent = ::getpid(), group = m_group;

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, group);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // dies with the test process, even a crashed one
        if (::getppid() != parent)
            ::_exit(127);
        const int out = ::open(log.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::dup2(::open("/dev/null", O_RDONLY), 0);
        if (keepFd >= 0)
            ::fcntl(keepFd, F_SETFD, 0);
        ::signal(SIGPIPE, SIG_DFL);
        ::execve(args[0], args.data(), vars.data());
        ::_exit(127);
    }
    if (pid < 0)
        return -1;
    ::setpgid(pid, group); // here too, so the group exists before the next child joins
    if (m_group == 0) {
        m_group = pid;
        std::lock_guard lock(groupsMutex);
        liveGroups.insert(pid);
    }
    m_children.append(pid);
    return pid;
}

std::optional<int> X11Session::waitForExit(pid_t pid, int timeoutMs) {
    int status = 0;
    pid_t r = 0;
    if (!until([&] { return (r = ::waitpid(pid, &status, WNOHANG)) != 0; }, timeoutMs, true) ||
        r != pid)
        return std::nullopt;
    m_children.removeAll(pid);
    return status;
}

bool X11Session::isRunning(pid_t pid) {
    const pid_t r = ::waitpid(pid, nullptr, WNOHANG);
    if (r == pid)
        m_children.removeAll(pid);
    return r == 0;
}

int X11Session::run(const QStringList& argv, QByteArray* output, int timeoutMs, bool warn) {
    QProcess process;
    process.setProcessEnvironment(m_env);
    process.start(argv.first(), argv.mid(1));
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return -1;
    }
    if (output)
        *output = process.readAllStandardOutput();
    const QByteArray errors = process.readAllStandardError();
    if (warn && process.exitCode() != 0 && !errors.isEmpty())
        qWarning("%s: %s", qPrintable(argv.first()), errors.constData());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QList<QByteArray> X11Session::windowsOf(pid_t pid) {
    // xdotool gives up when a window vanishes during its walk: retry.
    QByteArray out;
    for (int attempt = 0; attempt < 5 && out.isEmpty(); ++attempt) {
        run({"xdotool", "search", "--pid", QString::number(pid)}, &out, 10000, false);
        out = out.trimmed();
    }
    return out.isEmpty() ? QList<QByteArray>() : out.split('\n');
}

bool X11Session::activate(const QByteArray& window, int timeoutMs) {
    // xdotool's own --sync gives up when the window manager passes through "no window".
    QDeadlineTimer deadline(timeoutMs);
    while (!window.isEmpty() && !deadline.hasExpired()) {
        run({"xdotool", "windowactivate", QString::fromLatin1(window)});
        QByteArray active;
        if (waitFor(
                [&] {
                    return run({"xdotool", "getactivewindow"}, &active, 10000, false) == 0 &&
                           active.trimmed() == window;
                },
                400))
            return true;
    }
    return false;
}

void X11Session::exportToCurrentProcess() const {
    for (const char* key : {"DISPLAY", "HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME",
                            "XDG_DATA_HOME", "XDG_CACHE_HOME", "DBUS_SESSION_BUS_ADDRESS"})
        qputenv(key, m_env.value(QString::fromLatin1(key)).toLocal8Bit());
}

QString X11Session::path(const QString& relative) const {
    if (!m_dir)
        return {};
    QDir().mkpath(m_dir->filePath(relative));
    return m_dir->filePath(relative);
}

bool X11Session::waitFor(const std::function<bool()>& ready, int timeoutMs) {
    return until(ready, timeoutMs, true);
}

QString X11Session::logText() const {
    QFile file(m_dir ? m_dir->filePath(QStringLiteral("session.log")) : QString());
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll().right(4000))
                                          : QString();
}
