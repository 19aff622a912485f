// WaylandWorkspace against a real headless sway, foot terminals and a small Qt client, and
// the quit engine on top of it with a manual clock.

#include "support/ManualClock.h"
#include "support/TempStore.h"
#include "support/WaylandSession.h"

#include "engine/RunningAppsManager.h"
#include "platform/linux/DesktopEntryIndex.h"
#include "platform/wayland/WaylandWorkspace.h"
#include "preferences/AppIdentity.h"

#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QPainter>
#include <QRasterWindow>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <csignal>
#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

// Every message this process sends on any socket. The workspace's protocol traffic goes
// out through sendmsg in libwayland, so a sweep that sends nothing leaves this unchanged.
static std::atomic<quint64> g_sendmsgCalls{0};

extern "C" ssize_t sendmsg(int fd, const struct msghdr* message, int flags) {
    using Real = ssize_t (*)(int, const struct msghdr*, int);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "sendmsg"));
    ++g_sendmsgCalls;
    return real(fd, message, flags);
}

namespace {

// A Qt client of the session, run as its user: one window with the given app_id; with
// `askOnClose` a close request opens a second toplevel (as an editor's "save changes?"
// window does) and the first stays; closing that second one answers it.
class HelperWindow : public QRasterWindow {
public:
    explicit HelperWindow(bool askOnClose)
        : m_askOnClose(askOnClose) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(QRect(QPoint(), size()), Qt::darkCyan);
    }
    void closeEvent(QCloseEvent* event) override {
        if (!m_askOnClose)
            return;
        event->ignore();
        if (!m_question) {
            m_question = std::make_unique<HelperWindow>(false);
            m_question->resize(200, 100);
        }
        m_question->show();
    }

private:
    bool m_askOnClose;
    std::unique_ptr<HelperWindow> m_question;
};

int runHelperWindow(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromLocal8Bit(argv[2]));
    HelperWindow window(argc > 3 && qstrcmp(argv[3], "--ask-on-close") == 0);
    window.resize(320, 200);
    window.show();
    return QGuiApplication::exec();
}

} // namespace

class TestWaylandWorkspace : public QObject {
    Q_OBJECT
public:
    explicit TestWaylandWorkspace(QString helper)
        : m_helperSource(std::move(helper)) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void listsApplicationsNamedByTheirDesktopEntries();
    void deactivationFollowsFocusBetweenApplications();
    void politeQuitClosesEveryToplevel();
    void aQuestionAfterTheCloseIsAskingTheUser();
    void forceQuitSignalsOnlyAProcessNamedWithoutDoubt();
    void ownWindowsAreNeverListed();
    void steadyStateSweepSendsNothing();
    void engineClosesTheIdleTerminalAndKeepsTheFrontOne();

private:
    pid_t foot(const QString& appId);
    pid_t footTitled(const QString& appIdAndTitle, const QStringList& prefix = {});
    pid_t helperWindow(const QString& appId, bool askOnClose = false);
    RunningApplication appFor(const QString& identifier) const;
    void focus(const QString& appId);
    bool waylandQtAvailable() const;

    WaylandSession m_session;
    QString m_helperSource;
    QString m_helper;
    std::unique_ptr<DesktopEntryIndex> m_index;
    std::unique_ptr<WaylandWorkspace> m_ws;
    QList<pid_t> m_clients;
};

void TestWaylandWorkspace::initTestCase() {
    bool unavailable = false;
    if (!m_session.start(&unavailable)) {
        if (unavailable)
            QSKIP(qPrintable(QStringLiteral("no headless sway here: ") + m_session.errorString()));
        QFAIL(qPrintable(m_session.errorString()));
    }
    // Entries of the session's user, read by this process's index.
    const QString applications = m_session.path(QStringLiteral("data/applications"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_session.path(QStringLiteral("data"))));
    const auto entry = [&](const QString& file, const QByteArray& body) {
        QFile f(applications + QLatin1Char('/') + file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Desktop Entry]\nType=Application\nExec=foot\n" + body);
    };
    entry(QStringLiteral("org.example.Alpha.desktop"), "Name=Alpha Editor\n");
    entry(QStringLiteral("beta-viewer.desktop"), "Name=Beta Viewer\nStartupWMClass=BetaView\n");
    entry(QStringLiteral("Gamma.desktop"), "Name=Gamma\n");
    m_index = std::make_unique<DesktopEntryIndex>();
    // sway's IPC names the processes behind windows.
    qputenv("SWAYSOCK", m_session.environment().value(QStringLiteral("SWAYSOCK")).toLocal8Bit());

    // The session's user may not reach the build tree: it runs a copy of this program.
    m_helper = m_session.path(QStringLiteral("bin")) + QStringLiteral("/helper");
    QVERIFY(QFile::copy(m_helperSource, m_helper));
    QFile::setPermissions(m_helper,
                          QFile::permissions(m_helperSource) | QFile::ExeOther | QFile::ReadOther);
}

