// The engine on a real X server with an editor that asks before closing: it is asked once
// per countdown, its question is never answered for its user, and the application the user
// had in front keeps its protection when the question takes the focus. The clock is manual,
// so many timeouts pass in a few seconds.

#include "support/ManualClock.h"
#include "support/TempStore.h"
#include "support/X11Session.h"

#include "engine/RunningAppsManager.h"
#include "platform/linux/DesktopEntryIndex.h"
#include "platform/x11/X11Workspace.h"
#include "popover/AppRow.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTest>

#include <csignal>

class TestX11PoliteQuit : public QObject {
    Q_OBJECT
public:
    explicit TestX11PoliteQuit(X11Session& session)
        : m_session(session) {}

private slots:
    void init();
    void cleanup();
    void editorAskingToSaveIsNeverAnsweredForItsUser_data();
    void editorAskingToSaveIsNeverAnsweredForItsUser();
    void questionTakingTheFocusKeepsTheFrontApplication();

private:
    pid_t start(const QStringList& args);
    RunningApplication appFor(pid_t pid) const;
    QByteArray events(const QString& name) const;
    QString report(const QString& name) const { return m_session.path("reports") + '/' + name; }
    // Moves the manual clock on, lets the X events arrive, and runs one sweep.
    void sweepAfter(double seconds);

    X11Session& m_session;
    DesktopEntryIndex m_index;
    std::unique_ptr<X11Workspace> m_ws;
    std::unique_ptr<TempStore> m_store;
    ManualClock m_clock;
    std::unique_ptr<RunningAppsManager> m_engine;
    QList<pid_t> m_clients;
};

void TestX11PoliteQuit::init() {
    QString error;
    m_ws = X11Workspace::connect(m_session.display(), &error, m_index);
    QVERIFY2(m_ws, qPrintable(error));
    m_store = std::make_unique<TempStore>();
    Preference<qint64>(**m_store, Keys::minutesUntilClose).set(1);
}

void TestX11PoliteQuit::cleanup() {
    m_engine.reset();
    for (pid_t pid : std::as_const(m_clients)) {
        ::kill(pid, SIGKILL);
        m_session.waitForExit(pid, 3000);
    }
    m_clients.clear();
    m_ws.reset();
    m_store.reset();
    QDir(m_session.path("reports")).removeRecursively();
}

pid_t TestX11PoliteQuit::start(const QStringList& args) {
    const pid_t pid = m_session.spawn(QStringList{QStringLiteral(TESTCLIENT_PATH)} + args);
    m_clients.append(pid);
    return pid;
}

RunningApplication TestX11PoliteQuit::appFor(pid_t pid) const {
    for (const RunningApplication& app : m_ws->runningApplications())
        if (app.key().pid == pid)
            return app;
    return {};
}

QByteArray TestX11PoliteQuit::events(const QString& name) const {
    QFile f(report(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().replace('\n', ' ') : QByteArray();
}

void TestX11PoliteQuit::sweepAfter(double seconds) {
    QTest::qWait(30);
    m_clock.advance(seconds);
    m_engine->checkOpenApps();
    QCoreApplication::sendPostedEvents();
}

void TestX11PoliteQuit::editorAskingToSaveIsNeverAnsweredForItsUser_data() {
    QTest::addColumn<bool>("forceQuit");
    QTest::newRow("force quit off") << false;
    QTest::newRow("force quit on") << true;
}

void TestX11PoliteQuit::editorAskingToSaveIsNeverAnsweredForItsUser() {
    QFETCH(bool, forceQuit);
    Preference<bool>(**m_store, Keys::forceQuitIfTerminateFails).set(forceQuit);
    const pid_t front = start({"--class", "front,Front"});
    const pid_t editor =
        start({"--class", "editor,Editor", "--ask-on-close", "--report", report("editor")});
    QTRY_VERIFY(!appFor(front).isNull() && !appFor(editor).isNull());
    QVERIFY(m_session.activate(m_session.windowsOf(front).value(0)));
    QTRY_COMPARE(m_ws->frontmostApplication(), appFor(front));
    m_engine = std::make_unique<RunningAppsManager>(*m_ws, **m_store, m_clock);
    QCoreApplication::sendPostedEvents();
    const RunningApplication app = appFor(editor);

    sweepAfter(61);
    QTRY_COMPARE(events("editor"), QByteArray("asked"));
    QTRY_VERIFY(app.isAskingUser());

    // A day of timeouts with the question open: nothing more is sent, the row says why.
    AppRow row(app, *m_engine);
    for (int i = 0; i < 24; ++i) {
        sweepAfter(3600);
        QVERIFY(m_engine->runningApps().contains(app));
        QVERIFY(m_engine->isWaitingForUser(app));
    }
    row.refresh();
    QCOMPARE(row.countdownLabel()->text(), QStringLiteral("waiting for you"));
    QVERIFY(m_session.isRunning(editor));
    QCOMPARE(events("editor"), QByteArray("asked"));

    // The user answers "cancel": a fresh countdown from then, and a request only after it.
    ::kill(editor, SIGUSR1);
    QTRY_COMPARE(events("editor"), QByteArray("asked answered"));
    QTRY_VERIFY(!app.isAskingUser());
    sweepAfter(1);
    QCOMPARE(m_engine->runningApps().value(app), m_clock.now());
    QVERIFY(!m_engine->isWaitingForUser(app));
    sweepAfter(59);
    QTest::qWait(200);
    QCOMPARE(events("editor"), QByteArray("asked answered"));
    sweepAfter(2);
    QTRY_COMPARE(events("editor"), QByteArray("asked answered asked"));
    QVERIFY(m_session.isRunning(front));
}

void TestX11PoliteQuit::questionTakingTheFocusKeepsTheFrontApplication() {
    const pid_t front = start({"--class", "front,Front"});
    const pid_t editor = start({"--class", "editor,Editor", "--ask-on-close",
                                "--dialog-takes-focus", "--report", report("editor")});
    QTRY_VERIFY(!appFor(front).isNull() && !appFor(editor).isNull());
    QVERIFY(m_session.activate(m_session.windowsOf(front).value(0)));
    QTRY_COMPARE(m_ws->frontmostApplication(), appFor(front));
    m_engine = std::make_unique<RunningAppsManager>(*m_ws, **m_store, m_clock);
    QCoreApplication::sendPostedEvents();

    sweepAfter(61);
    QTRY_COMPARE(events("editor"), QByteArray("asked"));
    // The question took the focus; the front application did not choose to leave.
    QTRY_COMPARE(m_ws->frontmostApplication(), appFor(editor));
    QTest::qWait(50);
    QCoreApplication::sendPostedEvents();
    for (int i = 0; i < 5; ++i) {
        sweepAfter(61);
        QVERIFY(m_session.isRunning(front));
    }
    QCOMPARE(events("editor"), QByteArray("asked"));
    QCOMPARE(m_engine->runningApps().value(appFor(front)), m_clock.now());
}

// The session must exist before the application connects to its display.
int main(int argc, char** argv) {
    X11Session session;
    if (!session.start()) {
        fprintf(stderr, "cannot start the X11 session: %s\n", qPrintable(session.errorString()));
        return 1;
    }
    session.exportToCurrentProcess();
    QApplication app(argc, argv);
    TestX11PoliteQuit test(session);
    return QTest::qExec(&test, argc, argv);
}

#include "test_x11_polite_quit.moc"
