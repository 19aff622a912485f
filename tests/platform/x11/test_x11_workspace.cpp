// X11Workspace against a real X server, window manager and clients.

#include "support/ManualClock.h"
#include "support/TempStore.h"
#include "support/X11Session.h"

#include "engine/RunningAppsManager.h"
#include "platform/linux/DesktopEntryIndex.h"
#include "platform/x11/X11Workspace.h"
#include "preferences/AppIdentity.h"

#include <QFile>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

class TestX11Workspace : public QObject {
    Q_OBJECT
public:
    explicit TestX11Workspace(X11Session& session)
        : m_session(session) {}

private slots:
    void init();
    void cleanup();

    void listsOneHandlePerProcessInClientListOrder();
    void frontmostAndDeactivation();
    void minimisedWindowIsSeenHidden();
    void desktopComponentsAreNeverTracked();
    void politeQuitClosesEveryWindow_data();
    void politeQuitClosesEveryWindow();
    void clientWithoutDeleteWindowGetsNoPoliteRequest_data();
    void clientWithoutDeleteWindowGetsNoPoliteRequest();
    void forcedQuitClosesTheConnection();
    void clientOutlivingItsConnectionIsKilled();
    void pidReusedBeforeTheWindowWasSeenIsNeverSignalled();
    void advertisedPidIsNotTrustedOverServer();
    void withoutXResourceNoPidIsSignalled();
    void politeQuitAsksMainWindowsOnly();
    void entryMatching_data();
    void entryMatching();
    void ownProcessAndOwnWindows();

private:
    pid_t startClient(const QStringList& args, const QString& program = {});
    RunningApplication appFor(pid_t pid) const;
    QList<QByteArray> windowsOf(pid_t pid) { return m_session.windowsOf(pid); }
    bool managed(pid_t pid, int windows);
    QList<qint64> listedPids() const;

    X11Session& m_session;
    DesktopEntryIndex* m_index = nullptr;
    std::unique_ptr<X11Workspace> m_ws;
    QList<pid_t> m_clients;
};

pid_t TestX11Workspace::startClient(const QStringList& args, const QString& program) {
    const QString exe = program.isEmpty() ? QStringLiteral(TESTCLIENT_PATH) : program;
    const pid_t pid = m_session.spawn(QStringList{exe} + args);
    if (pid > 0)
        m_clients.append(pid);
    return pid;
}

RunningApplication TestX11Workspace::appFor(pid_t pid) const {
    for (const RunningApplication& app : m_ws->runningApplications())
        if (app.key().pid == pid && app.key().domain == 0)
            return app;
    return {};
}

// True once the window manager lists all `windows` windows of the client.
bool TestX11Workspace::managed(pid_t pid, int windows) {
    const QList<QByteArray> own = windowsOf(pid);
    QByteArray list;
    m_session.run({"xprop", "-root", "-notype", "_NET_CLIENT_LIST"}, &list);
    qsizetype found = 0;
    for (const QByteArray& id : own)
        found += list.contains("0x" + QByteArray::number(id.toULongLong(), 16));
    return own.size() == windows && found == windows;
}

QList<qint64> TestX11Workspace::listedPids() const {
    QList<qint64> pids;
    for (const RunningApplication& app : m_ws->runningApplications())
        if (m_clients.contains(pid_t(app.key().pid)))
            pids.append(app.key().pid);
    return pids;
}

void TestX11Workspace::init() {
    m_session.exportToCurrentProcess();
    // Each test reads the entries it wrote into the session's XDG_DATA_HOME.
    m_index = new DesktopEntryIndex(this);
    QString error;
    m_ws = X11Workspace::connect(m_session.display(), &error, *m_index);
    QVERIFY2(m_ws, qPrintable(error));
}

void TestX11Workspace::cleanup() {
    for (pid_t pid : std::as_const(m_clients)) {
        ::kill(pid, SIGKILL);
        m_session.waitForExit(pid, 3000);
    }
    m_clients.clear();
    m_ws.reset();
    delete m_index;
    m_index = nullptr;
    QFile::remove(m_session.path(QStringLiteral("data/applications")) + "/alpha.desktop");
}

