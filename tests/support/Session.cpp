#include "Session.h"
#include "Files.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <set>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Groups still alive at exit, should a session never be destroyed.
std::set<pid_t> liveGroups;

bool until(const std::function<bool()>& ready, qint64 timeoutMs, bool events) {
    for (QDeadlineTimer deadline(timeoutMs); !ready(); QThread::msleep(5)) {
        if (deadline.hasExpired())
            return false;
        if (events)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace

bool Session::prepare() {
    stop();
    m_error.clear();
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid() || !own(m_dir->path()))
        return false;
    m_env = QProcessEnvironment::systemEnvironment();
    // The session's programs run on real time even when the test is under faketime (clients
    // that should share it get it through spawn()'s `extra`), and in no outer session.
    for (const QString& key : m_env.keys())
        if (key == "LD_PRELOAD" || key.startsWith("FAKETIME") ||
            QStringList{"DISPLAY", "WAYLAND_DISPLAY", "SWAYSOCK", "XDG_SESSION_TYPE",
                        "SESSION_MANAGER", "XAUTHORITY"}
                .contains(key))
            m_env.remove(key);
    for (const QString key :
         {"HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        const QString folder = path(QString(key).remove("XDG_").section('_', 0, 0).toLower());
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_env.insert(key, folder);
    }
    // No bus: Qt takes the XEmbed tray, and nothing starts a stray dbus-launch.
    m_env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    return true;
}

bool Session::startBus() {
    const QString socket = path("runtime") + "/bus";
    m_env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + socket);
    m_env.insert("NO_AT_BRIDGE", "1"); // no at-spi helpers
    return spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                  "--address=unix:path=" + socket}) > 0 &&
           waitFor([&] { return QFile::exists(socket); }, 10000);
}

QString Session::write(const QString& relative, const QByteArray& contents) const {
    const QString file = m_dir->filePath(relative);
    return writeFile(file, contents) && own(file) ? file : QString();
}

bool Session::fail(const QString& what) {
    m_error = what + '\n' + logText();
    stop();
    return false;
}

void Session::stop() {
    const auto reaped = [this] {
        m_children.removeIf([](pid_t child) { return ::waitpid(child, nullptr, WNOHANG) != 0; });
        return m_children.isEmpty();
    };
    for (int signal : {SIGTERM, SIGKILL})
        if (m_group > 0 && ::kill(-m_group, signal) == 0)
            until(reaped, 3000, false);
    liveGroups.erase(m_group);
    m_group = 0;
    m_children.clear();
    m_display.clear();
}

bool Session::own(const QString& path) const {
    return !m_dropPrivileges || ::chown(QFile::encodeName(path).constData(), m_uid, m_gid) == 0;
}

QString Session::path(const QString& relative) const {
    if (!m_dir)
        return {};
    QString p = m_dir->path();
    // Each level is made the session user's, so that its programs may write there.
    for (const QString& part : relative.split('/', Qt::SkipEmptyParts))
        if (QDir().mkdir(p += '/' + part))
            own(p);
    return p;
}

pid_t Session::spawn(const QStringList& argv, const QProcessEnvironment& extra, int keepFd) {
    QProcessEnvironment env = m_env;
    env.insert(extra);
    QString program = argv.value(0);
    if (!program.contains('/'))
        program = QStandardPaths::findExecutable(program, env.value("PATH").split(':'));
    if (program.isEmpty() || !m_dir)
        return -1;
    // Everything the child needs is built before fork: it only calls async-signal-safe code.
    std::vector<QByteArray> storage{QFile::encodeName(program)};
    for (const QString& s : argv.mid(1) + env.toStringList())
        storage.push_back(s.toLocal8Bit());
    std::vector<char*> args, vars;
    for (size_t i = 0; i < storage.size(); ++i)
        (i < size_t(argv.size()) ? args : vars).push_back(storage[i].data());
    args.push_back(nullptr);
    vars.push_back(nullptr);
    const QByteArray log = QFile::encodeName(m_dir->filePath("session.log"));
    const QByteArray home = QFile::encodeName(env.value("HOME"));
    const pid_t parent = ::getpid(), group = m_group;

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, group);
        // Opened before the user changes: the log stays the test's.
        const int out = ::open(log.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(::open("/dev/null", O_RDONLY), 0);
        if (m_dropPrivileges &&
            (::setgroups(0, nullptr) != 0 || ::setgid(m_gid) != 0 || ::setuid(m_uid) != 0))
            ::_exit(126);
        // After the user change, which clears it: dies with the test process, even a crashed
        // one.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent || ::chdir(home.constData()) != 0)
            ::_exit(127);
        ::dup2(out, 1);
        ::dup2(out, 2);
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
        [[maybe_unused]] static const int atExit = std::atexit([] {
            for (pid_t live : liveGroups)
                ::kill(-live, SIGKILL);
        });
        liveGroups.insert(m_group = pid);
    }
    m_children.append(pid);
    return pid;
}

std::optional<int> Session::waitForExit(pid_t pid, int timeoutMs) {
    int status = 0;
    pid_t r = 0;
    if (!waitFor([&] { return (r = ::waitpid(pid, &status, WNOHANG)) != 0; }, timeoutMs) ||
        r != pid)
        return std::nullopt;
    m_children.removeAll(pid);
    return status;
}

bool Session::isRunning(pid_t pid) {
    const pid_t r = ::waitpid(pid, nullptr, WNOHANG);
    if (r == pid)
        m_children.removeAll(pid);
    return r == 0;
}

int Session::run(const QStringList& argv, QByteArray* output, int timeoutMs, bool warn) {
    QProcess process;
    process.setProcessEnvironment(m_env);
    process.start(argv.first(), argv.mid(1));
    if (!process.waitForFinished(timeoutMs))
        return -1; // the destructor kills it
    if (output)
        *output = process.readAllStandardOutput();
    if (const QByteArray errors = process.readAllStandardError();
        warn && process.exitCode() != 0 && !errors.isEmpty())
        qWarning("%s: %s", qPrintable(argv.first()), errors.constData());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

bool Session::waitFor(const std::function<bool()>& ready, int timeoutMs, bool events) {
    return until(ready, timeoutMs, events);
}

QString Session::busCall(const QString& service, const QString& path, const QString& method,
                         const QStringList& args) {
    QByteArray out;
    run(QStringList{"dbus-send", "--session", "--print-reply", "--dest=" + service, path, method} +
            args,
        &out, 10000, false);
    return QString::fromUtf8(out);
}

QString Session::logText() const {
    return m_dir ? QString::fromLocal8Bit(readFile(m_dir->filePath("session.log")).right(4000))
                 : QString();
}
