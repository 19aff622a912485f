// X11Workspace against a real X server, window manager and clients.

#include "support/Files.h"
#include "support/ManualClock.h"
#include "support/TempStore.h"
#include "support/X11Session.h"

#include "engine/RunningAppsManager.h"
#include "platform/linux/DesktopEntryIndex.h"
#include "platform/x11/X11UserPresence.h"
#include "platform/x11/X11Workspace.h"

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
    void init() {
        // Each test reads the entries it wrote into the session's XDG_DATA_HOME.
        m_index.emplace();
        QString error;
        m_ws = X11Workspace::connect(m_session.display(), &error, *m_index);
        QVERIFY2(m_ws, qPrintable(error));
    }
    void cleanup() {
        m_engine.reset();
        for (pid_t pid : std::as_const(m_clients)) {
            ::kill(pid, SIGKILL);
            m_session.waitForExit(pid, 3000);
        }
        m_clients.clear();
        m_ws.reset();
        QDir(m_session.path(QStringLiteral("reports"))).removeRecursively();
    }

    void frontmostDeactivationHiddenAndOwnWindows() {
        // Ours is never listed, whatever its WM_CLASS.
        QWindow own;
        own.show();
        own.requestActivate();
        QTRY_VERIFY(m_ws->ownWindowIsActive());
        const pid_t a = startClient({"--class", "a,A"});
        const pid_t b = startClient({"--class", "b,B", "--windows", "2"});
        QTRY_VERIFY(managed(a, 1) && managed(b, 2));
        QTRY_COMPARE(m_ws->runningApplications().size(), 2);
        const QByteArray windowA = m_session.windowsOf(a).first();
        const QList<QByteArray> windowsB = m_session.windowsOf(b);

        QVERIFY(m_session.activate(windowA));
        QTRY_COMPARE(m_ws->frontmostApplication(), appFor(a));
        QTRY_VERIFY(!m_ws->ownWindowIsActive());
        QSignalSpy spy(m_ws.get(), &Workspace::didDeactivateApplication);
        // The one that left first, then the one that came.
        QList<RunningApplication> moves;
        QObject guard;
        for (auto signal :
             {&Workspace::didDeactivateApplication, &Workspace::didActivateApplication})
            connect(m_ws.get(), signal, &guard,
                    [&](const RunningApplication& app) { moves << app; });
        QVERIFY(m_session.activate(windowsB[0]));
        QTRY_COMPARE(m_ws->frontmostApplication(), appFor(b));
        QTRY_COMPARE(spy.size(), 1);
        QCOMPARE(moves, (QList{appFor(a), appFor(b)}));

        // Another window of the same application, and the window manager passing through no
        // window at all, are not a change of application.
        QVERIFY(m_session.activate(windowsB[1]));
        QTest::qWait(200);
        QCOMPARE(spy.size(), 1);
        QVERIFY(m_session.activate(windowA));
        QTRY_COMPARE(spy.size(), 2);
        QCOMPARE(spy.at(1).at(0).value<RunningApplication>(), appFor(b));

        // Minimised: seen through PropertyNotify alone; unmapped, yet launched long ago.
        QCOMPARE(m_session.run({"xdotool", "windowminimize", "--sync", windowA}), 0);
        QTRY_VERIFY(appFor(a).isHidden());
        QVERIFY(appFor(a).hasStarted());
    }
    void politeAndForcedQuit() {
        const pid_t xterm = startClient({}, "xterm");
        const pid_t three = startClient({"--windows", "3"});
        // A window manager answers a close request to a window without WM_DELETE_WINDOW by
        // killing the client, so not even the windows that would accept one are asked.
        const pid_t partial = startClient({"--windows", "2", "--no-delete-last"});
        // One client claims another process's PID (as sandboxed clients do with their own
        // namespace's numbers) and ignores the close request.
        const pid_t bystander = startClient({"30"}, "sleep");
        const pid_t pid = startClient({"--ignore-close", "--pid", QString::number(bystander)});
        const pid_t stray = startClient({"--no-delete"});
        QTRY_VERIFY_WITH_TIMEOUT(managed(xterm, 1) && managed(three, 3) && managed(partial, 2) &&
                                     !appFor(xterm).isNull() && !appFor(partial).isNull() &&
                                     !appFor(pid).isNull() && !appFor(stray).isNull(),
                                 10000);
        const quint64 before = m_ws->requestCount();
        QVERIFY(!appFor(partial).requestQuit());
        QCOMPARE(m_ws->requestCount(), before);
        QVERIFY(appFor(xterm).requestQuit() && appFor(three).requestQuit() &&
                appFor(pid).requestQuit());
        QVERIFY2(m_session.waitForExit(xterm, 5000) && m_session.waitForExit(three, 5000),
                 "the application did not quit");

        // Force reaches only a client that cannot be asked: the server closes its connection
        // and it ends by itself, unsignalled. A client with a window that can be asked is
        // never forced, whatever the others do.
        QVERIFY(!appFor(pid).forceQuit() && !appFor(partial).forceQuit());
        QVERIFY(appFor(stray).canForceQuit() && appFor(stray).forceQuit());
        const std::optional<int> status = m_session.waitForExit(stray, 5000);
        QVERIFY(status && WIFEXITED(*status));
        QTest::qWait(200);
        for (pid_t alive : {partial, pid, bystander})
            QVERIFY(m_session.isRunning(alive));
    }
    // A stray window's client forks and its parent (the PID the server knows) exits; a client
    // that can be asked takes that PID, all before Idlewatch first sees them. Grouped by the
    // PID as one application, only the stray client is ever forced.
    void strayWindowNeverTakesAnAskableClientWithIt() {
        m_ws.reset();
        const pid_t parent = startClient({"--fork", "--no-delete"});
        QVERIFY(m_session.waitForExit(parent, 5000));
        pid_t askable = -1;
        for (int attempt = 0; attempt < 50 && askable != parent; ++attempt) {
            if (!writeFile("/proc/sys/kernel/ns_last_pid", QByteArray::number(parent - 1)))
                break;
            if ((askable = startClient({"--class", "editor,Editor"})) != parent)
                ::kill(askable, SIGKILL);
        }
        if (askable != parent)
            QSKIP("cannot make the kernel reuse a chosen PID here (needs root)");
        // Both windows claim that PID too.
        QTRY_VERIFY(managed(askable, 2));
        QString error;
        QVERIFY2(m_ws = X11Workspace::connect(m_session.display(), &error, *m_index),
                 qPrintable(error));
        QTRY_COMPARE(m_ws->runningApplications().size(), 1);
        const RunningApplication app = appFor(parent);
        QVERIFY(!app.acceptsPoliteQuit() && app.forceQuit());
        QTRY_VERIFY(managed(askable, 1));
        QTest::qWait(500);
        QVERIFY(m_session.isRunning(askable) && managed(askable, 1));
        QCOMPARE(m_ws->runningApplications().size(), 1);
        QVERIFY(appFor(parent).acceptsPoliteQuit());
    }
    // Under the engine on a manual clock, with a one-minute timeout. An editor drawing its
    // "leave page?" inside its window, as browsers do, is asked once, while nobody touches
    // keyboard or pointer, and never again until the user has been back to it. One asking in
    // a dialog is never sent a request to it. A terminal running a job is not asked at all.
    void askedOnceWhileAwaySparingJobs() {
        using State = RunningAppsManager::AppState;
        m_store = std::make_unique<TempStore>();
        Preference<qint64>(**m_store, Keys::minutesUntilClose).set(1);
        const QString jobFile = m_session.path(QStringLiteral("reports")) + "/job";
        const pid_t front = startClient({"--class", "front,Front"});
        const pid_t editor = startClient({"--class", "editor,Editor", "--prompt-inside",
                                          "--dialog-takes-focus", "--report", report()});
        const pid_t saving = startClient(
            {"--class", "saving,Saving", "--ask-on-close", "--report", report("saving")});
        const pid_t idle = startClient({}, "xterm");
        const pid_t busy = startClient(
            {"-e", "sh", "-c", "sleep 300 & echo $! >" + jobFile + "; exec sh -i"}, "xterm");
        QTRY_VERIFY_WITH_TIMEOUT(!appFor(front).isNull() && !appFor(editor).isNull() &&
                                     !appFor(idle).isNull() && !appFor(busy).isNull() &&
                                     !appFor(saving).isNull() && !readFile(jobFile).isEmpty(),
                                 10000);
        const pid_t job = readFile(jobFile).trimmed().toInt();
        const auto userActivates = [&](pid_t pid) {
            QCOMPARE(m_session.run({"xdotool", "mousemove_relative", "1", "1"}), 0);
            QVERIFY(m_session.activate(m_session.windowsOf(pid).value(0)));
            QTRY_COMPARE(m_ws->frontmostApplication(), appFor(pid));
            QCoreApplication::sendPostedEvents(); // the engine hears of it while input is fresh
        };
        userActivates(front);
        const auto presence = X11UserPresence::connect(m_session.display(), 2);
        QVERIFY(presence);
        m_engine = std::make_unique<RunningAppsManager>(*m_ws, **m_store, m_clock, presence.get());
        QCoreApplication::sendPostedEvents();
        const RunningApplication app = appFor(editor);
        sweepAfter(61);
        QCOMPARE(m_engine->appState(app), State::HeldUntilAway);
        QCOMPARE(m_engine->appState(appFor(busy)), State::Busy);
        QTRY_COMPARE(presence->state(), UserPresence::State::Away);
        sweepAfter(1);
        QVERIFY(m_session.waitForExit(idle, 5000));
        QTRY_COMPARE(events(), QByteArray("asked"));
        // A "save?" dialog is transient and modal, with WM_DELETE_WINDOW of its own.
        QTRY_VERIFY(appFor(saving).isAskingUser() && appFor(saving).hasModalWindow());
        // Its question took the focus; the user comes back and goes on with other work.
        QTRY_COMPARE(m_ws->frontmostApplication(), app);
        userActivates(front);
        QTRY_COMPARE(presence->state(), UserPresence::State::Away);
        for (int i = 0; i < 24; ++i)
            sweepAfter(3600);
        QVERIFY(m_session.isRunning(busy) && ::kill(job, 0) == 0);
        QVERIFY(events() == "asked" && events("saving") == "asked");
        QCOMPARE(m_engine->appState(app), State::WaitingForYou);
        // Asked again (the engine never does this), the request still goes to the main window
        // only: the dialog is never cancelled by us.
        QVERIFY(appFor(saving).requestQuit() && m_session.waitForExit(saving, 5000));
        QCOMPARE(events("saving"), QByteArray("asked discarded"));

        // The user goes back to it, answers and leaves it: a fresh countdown, once away.
        userActivates(front);
        userActivates(editor);
        ::kill(editor, SIGUSR1);
        userActivates(front);
        QTRY_COMPARE(events(), QByteArray("asked answered"));
        QVERIFY(m_session.startScreenSaver()); // away at once: the screen is locked
        sweepAfter(61);
        QTRY_COMPARE(events(), QByteArray("asked answered asked"));
        ::kill(job, SIGKILL);
    }

    // The user's choices hold whatever an application does later: its switch survives a
    // change of its class, and gedit excluded as the chooser stores it (by its desktop
    // entry) is never quit. Two copies of one application are told apart by their titles.
    void choicesHoldAndCopiesAreToldApart() {
        m_store = std::make_unique<TempStore>();
        Preference<qint64>(**m_store, Keys::minutesUntilClose).set(1);
        const pid_t front = startClient({"--class", "front,Front"});
        const pid_t kept = startClient({"--class", "kept,Kept", "--reclass", "other,Other"});
        const pid_t copy1 = startClient({"--class", "copy,Copy", "--title", "notes.txt"});
        const pid_t copy2 = startClient({"--class", "copy,Copy", "--title", "todo.txt"});
        const pid_t gedit = startClient({"-s"}, "gedit");
        QTRY_VERIFY_WITH_TIMEOUT(!appFor(front).isNull() && !appFor(kept).isNull() &&
                                     !appFor(copy1).isNull() && !appFor(copy2).isNull() &&
                                     !appFor(gedit).isNull(),
                                 10000);
        QCOMPARE(appFor(copy1).displayName(), appFor(copy2).displayName());
        QCOMPARE((QStringList{appFor(copy1).windowTitle(), appFor(copy2).windowTitle()}),
                 (QStringList{"notes.txt", "todo.txt"}));
        QVERIFY(m_session.activate(m_session.windowsOf(front).value(0)));
        QTRY_COMPARE(m_ws->frontmostApplication(), appFor(front));
        m_engine = std::make_unique<RunningAppsManager>(*m_ws, **m_store, m_clock);
        QVERIFY(m_engine->addExcludedApp("/usr/share/applications/org.gnome.gedit.desktop"));
        m_engine->setToggle("Kept", false);
        ::kill(kept, SIGUSR2);
        QTRY_VERIFY(wmClass(kept).contains("Other"));
        for (int i = 0; i < 2; ++i)
            sweepAfter(61);
        QVERIFY(m_session.waitForExit(copy1, 5000) && m_session.waitForExit(copy2, 5000));
        QVERIFY(m_session.isRunning(kept) && m_session.isRunning(gedit));
        QCOMPARE(appFor(kept).displayName(), QStringLiteral("Kept"));
    }