void TestX11Workspace::listsOneHandlePerProcessInClientListOrder() {
    const pid_t a = startClient({"--class", "a,A"});
    QTRY_VERIFY(!appFor(a).isNull());
    const pid_t b = startClient({"--class", "b,B", "--windows", "3"});
    QTRY_VERIFY(managed(b, 3));
    const pid_t c = startClient({"--class", "c,C", "--no-pid"});
    QTRY_COMPARE(listedPids(), (QList<qint64>{a, b, c}));

    // Handles are stable map keys: equal across listings and hashed alike.
    const RunningApplication first = appFor(b);
    QCOMPARE(appFor(b), first);
    QCOMPARE(qHash(appFor(b)), qHash(first));
    QVERIFY(first.key().startTime != 0);

    // In the steady state a full sweep asks the server nothing.
    QTest::qWait(100);
    (void)m_ws->runningApplications();
    const quint64 before = m_ws->requestCount();
    for (const RunningApplication& app : m_ws->runningApplications()) {
        (void)app.applicationId();
        (void)app.displayName();
        (void)app.isHidden();
        (void)app.activationPolicy();
        (void)app.isFinishedLaunching();
    }
    (void)m_ws->frontmostApplication();
    QCOMPARE(m_ws->requestCount(), before);

    // A relaunch is a new application; the ended one leaves the list.
    ::kill(a, SIGKILL);
    QVERIFY(m_session.waitForExit(a, 3000));
    const pid_t again = startClient({"--class", "a,A"});
    QTRY_COMPARE(listedPids(), (QList<qint64>{b, c, again}));
}

void TestX11Workspace::frontmostAndDeactivation() {
    const pid_t a = startClient({"--class", "a,A"});
    const pid_t b = startClient({"--class", "b,B", "--windows", "2"});
    QTRY_VERIFY(managed(a, 1));
    QTRY_VERIFY(managed(b, 2));
    const QByteArray windowA = windowsOf(a).first();
    const QList<QByteArray> windowsB = windowsOf(b);
    auto activate = [this](const QByteArray& window) {
        QCOMPARE(
            m_session.run({"xdotool", "windowactivate", "--sync", QString::fromLatin1(window)}), 0);
    };

    activate(windowA);
    QTRY_COMPARE(m_ws->frontmostApplication(), appFor(a));
    QSignalSpy spy(m_ws.get(), &Workspace::didDeactivateApplication);

    activate(windowsB[0]);
    QTRY_COMPARE(m_ws->frontmostApplication(), appFor(b));
    QTRY_COMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).value<RunningApplication>(), appFor(a));

    // Another window of the same application, and the window manager passing through no
    // window at all, are not a change of application.
    activate(windowsB[1]);
    QTest::qWait(200);
    QCOMPARE(spy.size(), 1);

    activate(windowA);
    QTRY_COMPARE(spy.size(), 2);
    QCOMPARE(spy.at(1).at(0).value<RunningApplication>(), appFor(b));
    QTest::qWait(200);
    QCOMPARE(spy.size(), 2);
}

// A state change reaches the handle through PropertyNotify alone.
void TestX11Workspace::minimisedWindowIsSeenHidden() {
    const pid_t pid = startClient({});
    QTRY_VERIFY(managed(pid, 1));
    QTRY_VERIFY(!appFor(pid).isNull());
    QVERIFY(!appFor(pid).isHidden());
    QCOMPARE(m_session.run({"xdotool", "windowminimize", "--sync", windowsOf(pid).value(0)}), 0);
    QTRY_VERIFY(appFor(pid).isHidden());
    // Minimised windows are unmapped, yet the application finished launching long ago.
    QVERIFY(appFor(pid).isFinishedLaunching());
    QCOMPARE(appFor(pid).activationPolicy(), ActivationPolicy::Regular);
}

// The desktop's own parts (tint2, a dock; a desktop window) are told apart by their window
// types alone, as is a window kept off the taskbar: the engine never tracks them, in front
// or not, and never asks them to quit.
void TestX11Workspace::desktopComponentsAreNeverTracked() {
    const pid_t desktop = startClient({"--type", "desktop", "--class", "desk,Desk"});
    const pid_t side = startClient({"--skip-taskbar", "--class", "side,Side"});
    const pid_t front = startClient({"--class", "front,Front"});
    QTRY_VERIFY(!appFor(desktop).isNull() && !appFor(side).isNull() && !appFor(front).isNull());
    auto panel = [this] {
        for (const RunningApplication& app : m_ws->runningApplications())
            if (app.applicationId().value_or(QString()).compare("tint2", Qt::CaseInsensitive) == 0)
                return app;
        return RunningApplication();
    };
    QTRY_VERIFY(!panel().isNull());
    QVERIFY(m_session.activate(windowsOf(desktop).value(0)));
    QTRY_COMPARE(m_ws->frontmostApplication(), appFor(desktop));

    TempStore store;
    Preference<qint64>(*store, Keys::minutesUntilClose).set(1);
    ManualClock clock;
    RunningAppsManager engine(*m_ws, *store, clock);
    QCoreApplication::sendPostedEvents();
    // The desktop leaves the foreground: a deactivation the engine must not stamp.
    QVERIFY(m_session.activate(windowsOf(front).value(0)));
    QTRY_COMPARE(m_ws->frontmostApplication(), appFor(front));
    for (int hour = 0; hour < 3; ++hour) {
        QTest::qWait(20);
        QCoreApplication::sendPostedEvents();
        clock.advance(3600);
        engine.checkOpenApps();
        QVERIFY(engine.runningApps().contains(appFor(front)));
        QCOMPARE(engine.runningApps().size(), 1);
    }
    QTest::qWait(300);
    QVERIFY(m_session.isRunning(desktop) && m_session.isRunning(side));
    QVERIFY(!panel().isNull());
}