void TestWaylandWorkspace::init() {
    QString error;
    m_ws = WaylandWorkspace::connect(m_session.display(), &error, *m_index);
    QVERIFY2(m_ws, qPrintable(error));
}

void TestWaylandWorkspace::cleanup() {
    for (pid_t pid : std::as_const(m_clients)) {
        ::kill(pid, SIGKILL);
        m_session.waitForExit(pid, 3000);
    }
    m_clients.clear();
    m_ws.reset();
}

pid_t TestWaylandWorkspace::foot(const QString& appId) {
    const pid_t pid = m_session.spawn({QStringLiteral("foot"), QStringLiteral("--app-id"), appId});
    m_clients.append(pid);
    return pid;
}

// A foot with a fixed title that runs no shell, so nothing changes its title.
pid_t TestWaylandWorkspace::footTitled(const QString& appIdAndTitle, const QStringList& prefix) {
    const pid_t pid = m_session.spawn(
        prefix + QStringList{QStringLiteral("foot"), QStringLiteral("--app-id"), appIdAndTitle,
                             QStringLiteral("--title"), appIdAndTitle, QStringLiteral("sleep"),
                             QStringLiteral("600")});
    m_clients.append(pid);
    return pid;
}

pid_t TestWaylandWorkspace::helperWindow(const QString& appId, bool askOnClose) {
    QStringList args{m_helper, QStringLiteral("--helper-window"), appId};
    if (askOnClose)
        args << QStringLiteral("--ask-on-close");
    QProcessEnvironment env;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    const pid_t pid = m_session.spawn(args, env);
    m_clients.append(pid);
    return pid;
}

bool TestWaylandWorkspace::waylandQtAvailable() const {
    return QFile::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                         QStringLiteral("/platforms/libqwayland-generic.so"));
}

RunningApplication TestWaylandWorkspace::appFor(const QString& identifier) const {
    for (const RunningApplication& app : m_ws->runningApplications())
        if (app.applicationId() == identifier)
            return app;
    return {};
}

void TestWaylandWorkspace::focus(const QString& appId) {
    QCOMPARE(m_session.swaymsg({QStringLiteral("[app_id=\"^%1$\"] focus").arg(appId)}), 0);
}

void TestWaylandWorkspace::listsApplicationsNamedByTheirDesktopEntries() {
    // The desktop-file ID, a StartupWMClass, an ID in another case, and no entry at all;
    // two terminals sharing an app_id are one application.
    foot(QStringLiteral("org.example.Alpha"));
    foot(QStringLiteral("BetaView"));
    foot(QStringLiteral("gamma"));
    foot(QStringLiteral("no-entry"));
    foot(QStringLiteral("no-entry"));
    QVERIFY(m_session.waitFor([&] { return m_ws->runningApplications().size() == 4; }, 10000));

    struct Expected {
        const char* identifier;
        const char* name;
        const char* file;
    };
    const Expected expected[] = {
        {"org.example.Alpha", "Alpha Editor", "org.example.Alpha.desktop"},
        {"beta-viewer", "Beta Viewer", "beta-viewer.desktop"},
        {"Gamma", "Gamma", "Gamma.desktop"},
        {"no-entry", "no-entry", nullptr},
    };
    QSet<ProcessKey> keys;
    for (const Expected& e : expected) {
        const RunningApplication app = appFor(QString::fromLatin1(e.identifier));
        QVERIFY2(!app.isNull(), e.identifier);
        QCOMPARE(app.displayName(), QString::fromLatin1(e.name));
        if (e.file)
            QVERIFY(app.entryPath().value_or(QString()).endsWith(QLatin1String(e.file)));
        else
            QVERIFY(!app.entryPath());
        QCOMPARE(app.activationPolicy(), ActivationPolicy::Regular);
        QVERIFY(app.isFinishedLaunching());
        QVERIFY(!app.isHidden());
        // No process behind a key: it must never be taken for a local PID.
        QVERIFY(app.key().domain != 0);
        keys.insert(app.key());
    }
    QCOMPARE(keys.size(), 4);

    // The group ends with its last toplevel; coming back, it is a new application.
    const ProcessKey before = appFor(QStringLiteral("Gamma")).key();
    ::kill(m_clients[2], SIGTERM);
    QVERIFY(m_session.waitFor([&] { return appFor(QStringLiteral("Gamma")).isNull(); }, 5000));
    foot(QStringLiteral("gamma"));
    QVERIFY(m_session.waitFor([&] { return !appFor(QStringLiteral("Gamma")).isNull(); }, 10000));
    QVERIFY(appFor(QStringLiteral("Gamma")).key() != before);
}

