#include "X11Session.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <xcb/xcb.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Process groups still alive, killed at exit should a session never be destroyed.
std::mutex groupsMutex;
std::set<pid_t>& liveGroups() {
    static std::set<pid_t> groups;
    return groups;
}
void killLiveGroups() {
    std::lock_guard lock(groupsMutex);
    for (pid_t group : liveGroups())
        ::kill(-group, SIGKILL);
    liveGroups().clear();
}

// argv and envp built before fork, so the child only calls async-signal-safe functions.
struct ExecImage {
    std::vector<QByteArray> storage;
    std::vector<char*> argv;
    std::vector<char*> envp;

    ExecImage(const QStringList& args, const QProcessEnvironment& env) {
        for (const QString& a : args)
            storage.push_back(a.toLocal8Bit());
        const QStringList vars = env.toStringList();
        for (const QString& v : vars)
            storage.push_back(v.toLocal8Bit());
        for (qsizetype i = 0; i < args.size(); ++i)
            argv.push_back(storage[size_t(i)].data());
        argv.push_back(nullptr);
        for (size_t i = size_t(args.size()); i < storage.size(); ++i)
            envp.push_back(storage[i].data());
        envp.push_back(nullptr);
    }
};

QString findProgram(const QString& name, const QProcessEnvironment& env) {
    if (name.contains(QLatin1Char('/')))
        return name;
    const QStringList dirs = env.value(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"))
                                 .split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& dir : dirs) {
        const QString candidate = dir + QLatin1Char('/') + name;
        if (::access(QFile::encodeName(candidate).constData(), X_OK) == 0)
            return candidate;
    }
    return name;
}

// The first line a child writes to `fd` (the read end), without its newline.
QByteArray readLine(int fd, int timeoutMs) {
    QByteArray line;
    QDeadlineTimer deadline(timeoutMs);
    while (!line.endsWith('\n') && !deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(std::min<qint64>(deadline.remainingTime(), 200))) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        line.append(buffer, n);
    }
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
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;
    ~Xcb() {
        if (c)
            xcb_disconnect(c);
    }
    xcb_atom_t atom(const char* name) {
        xcb_intern_atom_reply_t* r =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : XCB_NONE;
        std::free(r);
        return a;
    }
};

X11Session::X11Session() {
    static std::once_flag once;
    std::call_once(once, [] { std::atexit(killLiveGroups); });
}

X11Session::~X11Session() {
    stop();
}

bool X11Session::start(const Options& options) {
    stop();
    m_error.clear();
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("cannot create a temporary folder");
        return false;
    }
    m_env = QProcessEnvironment::systemEnvironment();
    const auto folder = [this](const QString& name) {
        const QString p = m_dir->filePath(name);
        QDir().mkpath(p);
        ::chmod(QFile::encodeName(p).constData(), 0700);
        return p;
    };
    m_env.insert(QStringLiteral("HOME"), folder(QStringLiteral("home")));
    m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder(QStringLiteral("runtime")));
    m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), folder(QStringLiteral("config")));
    m_env.insert(QStringLiteral("XDG_DATA_HOME"), folder(QStringLiteral("data")));
    m_env.insert(QStringLiteral("XDG_CACHE_HOME"), folder(QStringLiteral("cache")));
    // No bus: Qt takes the XEmbed tray, and nothing starts a stray dbus-launch.
    m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                 QStringLiteral("unix:path=/nonexistent"));
    m_env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    m_env.remove(QStringLiteral("XDG_SESSION_TYPE"));
    m_env.remove(QStringLiteral("SESSION_MANAGER"));
    // A test running under faketime keeps it to itself: the server and the window manager
    // run on real time. Clients that should share it get it through spawn()'s `extra`.
    for (const QString& key : m_env.keys())
        if (key == QLatin1String("LD_PRELOAD") || key.startsWith(QLatin1String("FAKETIME")))
            m_env.remove(key);

    const auto failed = [this](const QString& what) {
        m_error = what + QStringLiteral("\n") + logText();
        stop();
        return false;
    };
    if (!startXvfb(options.xvfbArguments))
        return failed(QStringLiteral("Xvfb did not start: ") + m_error);
    if (options.sessionBus && !startSessionBus())
        return failed(QStringLiteral("dbus-daemon did not start"));

    if (options.windowManager) {
        if (spawn({QStringLiteral("openbox"), QStringLiteral("--sm-disable")}) < 0 ||
            // The client list comes after the check window, once openbox manages windows:
            // one mapped in between would stay unmanaged.
            !waitUntil(10000,
                       [this] {
                           return rootHasProperty("_NET_SUPPORTING_WM_CHECK") &&
                                  rootHasProperty("_NET_CLIENT_LIST");
                       }) ||
            !windowManagerManages())
            return failed(QStringLiteral("openbox did not become ready"));
    }
    if (options.tray) {
        const QString rc = m_dir->filePath(QStringLiteral("tint2rc"));
        QFile file(rc);
        if (!file.open(QIODevice::WriteOnly))
            return failed(QStringLiteral("cannot write the tint2 configuration"));
        file.write("panel_items = S\n"
                   "panel_position = bottom center horizontal\n"
                   "panel_size = 100% 32\n"
                   "systray_icon_size = 24\n");
        file.close();
        if (spawn({QStringLiteral("tint2"), QStringLiteral("-c"), rc}) < 0 ||
            !waitUntil(10000, [this] { return selectionHasOwner("_NET_SYSTEM_TRAY_S0"); }))
            return failed(QStringLiteral("tint2 did not become ready"));
    }
    return true;
}