void TestX11Workspace::politeQuitClosesEveryWindow_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("windows");
    QTest::newRow("xterm") << "xterm" << QStringList{} << 1;
    QTest::newRow("three windows") << "" << QStringList{"--windows", "3"} << 3;
}

void TestX11Workspace::politeQuitClosesEveryWindow() {
    QFETCH(QString, program);
    QFETCH(QStringList, args);
    QFETCH(int, windows);
    const pid_t pid = startClient(args, program);
    QTRY_VERIFY_WITH_TIMEOUT(managed(pid, windows), 10000);
    QTRY_VERIFY(!appFor(pid).isNull());
    QVERIFY(appFor(pid).terminate());
    const std::optional<int> status = m_session.waitForExit(pid, 5000);
    QVERIFY2(status, "the application did not quit");
    QTRY_VERIFY(appFor(pid).isNull());
}

void TestX11Workspace::clientWithoutDeleteWindowGetsNoPoliteRequest_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("windows");
    QTest::newRow("no window has it") << QStringList{"--no-delete"} << 1;
    QTest::newRow("one of two lacks it") << QStringList{"--windows", "2", "--no-delete-last"} << 2;
}

void TestX11Workspace::clientWithoutDeleteWindowGetsNoPoliteRequest() {
    // A window manager answers a close request to such a window by killing the client, so
    // not even the windows that would accept one are asked.
    QFETCH(QStringList, args);
    QFETCH(int, windows);
    const pid_t pid = startClient(args);
    QTRY_VERIFY(managed(pid, windows));
    QTRY_VERIFY(!appFor(pid).isNull());
    const quint64 before = m_ws->requestCount();
    QVERIFY(!appFor(pid).terminate());
    QCOMPARE(m_ws->requestCount(), before);
    QTest::qWait(300);
    QVERIFY(m_session.isRunning(pid));
}

void TestX11Workspace::forcedQuitClosesTheConnection() {
    const pid_t pid = startClient({"--ignore-close"});
    QTRY_VERIFY(!appFor(pid).isNull());
    const RunningApplication app = appFor(pid);
    QVERIFY(app.terminate()); // delivered, and ignored
    QTest::qWait(300);
    QVERIFY(m_session.isRunning(pid));

    // The server closes the client's connection; the client ends by itself, unsignalled.
    QVERIFY(app.forceTerminate());
    const std::optional<int> status = m_session.waitForExit(pid, 5000);
    QVERIFY(status);
    QVERIFY(WIFEXITED(*status));
    QTRY_VERIFY(appFor(pid).isNull());
}

void TestX11Workspace::clientOutlivingItsConnectionIsKilled() {
    // Proven to hold the window's connection (X-Resource PID, same start time, a socket to
    // this server): killed when it does not end with its connection.
    const pid_t pid = startClient({"--no-delete", "--linger"});
    QTRY_VERIFY(!appFor(pid).isNull());
    QVERIFY(appFor(pid).forceTerminate());
    QTRY_VERIFY(appFor(pid).isNull());
    const std::optional<int> status = m_session.waitForExit(pid, 8000);
    QVERIFY2(status, "the client outliving its connection was not killed");
    QVERIFY(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL);
}