void TestWaylandWorkspace::deactivationFollowsFocusBetweenApplications() {
    foot(QStringLiteral("focus-a"));
    foot(QStringLiteral("focus-b"));
    foot(QStringLiteral("focus-b"));
    QVERIFY(m_session.waitFor(
        [&] {
            return m_session.windowIds(QStringLiteral("focus-b")).size() == 2 &&
                   m_ws->runningApplications().size() == 2;
        },
        10000));
    const RunningApplication a = appFor(QStringLiteral("focus-a"));
    const RunningApplication b = appFor(QStringLiteral("focus-b"));

    focus(QStringLiteral("focus-a"));
    QVERIFY(m_session.waitFor([&] { return m_ws->frontmostApplication() == a; }, 5000));
    // b's own deactivation is still on its way.
    QCoreApplication::sendPostedEvents();
    QSignalSpy spy(m_ws.get(), &Workspace::didDeactivateApplication);

    focus(QStringLiteral("focus-b"));
    QVERIFY(m_session.waitFor([&] { return spy.size() == 1; }, 5000));
    QCOMPARE(spy.at(0).at(0).value<RunningApplication>(), a);
    QCOMPARE(m_ws->frontmostApplication(), b);

    // From one of b's windows to its other one and back: b stays in front.
    for (qint64 id : m_session.windowIds(QStringLiteral("focus-b")))
        QCOMPARE(m_session.swaymsg({QStringLiteral("[con_id=%1] focus").arg(id)}), 0);
    QTest::qWait(200);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(m_ws->frontmostApplication(), b);

    focus(QStringLiteral("focus-a"));
    QVERIFY(m_session.waitFor([&] { return spy.size() == 2; }, 5000));
    QCOMPARE(spy.at(1).at(0).value<RunningApplication>(), b);
    QCOMPARE(m_ws->frontmostApplication(), a);
}

void TestWaylandWorkspace::politeQuitClosesEveryToplevel() {
    // One after the other: the newest window takes the focus, which tells it is listed.
    const auto started = [this](const QString& appId) {
        return m_session.waitFor(
            [&] {
                const RunningApplication front = m_ws->frontmostApplication();
                return !front.isNull() && front.applicationId() == appId;
            },
            10000);
    };
    const pid_t first = foot(QStringLiteral("closing"));
    QVERIFY(started(QStringLiteral("closing")));
    const pid_t other = foot(QStringLiteral("staying"));
    QVERIFY(started(QStringLiteral("staying")));
    const pid_t second = foot(QStringLiteral("closing"));
    QVERIFY(started(QStringLiteral("closing")));
    RunningApplication app = appFor(QStringLiteral("closing"));
    QVERIFY(app.acceptsPoliteQuit());

    QVERIFY(app.terminate());
    QVERIFY(m_session.waitForExit(first, 5000));
    QVERIFY(m_session.waitForExit(second, 5000));
    QVERIFY(m_session.waitFor([&] { return appFor(QStringLiteral("closing")).isNull(); }, 5000));
    QVERIFY(m_session.isRunning(other));
    // Its windows are gone: a handle kept by the engine delivers nothing more.
    QVERIFY(!app.terminate());
}

void TestWaylandWorkspace::aQuestionAfterTheCloseIsAskingTheUser() {
    if (!waylandQtAvailable())
        QSKIP("Qt's Wayland platform plugin (qt6-wayland) is not installed");
    helperWindow(QStringLiteral("org.example.Editor"), true);
    QVERIFY(m_session.waitFor(
        [&] { return !appFor(QStringLiteral("org.example.Editor")).isNull(); }, 10000));
    const RunningApplication editor = appFor(QStringLiteral("org.example.Editor"));
    QVERIFY(!editor.isAskingUser());

    QVERIFY(editor.terminate());
    QVERIFY(m_session.waitFor([&] { return editor.isAskingUser(); }, 5000));
    QVERIFY(m_session.isRunning(m_clients.last()));

    // The user answers the question (closes it): the editor stays and is no longer asking.
    const QList<qint64> windows = m_session.windowIds(QStringLiteral("org.example.Editor"));
    QCOMPARE(windows.size(), 2);
    QCOMPARE(m_session.swaymsg({QStringLiteral("[con_id=%1] kill").arg(windows.last())}), 0);
    QVERIFY(m_session.waitFor([&] { return !editor.isAskingUser(); }, 5000));
    QCOMPARE(appFor(QStringLiteral("org.example.Editor")), editor);
}