bool X11Session::startXvfb(const QStringList& extra) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        m_error = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    // Xvfb picks a free display number itself and writes it to this descriptor when ready.
    const pid_t pid =
        spawn(QStringList{QStringLiteral("Xvfb"), QStringLiteral("-displayfd"),
                          QString::number(fds[1]), QStringLiteral("-screen"), QStringLiteral("0"),
                          QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                          QStringLiteral("tcp"), QStringLiteral("-noreset")} +
                  extra,
              QProcessEnvironment(), fds[1]);
    ::close(fds[1]);
    const QByteArray number = readLine(fds[0], 15000);
    if (pid < 0) {
        m_error = QStringLiteral("cannot start Xvfb");
        return false;
    }
    if (number.isEmpty()) {
        m_error = QStringLiteral("no display number from Xvfb");
        return false;
    }
    m_display = ':' + number;
    m_env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));

    m_xcb = std::make_unique<Xcb>();
    m_xcb->c = xcb_connect(m_display.constData(), nullptr);
    if (xcb_connection_has_error(m_xcb->c)) {
        m_error = QStringLiteral("cannot connect to ") + QString::fromLatin1(m_display);
        return false;
    }
    m_xcb->root = xcb_setup_roots_iterator(xcb_get_setup(m_xcb->c)).data->root;
    return true;
}

bool X11Session::startSessionBus() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    // Services it activates (xfconfd) stay in the session's process group.
    const pid_t pid =
        spawn({QStringLiteral("dbus-daemon"), QStringLiteral("--session"),
               QStringLiteral("--nofork"), QStringLiteral("--print-address=%1").arg(fds[1])},
              QProcessEnvironment(), fds[1]);
    ::close(fds[1]);
    const QByteArray address = readLine(fds[0], 10000);
    if (pid < 0 || address.isEmpty())
        return false;
    m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromLatin1(address));
    m_env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1")); // no at-spi helpers
    return true;
}