void TestX11Workspace::pidReusedBeforeTheWindowWasSeenIsNeverSignalled() {
    // The window's client forks, its parent (the PID the server knows) exits, and another
    // process takes that PID, all before Idlewatch first sees the window.
    m_ws.reset();
    const pid_t parent = startClient({"--fork", "--no-delete", "--linger"});
    QVERIFY(m_session.waitForExit(parent, 5000));
    QFile lastPid(QStringLiteral("/proc/sys/kernel/ns_last_pid"));
    pid_t decoy = -1;
    for (int attempt = 0; attempt < 50 && decoy != parent; ++attempt) {
        if (!lastPid.open(QIODevice::WriteOnly))
            break;
        lastPid.write(QByteArray::number(parent - 1));
        lastPid.close();
        decoy = startClient({"30"}, QStringLiteral("sleep"));
        if (decoy != parent) {
            ::kill(decoy, SIGKILL);
            m_session.waitForExit(decoy, 3000);
            m_clients.removeAll(decoy);
        }
    }
    if (decoy != parent)
        QSKIP("cannot make the kernel reuse a chosen PID here (needs root)");
    m_session.run({"sleep", "0.2"}); // let the decoy exec

    QString error;
    m_ws = X11Workspace::connect(m_session.display(), &error, *m_index);
    QVERIFY2(m_ws, qPrintable(error));
    QTRY_VERIFY(!appFor(parent).isNull());
    const RunningApplication app = appFor(parent);
    QVERIFY(!app.terminate()); // no WM_DELETE_WINDOW
    QVERIFY(app.forceTerminate());
    // The real owner's window goes with its connection; the decoy is never signalled, not
    // even once the follow-up would have fired.
    QTRY_VERIFY(appFor(parent).isNull());
    QTest::qWait(2500);
    QVERIFY(m_session.isRunning(decoy));
}

void TestX11Workspace::advertisedPidIsNotTrustedOverServer() {
    // A client claiming another process's PID (as sandboxed clients do with their own
    // namespace's numbers) must not get that process killed.
    const pid_t bystander = startClient({"30"}, QStringLiteral("sleep"));
    const pid_t liar = startClient({"--pid", QString::number(bystander)});
    QTRY_VERIFY(!appFor(liar).isNull());
    QVERIFY(appFor(bystander).isNull());
    QVERIFY(appFor(liar).forceTerminate());
    QVERIFY(m_session.waitForExit(liar, 5000));
    QTest::qWait(2500);
    QVERIFY(m_session.isRunning(bystander));
}

void TestX11Workspace::withoutXResourceNoPidIsSignalled() {
    // Without X-Resource only the clients' own _NET_WM_PID names a process: windows claiming
    // PID 1 and an unrelated process's PID are ended through their connections alone.
    X11Session bare;
    QVERIFY2(bare.start({.windowManager = true, .xvfbArguments = {"-extension", "X-Resource"}}),
             qPrintable(bare.errorString()));
    QString error;
    auto ws = X11Workspace::connect(bare.display(), &error, *m_index);
    QVERIFY2(ws, qPrintable(error));
    const pid_t decoy = bare.spawn({QStringLiteral("sleep"), QStringLiteral("30")});
    const pid_t liar = bare.spawn({QStringLiteral(TESTCLIENT_PATH), QStringLiteral("--pid"),
                                   QString::number(decoy), QStringLiteral("--no-delete")});
    const pid_t init = bare.spawn({QStringLiteral(TESTCLIENT_PATH), QStringLiteral("--pid"),
                                   QStringLiteral("1"), QStringLiteral("--no-delete")});
    auto claiming = [&ws](qint64 pid) {
        for (const RunningApplication& app : ws->runningApplications())
            if (app.key().pid == pid)
                return app;
        return RunningApplication();
    };
    QTRY_VERIFY(!claiming(decoy).isNull() && !claiming(1).isNull());
    QVERIFY(claiming(decoy).key().domain != 0); // never taken for a local process
    QVERIFY(claiming(decoy).forceTerminate());
    QVERIFY(claiming(1).forceTerminate());
    QVERIFY(bare.waitForExit(liar, 5000));
    QVERIFY(bare.waitForExit(init, 5000));
    QTest::qWait(2500);
    QVERIFY(bare.isRunning(decoy));
    ::kill(decoy, SIGKILL);
    bare.waitForExit(decoy, 3000);
}

void TestX11Workspace::politeQuitAsksMainWindowsOnly() {
    const QString report = m_session.path(QStringLiteral("reports")) + "/editor";
    QFile::remove(report);
    auto events = [&report] {
        QFile f(report);
        return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().replace('\n', ' ')
                                           : QByteArray();
    };
    const pid_t pid = startClient({"--ask-on-close", "--report", report});
    QTRY_VERIFY(!appFor(pid).isNull());
    const RunningApplication app = appFor(pid);
    QVERIFY(!app.isAskingUser() && !app.hasModalWindow() && app.acceptsPoliteQuit());
    QVERIFY(app.terminate());
    QTRY_COMPARE(events(), QByteArray("asked"));
    // Its "save?" dialog: transient, modal, with WM_DELETE_WINDOW of its own.
    QTRY_VERIFY(app.isAskingUser() && app.hasModalWindow());
    QCOMPARE(app.activationPolicy(), ActivationPolicy::Regular);

    // Asked again (the engine never does this while the dialog is open), the request still
    // goes to the main window only: the dialog is never cancelled by us.
    QVERIFY(app.terminate());
    QVERIFY(m_session.waitForExit(pid, 5000));
    QCOMPARE(events(), QByteArray("asked discarded"));
}