void TestWaylandWorkspace::forceQuitSignalsOnlyAProcessNamedWithoutDoubt() {
    const pid_t forced = footTitled(QStringLiteral("forced"));
    // Two processes whose windows look alike: which is which cannot be known, even for the
    // one that was alone at first.
    const pid_t twin1 = footTitled(QStringLiteral("twin"));
    QVERIFY(m_session.waitFor([&] { return !appFor(QStringLiteral("twin")).isNull(); }, 10000));
    const pid_t twin2 = footTitled(QStringLiteral("twin"));
    // A foot on a connection its launcher opened: sway names the launcher, which then ends.
    const pid_t launcher =
        footTitled(QStringLiteral("orphan"), {m_helper, QStringLiteral("--via")});
    QVERIFY(m_session.waitFor(
        [&] {
            return m_session.windowIds(QStringLiteral("twin")).size() == 2 &&
                   m_ws->runningApplications().size() == 3;
        },
        10000));
    QVERIFY(m_ws->canForceQuit());
    const RunningApplication twins = appFor(QStringLiteral("twin"));
    const RunningApplication orphan = appFor(QStringLiteral("orphan"));
    QVERIFY(twins.canForceQuit());
    QVERIFY(!twins.forceTerminate());

    ::kill(launcher, SIGTERM);
    QVERIFY(m_session.waitForExit(launcher, 5000));
    // Its PID taken by another client of the compositor, where the kernel lets us choose.
    pid_t reuser = -1;
    for (int attempt = 0; attempt < 100 && reuser != launcher; ++attempt) {
        QFile last(QStringLiteral("/proc/sys/kernel/ns_last_pid"));
        if (!last.open(QIODevice::WriteOnly) || last.write(QByteArray::number(launcher - 1)) < 0)
            break;
        last.close();
        if (reuser > 0) {
            ::kill(reuser, SIGKILL);
            m_session.waitForExit(reuser, 3000);
        }
        reuser = footTitled(QStringLiteral("reuser"));
    }
    if (reuser == launcher)
        QVERIFY(
            m_session.waitFor([&] { return !appFor(QStringLiteral("reuser")).isNull(); }, 10000));
    else
        qWarning("the launcher's PID could not be reused here; only its end is checked");
    QVERIFY(!orphan.forceTerminate());

    QVERIFY(appFor(QStringLiteral("forced")).forceTerminate());
    const std::optional<int> status = m_session.waitForExit(forced, 5000);
    QVERIFY(status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL);
    QTest::qWait(200);
    QVERIFY(m_session.isRunning(twin1) && m_session.isRunning(twin2));
    QVERIFY(reuser < 0 || m_session.isRunning(reuser));
    QCOMPARE(appFor(QStringLiteral("orphan")), orphan);
    // Not a child of ours: closed through the compositor.
    QCOMPARE(m_session.swaymsg({QStringLiteral("[app_id=orphan] kill")}), 0);
    QVERIFY(m_session.waitFor([&] { return appFor(QStringLiteral("orphan")).isNull(); }, 5000));
}

void TestWaylandWorkspace::ownWindowsAreNeverListed() {
    if (!waylandQtAvailable())
        QSKIP("Qt's Wayland platform plugin (qt6-wayland) is not installed");
    const QString own = QString::fromLatin1(kAppIdentifier);
    foot(QStringLiteral("beside-us"));
    QVERIFY(
        m_session.waitFor([&] { return !appFor(QStringLiteral("beside-us")).isNull(); }, 10000));
    focus(QStringLiteral("beside-us"));
    QVERIFY(m_session.waitFor(
        [&] { return m_ws->frontmostApplication() == appFor(QStringLiteral("beside-us")); }, 5000));
    QCoreApplication::sendPostedEvents();
    QSignalSpy spy(m_ws.get(), &Workspace::didDeactivateApplication);

    // A Qt window with our desktop-file name, as Idlewatch's own popover has.
    helperWindow(own);
    QVERIFY(m_session.waitFor([&] { return !m_session.windowIds(own).isEmpty(); }, 10000));
    focus(own);
    // Our window in front: the other application left the foreground, and nothing is.
    QVERIFY(m_session.waitFor([&] { return spy.size() == 1; }, 5000));
    QVERIFY(m_ws->frontmostApplication().isNull());
    const auto apps = m_ws->runningApplications();
    QCOMPARE(apps.size(), 1);
    QCOMPARE(apps.first().applicationId(), QStringLiteral("beside-us"));
}