pid_t X11Session::startStatusNotifierHost(const QProcessEnvironment& extra) {
    const QString folder = m_env.value(QStringLiteral("XDG_CONFIG_HOME")) +
                           QStringLiteral("/xfce4/xfconf/xfce-perchannel-xml");
    QDir().mkpath(folder);
    QFile config(folder + QStringLiteral("/xfce4-panel.xml"));
    if (!config.open(QIODevice::WriteOnly) || config.write(kXfcePanelConfig) < 0)
        return -1;
    config.close();
    const pid_t pid =
        spawn({QStringLiteral("xfce4-panel"), QStringLiteral("--disable-wm-check")}, extra);
    const auto hostRegistered = [this] {
        QByteArray out;
        return run({QStringLiteral("dbus-send"), QStringLiteral("--session"),
                    QStringLiteral("--print-reply"),
                    QStringLiteral("--dest=org.kde.StatusNotifierWatcher"),
                    QStringLiteral("/StatusNotifierWatcher"),
                    QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                    QStringLiteral("string:org.kde.StatusNotifierWatcher"),
                    QStringLiteral("string:IsStatusNotifierHostRegistered")},
                   &out, 5000, false) == 0 &&
               out.contains("boolean true");
    };
    if (pid < 0 || !waitUntil(15000, [&] { return !isRunning(pid) || hostRegistered(); }) ||
        !isRunning(pid))
        return -1;
    return pid;
}

void X11Session::stop() {
    if (m_group > 0) {
        ::kill(-m_group, SIGTERM);
        QDeadlineTimer deadline(3000);
        for (pid_t child : std::as_const(m_children)) {
            while (::waitpid(child, nullptr, WNOHANG) == 0 && !deadline.hasExpired())
                QThread::msleep(5);
        }
        ::kill(-m_group, SIGKILL);
        for (pid_t child : std::as_const(m_children))
            ::waitpid(child, nullptr, WNOHANG);
        std::lock_guard lock(groupsMutex);
        liveGroups().erase(m_group);
    }
    m_group = 0;
    m_children.clear();
    m_xcb.reset();
    m_display.clear();
}

pid_t X11Session::spawn(const QStringList& argv, const QProcessEnvironment& extra) {
    return spawn(argv, extra, -1);
}

pid_t X11Session::spawn(const QStringList& argv, const QProcessEnvironment& extra, int keepFd) {
    if (argv.isEmpty() || !m_dir)
        return -1;
    QProcessEnvironment env = m_env;
    env.insert(extra);
    QStringList args = argv;
    args[0] = findProgram(args[0], env);
    ExecImage image(args, env);
    const QByteArray log = QFile::encodeName(m_dir->filePath(QStringLiteral("session.log")));
    const pid_t parent = ::getpid();
    const pid_t group = m_group;

    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        ::setpgid(0, group);
        // Dies with the test process, even when that crashes.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        const int out = ::open(log.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        const int in = ::open("/dev/null", O_RDONLY);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        if (in >= 0)
            ::dup2(in, 0);
        if (keepFd >= 0)
            ::fcntl(keepFd, F_SETFD, 0);
        ::signal(SIGPIPE, SIG_DFL);
        ::execve(image.argv[0], image.argv.data(), image.envp.data());
        ::_exit(127);
    }
    // Set it here too, so the group exists before the next child joins it.
    ::setpgid(pid, group);
    if (m_group == 0) {
        m_group = pid;
        std::lock_guard lock(groupsMutex);
        liveGroups().insert(pid);
    }
    m_children.append(pid);
    return pid;
}

std::optional<int> X11Session::waitForExit(pid_t pid, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            m_children.removeAll(pid);
            return status;
        }
        if (r < 0)
            return std::nullopt;
        if (deadline.hasExpired())
            return std::nullopt;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(5);
    }
}

bool X11Session::isRunning(pid_t pid) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid)
        m_children.removeAll(pid);
    return r == 0;
}

int X11Session::run(const QStringList& argv, QByteArray* output, int timeoutMs, bool warn) {
    QProcess process;
    process.setProcessEnvironment(m_env);
    process.setProcessChannelMode(QProcess::SeparateChannels);
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
    // xdotool gives up on an X error from any window vanishing during its walk: retry.
    QByteArray out;
    for (int attempt = 0; attempt < 5 && out.isEmpty(); ++attempt) {
        run({QStringLiteral("xdotool"), QStringLiteral("search"), QStringLiteral("--pid"),
             QString::number(pid)},
            &out, 10000, false);
        out = out.trimmed();
    }
    return out.isEmpty() ? QList<QByteArray>() : out.split('\n');
}