void TestX11Workspace::entryMatching_data() {
    QTest::addColumn<QString>("wmClass");
    QTest::addColumn<QVariant>("identifier");
    QTest::addColumn<QVariant>("name");
    QTest::addColumn<bool>("hasPath");
    QTest::newRow("StartupWMClass")
        << "whatever,AlphaApp" << QVariant("org-example-Alpha") << QVariant("Alpha Editor") << true;
    QTest::newRow("desktop ID = class, any case")
        << "beta,BETA" << QVariant("beta") << QVariant("Beta") << true;
    QTest::newRow("no entry: WM_CLASS class")
        << "gamma,Gamma" << QVariant("Gamma") << QVariant("Gamma") << false;
    // Without WM_CLASS the identifier is absent and the name is the process's comm.
    QTest::newRow("nothing") << "," << QVariant() << QVariant("x11_testclient") << false;
}

void TestX11Workspace::entryMatching() {
    QFETCH(QString, wmClass);
    QFETCH(QVariant, identifier);
    QFETCH(QVariant, name);
    QFETCH(bool, hasPath);
    const QString apps = m_session.path(QStringLiteral("data/applications"));
    auto write = [&](const QString& file, const QByteArray& body) {
        QFile f(apps + QLatin1Char('/') + file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Desktop Entry]\nType=Application\n" + body);
    };
    QDir(apps).mkpath(QStringLiteral("org/example"));
    write("org/example/Alpha.desktop",
          "Name=Alpha Editor\nExec=alpha %F\nStartupWMClass=AlphaApp\n");
    write("beta.desktop", "Name=Beta\nExec=beta\n");
    m_index->refresh();

    const pid_t pid = startClient({"--class", wmClass});
    QTRY_VERIFY(!appFor(pid).isNull());
    const RunningApplication app = appFor(pid);
    QCOMPARE(app.applicationId(),
             identifier.isNull() ? std::optional<QString>() : identifier.toString());
    QCOMPARE(app.displayName(), name.toString());
    QCOMPARE(app.entryPath().has_value(), hasPath);
    if (hasPath)
        QVERIFY(app.entryPath()->startsWith(apps));

    // An ended process keeps naming itself, as the engine logs names of such handles.
    ::kill(pid, SIGKILL);
    QVERIFY(m_session.waitForExit(pid, 3000));
    QTRY_VERIFY(appFor(pid).isNull());
    QCOMPARE(app.displayName(), name.toString());
}

void TestX11Workspace::ownProcessAndOwnWindows() {
    QCOMPARE(m_ws->ownApplicationId(), QString::fromLatin1(kAppIdentifier));
    QVERIFY(!m_ws->ownWindowIsActive());
    QWindow window;
    window.resize(120, 80);
    window.show();
    const pid_t self = ::getpid();
    QTRY_VERIFY(!appFor(self).isNull());
    QCOMPARE(appFor(self).applicationId(), QString::fromLatin1(kAppIdentifier));
    window.requestActivate();
    QTRY_VERIFY(m_ws->ownWindowIsActive());

    const pid_t other = startClient({});
    QTRY_VERIFY(!appFor(other).isNull());
    QVERIFY(m_session.activate(windowsOf(other).value(0)));
    QTRY_VERIFY(!m_ws->ownWindowIsActive());
    // Asked for the way a taskbar asks, without Qt's own request, it comes back in front.
    m_ws->activateOwnWindow(&window);
    QTRY_COMPARE(m_ws->frontmostApplication(), appFor(self));
    QTRY_VERIFY(m_ws->ownWindowIsActive());
    window.hide();
    QTRY_VERIFY(appFor(self).isNull());
}

// The session must exist before QGuiApplication connects to its display.
int main(int argc, char** argv) {
    X11Session session;
    if (!session.start({.windowManager = true, .tray = true})) {
        fprintf(stderr, "cannot start the X11 session: %s\n", qPrintable(session.errorString()));
        return 1;
    }
    session.exportToCurrentProcess();
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    TestX11Workspace test(session);
    return QTest::qExec(&test, argc, argv);
}

#include "test_x11_workspace.moc"