void TestWaylandWorkspace::steadyStateSweepSendsNothing() {
    for (int i = 0; i < 6; ++i)
        foot(QStringLiteral("sweep-%1").arg(i % 3));
    // Every window mapped, so that none takes the focus later.
    QVERIFY(m_session.waitFor(
        [&] {
            qsizetype windows = 0;
            for (int i = 0; i < 3; ++i)
                windows += m_session.windowIds(QStringLiteral("sweep-%1").arg(i)).size();
            return windows == 6 && m_ws->runningApplications().size() == 3;
        },
        10000));
    focus(QStringLiteral("sweep-1"));
    QVERIFY(m_session.waitFor(
        [&] { return m_ws->frontmostApplication() == appFor(QStringLiteral("sweep-1")); }, 5000));
    QTest::qWait(300);
    QCoreApplication::processEvents();

    const quint64 before = g_sendmsgCalls;
    for (int sweep = 0; sweep < 50; ++sweep) {
        const RunningApplication front = m_ws->frontmostApplication();
        for (const RunningApplication& app : m_ws->runningApplications()) {
            QVERIFY(app.displayName());
            QVERIFY(!app.isHidden());
            QCOMPARE(app == front, app.applicationId() == QStringLiteral("sweep-1"));
            QVERIFY(!app.isAskingUser());
        }
    }
    QCOMPARE(g_sendmsgCalls.load(), before);
    // The count does see the workspace's traffic: closing it sends its goodbyes.
    m_ws.reset();
    QVERIFY(g_sendmsgCalls.load() > before);
}

void TestWaylandWorkspace::engineClosesTheIdleTerminalAndKeepsTheFrontOne() {
    const pid_t background = foot(QStringLiteral("idle-term"));
    const pid_t front = foot(QStringLiteral("front-term"));
    QVERIFY(m_session.waitFor([&] { return m_ws->runningApplications().size() == 2; }, 10000));
    focus(QStringLiteral("idle-term"));
    focus(QStringLiteral("front-term"));
    QVERIFY(m_session.waitFor(
        [&] { return m_ws->frontmostApplication() == appFor(QStringLiteral("front-term")); },
        5000));

    TempStore store;
    Preference<qint64>(*store, Keys::minutesUntilClose).set(1);
    ManualClock clock;
    RunningAppsManager engine(*m_ws, *store, clock);
    // One sweep after `seconds`, with what it posts run as the main queue would.
    const auto sweepAfter = [&](double seconds) {
        QCoreApplication::sendPostedEvents();
        clock.advance(seconds);
        engine.checkOpenApps();
        QCoreApplication::sendPostedEvents();
    };
    sweepAfter(0);
    sweepAfter(30);
    QTest::qWait(200);
    QVERIFY(m_session.isRunning(background));

    sweepAfter(31);
    const std::optional<int> status = m_session.waitForExit(background, 5000);
    QVERIFY2(status, "the idle terminal was not closed");
    // Asked to close, not killed.
    QVERIFY(WIFEXITED(*status));
    for (int i = 0; i < 5; ++i)
        sweepAfter(3600);
    QTest::qWait(200);
    QVERIFY(m_session.isRunning(front));
}

// Opens a connection to the compositor, runs the rest of the command line on it (through
// WAYLAND_SOCKET) and waits to be ended.
int runVia(char** argv) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = qgetenv("XDG_RUNTIME_DIR") + '/' + qgetenv("WAYLAND_DISPLAY");
    qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return 1;
    if (::fork() == 0) {
        ::setenv("WAYLAND_SOCKET", QByteArray::number(fd).constData(), 1);
        ::execvp(argv[2], argv + 2);
        ::_exit(127);
    }
    ::close(fd);
    ::pause();
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 2 && qstrcmp(argv[1], "--via") == 0)
        return runVia(argv);
    if (argc > 2 && qstrcmp(argv[1], "--helper-window") == 0)
        return runHelperWindow(argc, argv);
    QGuiApplication app(argc, argv);
    TestWaylandWorkspace test(QCoreApplication::applicationFilePath());
    return QTest::qExec(&test, argc, argv);
}

#include "test_wayland_workspace.moc"
