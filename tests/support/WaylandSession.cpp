#include "WaylandSession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <mutex>
#include <pwd.h>
#include <set>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

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
        const QStringList vars = env.toStringList();
        for (const QString& s : args + vars)
            storage.push_back(s.toLocal8Bit());
        for (size_t i = 0; i < storage.size(); ++i)
            (i < size_t(args.size()) ? argv : envp).push_back(storage[i].data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
    }
};

void collectWindows(const QJsonObject& node, const QString& appId, QList<qint64>* ids) {
    if (node.value(QLatin1String("app_id")).toString() == appId)
        ids->append(node.value(QLatin1String("id")).toInteger());
    for (const char* list : {"nodes", "floating_nodes"})
        for (const QJsonValue& child : node.value(QLatin1String(list)).toArray())
            collectWindows(child.toObject(), appId, ids);
}

} // namespace

WaylandSession::WaylandSession() {
    static std::once_flag once;
    std::call_once(once, [] { std::atexit(killLiveGroups); });
}

WaylandSession::~WaylandSession() {
    stop();
}

bool WaylandSession::start(bool* unavailable) {
    stop();
    m_error.clear();
    auto notHere = [&](const QString& why) {
        if (unavailable)
            *unavailable = true;
        m_error = why;
        return false;
    };
    if (unavailable)
        *unavailable = false;
    for (const char* program : {"sway", "swaymsg", "foot", "dbus-daemon"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
            return notHere(QStringLiteral("%1 is not installed").arg(QLatin1String(program)));

    m_dropPrivileges = ::geteuid() == 0;
    if (m_dropPrivileges) {
        if (!::getpwnam(kUser))
            QProcess::execute(QStringLiteral("useradd"),
                              {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                               QStringLiteral("--home-dir"), QStringLiteral("/nonexistent"),
                               QStringLiteral("--shell"), QStringLiteral("/usr/sbin/nologin"),
                               QString::fromLatin1(kUser)});
        const passwd* user = ::getpwnam(kUser);
        if (!user)
            return notHere(QStringLiteral("sway refuses to run as root, and no user %1 could be "
                                          "created to run it")
                               .arg(QLatin1String(kUser)));
        m_uid = user->pw_uid;
        m_gid = user->pw_gid;
    } else {
        m_uid = ::getuid();
        m_gid = ::getgid();
    }

    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid() || !ownByUser(m_dir->path()))
        return notHere(QStringLiteral("cannot create a temporary folder for the session"));
    m_env = QProcessEnvironment::systemEnvironment();
    for (const QString& key : m_env.keys())
        if (key == QLatin1String("LD_PRELOAD") || key.startsWith(QLatin1String("FAKETIME")))
            m_env.remove(key);
    for (const char* key : {"DISPLAY", "WAYLAND_DISPLAY", "SWAYSOCK", "XDG_SESSION_TYPE",
                            "SESSION_MANAGER", "XAUTHORITY"})
        m_env.remove(QString::fromLatin1(key));
    // foot exits at once under a locale the machine has not generated (CI sets one).
    for (const QString& key : m_env.keys())
        if (key.startsWith(QLatin1String("LC_")))
            m_env.remove(key);
    m_env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    // Without SHELL (CI has none) foot runs the session user's login shell, which is nologin.
    m_env.insert(QStringLiteral("SHELL"), QStringLiteral("/bin/sh"));
    const QString runtime = path(QStringLiteral("runtime"));
    ::chmod(QFile::encodeName(runtime).constData(), 0700);
    m_env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
    m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
    m_env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
    m_env.insert(QStringLiteral("XDG_CACHE_HOME"), path(QStringLiteral("cache")));
    m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                 QStringLiteral("unix:path=") + runtime + QStringLiteral("/bus"));
    if (m_dropPrivileges) {
        m_env.insert(QStringLiteral("USER"), QString::fromLatin1(kUser));
        m_env.insert(QStringLiteral("LOGNAME"), QString::fromLatin1(kUser));
    }

    const auto failed = [this](const QString& what) {
        m_error = what + QStringLiteral("\n") + logText();
        stop();
        return false;
    };
    if (spawn({QStringLiteral("dbus-daemon"), QStringLiteral("--session"),
               QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
               QStringLiteral("--address=unix:path=") + runtime + QStringLiteral("/bus")}) < 0 ||
        !waitFor([&] { return QFile::exists(runtime + QStringLiteral("/bus")); }, 10000))
        return failed(QStringLiteral("the session bus did not start"));

    const QString config = m_dir->filePath(QStringLiteral("sway.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return failed(QStringLiteral("cannot write the sway configuration"));
    file.write("xwayland disable\n"
               "output HEADLESS-1 resolution 1280x720 position 0 0\n"
               "focus_follows_mouse no\n");
    file.close();
    ownByUser(config);
    QProcessEnvironment swayEnv;
    swayEnv.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    swayEnv.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    swayEnv.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    swayEnv.insert(QStringLiteral("WLR_HEADLESS_OUTPUTS"), QStringLiteral("1"));
    m_sway = spawn({QStringLiteral("sway"), QStringLiteral("-c"), config}, swayEnv);
    if (m_sway < 0)
        return failed(QStringLiteral("cannot start sway"));

    QString socket;
    const bool up = waitFor(
        [&] {
            if (!isRunning(m_sway))
                return true;
            const QDir dir(runtime);
            const QStringList sockets = dir.entryList({QStringLiteral("wayland-*")}, QDir::System);
            const QStringList ipcs =
                dir.entryList({QStringLiteral("sway-ipc.*.sock")}, QDir::System);
            for (const QString& s : sockets)
                if (!s.endsWith(QLatin1String(".lock")))
                    socket = s;
            if (socket.isEmpty() || ipcs.isEmpty())
                return false;
            m_env.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
            m_env.insert(QStringLiteral("SWAYSOCK"), dir.filePath(ipcs.first()));
            return swaymsg({QStringLiteral("-t"), QStringLiteral("get_outputs")}) == 0;
        },
        10000);
    if (!isRunning(m_sway)) {
        // A machine whose sway cannot start headless at all: say what it said.
        const QString log = logText();
        stop();
        return notHere(QStringLiteral("sway exited while starting headless:\n") + log);
    }
    if (!up)
        return failed(QStringLiteral("sway did not become ready"));
    m_display = QFile::encodeName(QDir(runtime).filePath(socket));
    return true;
}

void WaylandSession::stop() {
    if (m_group > 0) {
        ::kill(-m_group, SIGTERM);
        QDeadlineTimer deadline(3000);
        for (pid_t child : std::as_const(m_children))
            while (::waitpid(child, nullptr, WNOHANG) == 0 && !deadline.hasExpired())
                QThread::msleep(5);
        ::kill(-m_group, SIGKILL);
        for (pid_t child : std::as_const(m_children))
            ::waitpid(child, nullptr, 0);
        std::lock_guard lock(groupsMutex);
        liveGroups().erase(m_group);
    }
    m_group = 0;
    m_sway = 0;
    m_children.clear();
    m_display.clear();
}

bool WaylandSession::ownByUser(const QString& path) const {
    return !m_dropPrivileges || ::chown(QFile::encodeName(path).constData(), m_uid, m_gid) == 0;
}

QString WaylandSession::path(const QString& relative) const {
    if (!m_dir)
        return {};
    QString p = m_dir->path();
    // Each level is made the session user's, so that its programs may write there.
    for (const QString& part : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        p += QLatin1Char('/') + part;
        if (QDir().mkdir(p))
            ownByUser(p);
    }
    return p;
}

pid_t WaylandSession::spawn(const QStringList& argv, const QProcessEnvironment& extra) {
    if (argv.isEmpty() || !m_dir)
        return -1;
    QProcessEnvironment env = m_env;
    env.insert(extra);
    QStringList args = argv;
    if (!args[0].contains(QLatin1Char('/')))
        args[0] = QStandardPaths::findExecutable(args[0]);
    if (args[0].isEmpty())
        return -1;
    ExecImage image(args, env);
    const QByteArray log = QFile::encodeName(m_dir->filePath(QStringLiteral("session.log")));
    const QByteArray home = QFile::encodeName(env.value(QStringLiteral("HOME")));
    const bool drop = m_dropPrivileges;
    const uid_t uid = m_uid;
    const gid_t gid = m_gid;
    const pid_t parent = ::getpid();
    const pid_t group = m_group;

    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        ::setpgid(0, group);
        // Opened before the user changes: the log stays the test's.
        const int out = ::open(log.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int in = ::open("/dev/null", O_RDONLY);
        if (drop && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(126);
        // After the user change, which clears it: dies with the test process.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        if (in >= 0)
            ::dup2(in, 0);
        if (::chdir(home.constData()) != 0)
            ::_exit(125);
        ::signal(SIGPIPE, SIG_DFL);
        ::execve(image.argv[0], image.argv.data(), image.envp.data());
        ::_exit(127);
    }
    ::setpgid(pid, group);
    if (m_group == 0) {
        m_group = pid;
        std::lock_guard lock(groupsMutex);
        liveGroups().insert(pid);
    }
    m_children.append(pid);
    return pid;
}

std::optional<int> WaylandSession::waitForExit(pid_t pid, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            m_children.removeAll(pid);
            return status;
        }
        if (r < 0 || deadline.hasExpired())
            return std::nullopt;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(5);
    }
}

bool WaylandSession::isRunning(pid_t pid) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid)
        m_children.removeAll(pid);
    return r == 0;
}

int WaylandSession::swaymsg(const QStringList& args, QByteArray* output) {
    QProcess process;
    process.setProcessEnvironment(m_env);
    process.start(QStringLiteral("swaymsg"), args);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(1000);
        return -1;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QList<qint64> WaylandSession::windowIds(const QString& appId) {
    QByteArray tree;
    QList<qint64> ids;
    if (swaymsg({QStringLiteral("-t"), QStringLiteral("get_tree")}, &tree) == 0)
        collectWindows(QJsonDocument::fromJson(tree).object(), appId, &ids);
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool WaylandSession::waitFor(const std::function<bool()>& ready, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!ready()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

QString WaylandSession::logText() const {
    if (!m_dir)
        return {};
    QFile file(m_dir->filePath(QStringLiteral("session.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll().right(4000));
}
