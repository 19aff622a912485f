// KdeWorkspace against a real headless KWin and small Qt clients.

#include "support/Files.h"
#include "support/HelperWindow.h"
#include "support/KWinSession.h"
#include "support/ManualClock.h"
#include "support/TempStore.h"

#include "engine/RunningAppsManager.h"
#include "platform/kde/KdeWorkspace.h"
#include "platform/linux/DesktopEntryIndex.h"
#include "platform/wayland/WaylandUserPresence.h"

#include <QSignalSpy>
#include <QTest>

#include <csignal>

class TestKdeWorkspace : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        bool unavailable = false;
        if (!m_session.start(false, &unavailable)) {
            if (unavailable)
                QSKIP(qPrintable("no headless KWin here: " + m_session.errorString()));
            QFAIL(qPrintable(m_session.errorString()));
        }
        const QString applications = m_session.path("data/applications");
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_session.path("data")));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_session.path("sys")));
        m_alpha = applications + "/org.example.Alpha.desktop";
        QVERIFY(writeFile(m_alpha, "[Desktop Entry]\nType=Application\nName=Alpha Editor\n"));
        m_index = std::make_unique<DesktopEntryIndex>();
        QString error;
        m_ws = KdeWorkspace::connect(m_session.display(), &error, *m_index);
        QVERIFY2(m_ws, qPrintable(error));
    }
    void cleanup() {
        for (pid_t pid : std::as_const(m_clients))
            if (::kill(pid, SIGKILL) == 0)
                m_session.waitForExit(pid, 3000);
        m_clients.clear();
        QVERIFY(until([&] { return m_ws->runningApplications().isEmpty(); }));
    }

    // Named by entry and proven process; the newest window in front, the one it replaced
    // told left; a close request closes.
    void listsFollowsFocusAndCloses() {
        const pid_t alpha = helper("org.example.Alpha");
        const RunningApplication a = appFor("org.example.Alpha");
        QCOMPARE(a.displayName(), "Alpha Editor");
        QCOMPARE(a.entryPath(), m_alpha);
        QCOMPARE(a.processIds(), QList<qint64>{alpha});
        QCoreApplication::sendPostedEvents();

        QSignalSpy left(m_ws.get(), &Workspace::didDeactivateApplication);
        const pid_t beta = helper("beta");
        QVERIFY(until([&] { return left.size() == 1; }));
        QCOMPARE(left.at(0).at(0).value<RunningApplication>(), a);
        QCOMPARE(m_ws->frontmostApplication(), appFor("beta"));
        QVERIFY(!m_ws->canForceQuit() && !a.canForceQuit());

        QVERIFY(appFor("beta").requestQuit());
        QVERIFY(m_session.waitForExit(beta, 5000));
        QVERIFY(until([&] { return appFor("beta").isNull(); }));
        QVERIFY(m_session.isRunning(alpha));
    }
    // Past the timeout: the excluded application and the one in front are left alone; the
    // editor asks "save?" in a window KWin names its child, which no request ever reaches.
    void sweepAsksAndKeepsExclusions() {
        TempStore store;
        Preference<qint64>(*store, Keys::minutesUntilClose).set(1);
        // Each in front once it shows: KWin gives focus to a new window.
        const pid_t editor = helper("org.example.Editor", "--ask-in-child");
        const pid_t alpha = helper("org.example.Alpha");
        const pid_t front = helper("front");
        ManualClock clock;
        RunningAppsManager engine(*m_ws, *store, clock);
        QVERIFY(engine.addExcludedApp(m_alpha));
        const RunningApplication asking = appFor("org.example.Editor");
        for (int i = 0; i < 2; ++i) {
            clock.advance(61);
            engine.checkOpenApps();
            QCoreApplication::sendPostedEvents();
        }
        QVERIFY(until([&] { return asking.isAskingUser(); }));
        // Asked again: a request reaching the question would answer (close) it.
        QVERIFY(asking.requestQuit());
        QTest::qWait(300);
        QVERIFY(asking.isAskingUser());
        for (pid_t pid : {alpha, editor, front})
            QVERIFY(m_session.isRunning(pid));
    }
    // KWin's idle notification: away once the seat has had no input for the timeout.
    void idleNotification() {
        const auto presence = WaylandUserPresence::connect(m_session.display(), 1);
        QVERIFY(presence);
        QVERIFY(until([&] { return presence->state() == UserPresence::State::Away; }));
    }
    // Without an entry naming this executable, KWin withholds its window list and the message
    // gives the entry's lines; with one, it offers it.
    void permissionFollowsTheDesktopEntry() {
        KWinSession checked;
        QVERIFY2(checked.start(true), qPrintable(checked.errorString()));
        QString withheld;
        QVERIFY(!KdeWorkspace::available(checked.display(), &withheld));
        const QString exe = QCoreApplication::applicationFilePath();
        QVERIFY2(withheld.contains("Exec=\"" + exe + '"'), qPrintable(withheld));
        QVERIFY(writeFile(checked.path("data/applications") + "/idlewatch-test.desktop",
                          "[Desktop Entry]\nType=Application\nName=Test\nExec=\"" +
                              QFile::encodeName(exe) +
                              "\"\nX-KDE-Wayland-Interfaces=org_kde_plasma_window_management\n"));
        QVERIFY(checked.waitFor([&] { return KdeWorkspace::available(checked.display()); }, 10000));
    }

private:
    // A Qt client, once its window is in front.
    pid_t helper(const QString& appId, const QString& option = "-") {
        QProcessEnvironment env;
        env.insert("QT_QPA_PLATFORM", "wayland");
        m_clients.append(m_session.spawn(
            {QCoreApplication::applicationFilePath(), "--helper-window", appId, option}, env));
        [&] {
            QVERIFY(until([&] {
                const RunningApplication app = appFor(appId);
                return !app.isNull() && m_ws->frontmostApplication() == app;
            }));
        }();
        return m_clients.last();
    }
    RunningApplication appFor(const QString& identifier) const {
        for (const RunningApplication& app : m_ws->runningApplications())
            if (app.applicationId() == identifier)
                return app;
        return {};
    }
    bool until(const std::function<bool()>& ready) { return m_session.waitFor(ready, 10000); }

    KWinSession m_session;
    QString m_alpha;
    std::unique_ptr<DesktopEntryIndex> m_index;
    std::unique_ptr<KdeWorkspace> m_ws;
    QList<pid_t> m_clients;
};

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (const std::optional<int> helper = HelperWindow::run(argc, argv))
        return *helper;
    TestKdeWorkspace test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_kde_workspace.moc"
