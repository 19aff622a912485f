// WaylandWorkspace against a real headless sway, foot terminals and a small Qt client.

#include "support/Files.h"
#include "support/HelperWindow.h"
#include "support/ManualClock.h"
#include "support/TempStore.h"
#include "support/WaylandSession.h"

#include "engine/RunningAppsManager.h"
#include "platform/linux/DesktopEntryIndex.h"
#include "platform/wayland/WaylandUserPresence.h"
#include "platform/wayland/WaylandWorkspace.h"
#include "preferences/AppIdentity.h"

#include <QFile>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <sys/wait.h>

class TestWaylandWorkspace : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        bool unavailable = false;
        if (!m_session.start(&unavailable)) {
            if (unavailable)
                QSKIP(qPrintable(QStringLiteral("no headless sway here: ") +
                                 m_session.errorString()));
            QFAIL(qPrintable(m_session.errorString()));
        }
        // Entries of the session's user, read by this process's index, and gedit's own.
        const QString applications = m_session.path("data/applications");
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_session.path(QStringLiteral("data"))));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_session.path(QStringLiteral("sys"))));
        m_gedit = applications + "/org.gnome.gedit.desktop";
        QFile::copy("/usr/share/applications/org.gnome.gedit.desktop", m_gedit);
        for (const auto& [file, body] :
             {std::pair{"org.example.Alpha.desktop", "Name=Alpha Editor\n"},
              {"Gamma.desktop", "Name=Gamma\n"}}) {
            QVERIFY(writeFile(applications + '/' + file,
                              QByteArray("[Desktop Entry]\nType=Application\n") + body));
        }
        m_index = std::make_unique<DesktopEntryIndex>();
        // sway's IPC names the processes behind windows.
        qputenv("SWAYSOCK",
                m_session.environment().value(QStringLiteral("SWAYSOCK")).toLocal8Bit());

        // The session's user may not reach the build tree: it runs a copy of this program.
        m_helper = m_session.path(QStringLiteral("bin")) + QStringLiteral("/helper");
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), m_helper));
        QFile::setPermissions(m_helper, QFile::ExeOther | QFile::ReadOther | QFile::ExeOwner |
                                            QFile::ReadOwner);
    }
    void init() {
        QString error;
        m_ws = WaylandWorkspace::connect(m_session.display(), &error, *m_index);
        QVERIFY2(m_ws, qPrintable(error));
    }
    void cleanup() {
        for (pid_t pid : std::as_const(m_clients)) {
            ::kill(pid, SIGKILL);
            m_session.waitForExit(pid, 3000);
        }
        m_clients.clear();
        m_ws.reset();
    }

    void listsApplicationsNamedByTheirDesktopEntriesAndClosesThem() {
        // The desktop-file ID, an ID in another case, and no entry at all;
        // two terminals sharing an app_id are one application.
        for (const char* appId : {"org.example.Alpha", "gamma", "no-entry", "no-entry"})
            foot(QString::fromLatin1(appId));
        QVERIFY(until([&] {
            return m_session.windowIds("no-entry").size() == 2 &&
                   m_ws->runningApplications().size() == 3;
        }));
        const QStringList expected[] = {
            {"org.example.Alpha", "Alpha Editor", "org.example.Alpha.desktop"},
            {"Gamma", "Gamma", "Gamma.desktop"},
            {"no-entry", "no-entry", ""},
        };
        for (const QStringList& e : expected) {
            const RunningApplication app = appFor(e[0]);
            QCOMPARE(app.displayName(), e[1]);
            QCOMPARE(QFileInfo(app.entryPath().value_or(QString())).fileName(), e[2]);
            QCOMPARE(app.role(), AppRole::Regular);
            QVERIFY(app.hasStarted() && !app.isHidden());
            // No process behind a key: it must never be taken for a local PID.
            QVERIFY(app.key().domain != 0);
        }

        // Asked to close, not killed: every toplevel of the application, each in its own
        // process; a handle kept after its windows went delivers nothing.
        const RunningApplication noEntry = appFor("no-entry");
        QVERIFY(noEntry.acceptsPoliteQuit() && noEntry.requestQuit());
        for (pid_t pid : {m_clients[2], m_clients[3]}) {
            const std::optional<int> status = m_session.waitForExit(pid, 5000);
            QVERIFY2(status && WIFEXITED(*status), "a terminal was not closed");
        }
        QVERIFY(until([&] { return appFor("no-entry").isNull(); }));
        QVERIFY(!noEntry.requestQuit() && m_session.isRunning(m_clients[0]));
    }
    void deactivationFollowsFocusOwnWindowsAreNeverListedAndQuestionsAsk() {
        for (const char* appId : {"focus-a", "focus-b", "focus-b"})
            foot(QString::fromLatin1(appId));
        QVERIFY(until([&] {
            return m_session.windowIds("focus-b").size() == 2 &&
                   m_ws->runningApplications().size() == 2;
        }));
        const RunningApplication a = appFor("focus-a");
        const RunningApplication b = appFor("focus-b");

        focus("focus-a");
        QVERIFY(until([&] { return m_ws->frontmostApplication() == a; }));
        // b's own deactivation is still on its way.
        QCoreApplication::sendPostedEvents();
        QSignalSpy spy(m_ws.get(), &Workspace::didDeactivateApplication);
        focus("focus-b");
        QVERIFY(until([&] { return spy.size() == 1; }));
        QCOMPARE(spy.at(0).at(0).value<RunningApplication>(), a);
        QCOMPARE(m_ws->frontmostApplication(), b);

        // From one of b's windows to its other one and back: b stays in front.
        for (qint64 id : m_session.windowIds("focus-b"))
            QCOMPARE(m_session.swaymsg({QStringLiteral("[con_id=%1] focus").arg(id)}), 0);
        QTest::qWait(200);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(m_ws->frontmostApplication(), b);

        // A Qt window with our desktop-file name, as Idlewatch's own popover has, in front: the
        // other application left the foreground, and nothing is in front; ours is never listed.
        const QString own = QString::fromLatin1(kAppIdentifier);
        helperWindow(own);
        QVERIFY(until([&] { return !m_session.windowIds(own).isEmpty(); }));
        focus(own);
        QVERIFY(until([&] { return spy.size() == 2; }));
        QCOMPARE(spy.at(1).at(0).value<RunningApplication>(), b);
        QVERIFY(m_ws->frontmostApplication().isNull());
        QCOMPARE(m_ws->runningApplications().size(), 2);

        // A question shown after the close request: the editor is asking its user.
        const QString id = QStringLiteral("org.example.Editor");
        helperWindow(id, QStringLiteral("--ask-on-close"));
        QVERIFY(until([&] { return !appFor(id).isNull(); }));
        const RunningApplication editor = appFor(id);
        QVERIFY(editor.requestQuit());
        QVERIFY(until([&] { return editor.isAskingUser(); }));

        // The user answers the question (closes it): the editor stays and is no longer asking.
        const qint64 question = m_session.windowIds(id).last();
        QCOMPARE(m_session.swaymsg({QStringLiteral("[con_id=%1] kill").arg(question)}), 0);
        QVERIFY(until([&] { return !editor.isAskingUser(); }));
        QCOMPARE(appFor(id), editor);
    }
    // sway's tree names a window's process only when no other window looks alike; nothing is
    // ever forced on Wayland.
    void processesFromSwaysTree() {
        const pid_t named = foot("named", true);
        // Two processes whose windows look alike, new to the same tree read (nothing is read
        // from the compositor meanwhile): neither can be named, whatever sway's order.
        foot("twin", true);
        foot("twin", true);
        QVERIFY(m_session.waitFor([&] { return m_session.windowIds("twin").size() == 2; }, 10000,
                                  false));
        QVERIFY(until([&] { return m_ws->runningApplications().size() == 2; }));
        QCOMPARE(appFor("named").processIds(), QList<qint64>{named});
        QVERIFY(appFor("twin").processIds().isEmpty());
        QVERIFY(!m_ws->canForceQuit() && !appFor("named").canForceQuit());
    }
    // Past the timeout: an application with a dialog the user opened (sway floats it and
    // names no parent) is sent nothing, and gedit excluded as the chooser stores it (by its
    // desktop entry, while its app id is "gedit") is never quit.
    void choicesAndOpenDialogsHold() {
        TempStore store;
        Preference<qint64>(*store, Keys::minutesUntilClose).set(1);
        foot("front", true);
        // An idle shell: a terminal running a job would be spared.
        const pid_t background =
            start({"foot", "--app-id", "background", "--title", "background", "sh"});
        const QString id = QStringLiteral("org.example.Editor");
        const pid_t editor = helperWindow(id, QStringLiteral("--with-dialog"));
        const pid_t gedit = start({"gedit", "-s"});
        QVERIFY(until([&] { return m_ws->runningApplications().size() == 4; }));
        QVERIFY(until([&] { return m_session.windowIds(id).size() == 2; }));
        QVERIFY(until([&] { return appFor(id).hasModalWindow(); }));
        focus("front");
        ManualClock clock;
        RunningAppsManager engine(*m_ws, *store, clock);
        QVERIFY(engine.addExcludedApp(m_gedit));
        QCOMPARE(engine.excludedApps().value(0).bundleIdentifier, "org.gnome.gedit");
        for (int i = 0; i < 2; ++i) {
            QTest::qWait(30);
            clock.advance(61);
            engine.checkOpenApps();
            QCoreApplication::sendPostedEvents();
        }
        QVERIFY(m_session.waitForExit(background, 5000));
        QTest::qWait(200);
        QVERIFY(m_session.isRunning(editor) && m_session.isRunning(gedit));
        QCOMPARE(m_session.windowIds(id).size(), 2);
    }

    // sway 1.7's idle notification (org_kde_kwin_idle): present at first, away once the seat
    // has had no input for the timeout, present again at the next input.
    void idleNotificationFollowsInput() {
        const auto presence = WaylandUserPresence::connect(m_session.display(), 1);
        QVERIFY(presence);
        QCOMPARE(presence->state(), UserPresence::State::Present);
        QVERIFY(until([&] { return presence->state() == UserPresence::State::Away; }));
        QCOMPARE(m_session.swaymsg({"seat", "-", "cursor", "move", "1", "1"}), 0);
        QVERIFY(until([&] { return presence->state() == UserPresence::State::Present; }));
    }