bool X11Session::activate(const QByteArray& window, int timeoutMs) {
    if (window.isEmpty())
        return false;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        run({QStringLiteral("xdotool"), QStringLiteral("windowactivate"),
             QString::fromLatin1(window)});
        for (int i = 0; i < 20; ++i) {
            QByteArray active;
            if (run({QStringLiteral("xdotool"), QStringLiteral("getactivewindow")}, &active, 10000,
                    false) == 0 &&
                active.trimmed() == window)
                return true;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(10);
        }
    }
    return false;
}

void X11Session::exportToCurrentProcess() const {
    const QStringList keys = {QStringLiteral("DISPLAY"),
                              QStringLiteral("HOME"),
                              QStringLiteral("XDG_RUNTIME_DIR"),
                              QStringLiteral("XDG_CONFIG_HOME"),
                              QStringLiteral("XDG_DATA_HOME"),
                              QStringLiteral("XDG_CACHE_HOME"),
                              QStringLiteral("DBUS_SESSION_BUS_ADDRESS")};
    for (const QString& key : keys)
        qputenv(key.toLatin1().constData(), m_env.value(key).toLocal8Bit());
}

QString X11Session::path(const QString& relative) const {
    if (!m_dir)
        return {};
    const QString p = m_dir->filePath(relative);
    QDir().mkpath(p);
    return p;
}

bool X11Session::waitFor(const std::function<bool()>& ready, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!ready()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

QString X11Session::logText() const {
    if (!m_dir)
        return {};
    QFile file(m_dir->filePath(QStringLiteral("session.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll().right(4000));
}

bool X11Session::waitUntil(int timeoutMs, const std::function<bool()>& ready) {
    QDeadlineTimer deadline(timeoutMs);
    while (!ready()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

QList<uint32_t> X11Session::clientList() {
    QList<uint32_t> ids;
    if (!m_xcb)
        return ids;
    const xcb_atom_t atom = m_xcb->atom("_NET_CLIENT_LIST");
    xcb_get_property_reply_t* r = xcb_get_property_reply(
        m_xcb->c, xcb_get_property(m_xcb->c, 0, m_xcb->root, atom, XCB_ATOM_WINDOW, 0, 4096),
        nullptr);
    if (r && r->format == 32) {
        const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(r));
        ids = QList<uint32_t>(v, v + xcb_get_property_value_length(r) / 4);
    }
    std::free(r);
    return ids;
}

bool X11Session::windowManagerManages() {
    // Right after it starts, openbox sometimes leaves the first map requests queued until
    // another event wakes it. Probe windows, each one a new event, until one is managed.
    if (!m_xcb)
        return false;
    xcb_connection_t* c = m_xcb->c;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    QList<xcb_window_t> probes;
    bool managed = false;
    for (int attempt = 0; attempt < 20 && !managed; ++attempt) {
        const xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, m_xcb->root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        xcb_map_window(c, w);
        xcb_flush(c);
        probes.append(w);
        managed = waitUntil(500, [&] { return clientList().contains(w); });
    }
    for (xcb_window_t w : std::as_const(probes))
        xcb_destroy_window(c, w);
    xcb_flush(c);
    // Tests start from an empty client list.
    return managed && waitUntil(5000, [this] { return clientList().isEmpty(); });
}

bool X11Session::rootHasProperty(const char* atomName) {
    if (!m_xcb)
        return false;
    const xcb_atom_t atom = m_xcb->atom(atomName);
    xcb_get_property_reply_t* r = xcb_get_property_reply(
        m_xcb->c, xcb_get_property(m_xcb->c, 0, m_xcb->root, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 1),
        nullptr);
    const bool present = r && r->type != XCB_NONE;
    std::free(r);
    return present;
}

bool X11Session::selectionHasOwner(const char* atomName) {
    if (!m_xcb)
        return false;
    const xcb_atom_t atom = m_xcb->atom(atomName);
    xcb_get_selection_owner_reply_t* r =
        xcb_get_selection_owner_reply(m_xcb->c, xcb_get_selection_owner(m_xcb->c, atom), nullptr);
    const bool owned = r && r->owner != XCB_NONE;
    std::free(r);
    return owned;
}