private:
    pid_t startClient(const QStringList& args, const QString& program = {}) {
        const QString exe = program.isEmpty() ? QStringLiteral(TESTCLIENT_PATH) : program;
        const pid_t pid = m_session.spawn(QStringList{exe} + args);
        if (pid > 0)
            m_clients.append(pid);
        return pid;
    }
    // The local process `pid`, or on `other` a client that only claims it.
    RunningApplication appFor(qint64 pid, X11Workspace* other = nullptr) const {
        for (const RunningApplication& app : (other ? other : m_ws.get())->runningApplications())
            if (app.key().pid == pid && (other || app.key().domain == 0))
                return app;
        return {};
    }
    // True once the window manager lists all `windows` windows of the client.
    bool managed(pid_t pid, int windows) {
        const QList<QByteArray> own = m_session.windowsOf(pid);
        QByteArray list;
        m_session.run({"xprop", "-root", "-notype", "_NET_CLIENT_LIST"}, &list);
        return own.size() == windows && std::all_of(own.begin(), own.end(), [&](const auto& id) {
                   return list.contains("0x" + QByteArray::number(id.toULongLong(), 16));
               });
    }
    QByteArray wmClass(pid_t pid) {
        QByteArray out;
        m_session.run({"xprop", "-id", m_session.windowsOf(pid).value(0), "WM_CLASS"}, &out);
        return out;
    }
    QString report(const char* name = "editor") const {
        return m_session.path(QStringLiteral("reports")) + '/' + name;
    }
    QByteArray events(const char* name = "editor") const {
        return readFile(report(name)).trimmed().replace('\n', ' ');
    }
    // Moves the manual clock on, lets the X events arrive, and runs one sweep.
    void sweepAfter(double seconds) {
        QTest::qWait(30);
        m_clock.advance(seconds);
        m_engine->checkOpenApps();
        QCoreApplication::sendPostedEvents();
    }

    X11Session& m_session;
    std::optional<DesktopEntryIndex> m_index;
    std::unique_ptr<X11Workspace> m_ws;
    QList<pid_t> m_clients;
    std::unique_ptr<TempStore> m_store;
    ManualClock m_clock;
    std::unique_ptr<RunningAppsManager> m_engine;
};

// The session must exist before QGuiApplication connects to its display.
int main(int argc, char** argv) {
    X11Session session;
    if (!session.start())
        return fprintf(stderr, "no X11 session: %s\n", qPrintable(session.errorString())), 1;
    session.exportToCurrentProcess();
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    TestX11Workspace test(session);
    return QTest::qExec(&test, argc, argv);
}

#include "test_x11_workspace.moc"