private:
    // Every client is told to speak Wayland: foot does anyway, Qt needs telling.
    pid_t start(const QStringList& argv) {
        QProcessEnvironment env;
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        m_clients.append(m_session.spawn(argv, env));
        return m_clients.last();
    }
    // A foot; `titled` gives it a fixed title and no shell, so nothing changes its title.
    pid_t foot(const QString& appId, bool titled = false) {
        return start(QStringList{"foot", "--app-id", appId} +
                     (titled ? QStringList{"--title", appId, "sleep", "600"} : QStringList()));
    }
    pid_t helperWindow(const QString& appId, const QString& option = {}) {
        return start({m_helper, "--helper-window", appId, option});
    }
    RunningApplication appFor(const QString& identifier) const {
        for (const RunningApplication& app : m_ws->runningApplications())
            if (app.applicationId() == identifier)
                return app;
        return {};
    }
    bool until(const std::function<bool()>& ready) { return m_session.waitFor(ready, 10000); }
    void focus(const QString& appId) {
        // sway may list a toplevel a moment before its criteria match it.
        QVERIFY(until([&] {
            return m_session.swaymsg({QStringLiteral("[app_id=\"^%1$\"] focus").arg(appId)}) == 0;
        }));
    }

    WaylandSession m_session;
    QString m_helper;
    QString m_gedit;
    std::unique_ptr<DesktopEntryIndex> m_index;
    std::unique_ptr<WaylandWorkspace> m_ws;
    QList<pid_t> m_clients;
};

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (const std::optional<int> helper = HelperWindow::run(argc, argv))
        return *helper;
    TestWaylandWorkspace test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_wayland_workspace.moc"
