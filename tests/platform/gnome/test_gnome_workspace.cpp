// GnomeWorkspace and Idlewatch's Shell extension in a private headless GNOME Shell, with
// gedit and a small Qt client (this program).

#include "support/Files.h"
#include "support/GnomeShellSession.h"
#include "support/ManualClock.h"
#include "support/TempStore.h"

#include "engine/RunningAppsManager.h"
#include "platform/gnome/GnomeToplevels.h"
#include "platform/gnome/GnomeWorkspace.h"
#include "platform/linux/DesktopEntryIndex.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QRasterWindow>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

namespace {

// A Qt client's window. With a question, the first close request shows it, modal to the
// window ("save changes?"); a second request ends the client, so that asking twice shows.
class HelperWindow : public QRasterWindow {
public:
    std::unique_ptr<QRasterWindow> question;
    void closeEvent(QCloseEvent* event) override {
        if (question && !question->isVisible()) {
            event->ignore();
            question->show();
        }
    }
};

} // namespace

class TestGnomeWorkspace : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        bool unavailable = false;
        const QString self = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
        if (!m_session.start(IDLEWATCH_GNOME_EXTENSION_BUILD, self, &unavailable)) {
            if (unavailable)
                QSKIP(qPrintable("no headless gnome-shell here: " + m_session.errorString()));
            QFAIL(qPrintable(m_session.errorString()));
        }
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_session.path("data")));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_session.path("sys")));
        for (const char* x11 : {"DISPLAY", "XAUTHORITY"})
            qputenv(x11, m_session.environment().value(x11).toLocal8Bit());
        m_gedit = m_session.path("data/applications") + "/org.gnome.gedit.desktop";
        QFile::copy("/usr/share/applications/org.gnome.gedit.desktop", m_gedit);
        QVERIFY(writeFile(m_session.path("data/applications") + "/org.example.Alpha.desktop",
                          "[Desktop Entry]\nType=Application\nName=Alpha Editor\n"));
        m_index = std::make_unique<DesktopEntryIndex>();
        QString error;
        m_ws = GnomeWorkspace::connect(m_session.bus(), &error, *m_index);
        QVERIFY2(m_ws, qPrintable(error));
    }
    void cleanup() {
        for (pid_t pid : std::exchange(m_clients, {})) {
            ::kill(pid, SIGKILL);
            m_session.waitForExit(pid, 3000);
        }
        QVERIFY(until([&] { return m_ws->runningApplications().isEmpty(); }));
    }

    // Any other program is refused; Idlewatch's close of a window that is not there is
    // answered false. Only GNOME under Wayland without the extension needs set-up advice;
    // Mutter tells the idle time.
    void onlyIdlewatchMayCall() {
        QCOMPARE(m_session.busCall(GnomeToplevels::kService, GnomeToplevels::kPath,
                                   QString(GnomeToplevels::kInterface) + ".ListWindows", {}),
                 QString());
        QString error;
        const auto source = GnomeToplevels::open(m_session.bus(), &error);
        QVERIFY2(source && GnomeWorkspace::available(m_session.bus()), qPrintable(error));
        QVERIFY(!source->requestClose({ToplevelId(987654321)}));
        QCOMPARE(GnomeUserPresence::connect(m_session.bus(), 0)->state(),
                 UserPresence::State::Away);
        QCOMPARE(GnomeUserPresence::connect(m_session.bus())->state(),
                 UserPresence::State::Present);

        QProcessEnvironment env;
        env.insert("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
        env.insert("WAYLAND_DISPLAY", "wayland-0");
        QVERIFY(GnomeWorkspace::setupAdvice(env, false)
                    .contains("gnome-extensions enable " + QString(GnomeToplevels::kExtension)));
        QVERIFY(GnomeWorkspace::setupAdvice(env, true).isEmpty());
        env.insert("WAYLAND_DISPLAY", "");
        QVERIFY(GnomeWorkspace::setupAdvice(env, false).isEmpty());
    }

    // gedit (named by the shell's desktop-entry match) and a Qt client; nothing is in front
    // in the overview, then focus follows the user and each change deactivates once.
    void listsNamesAndFollowsFocus() {
        start({"gedit", "-s"});
        helper("org.example.Alpha", "alpha");
        QVERIFY(until([&] { return m_ws->runningApplications().size() == 2; }));
        const RunningApplication gedit = appFor("org.gnome.gedit");
        const RunningApplication alpha = appFor("org.example.Alpha");
        QCOMPARE(gedit.displayName(), "gedit");
        QCOMPARE(alpha.displayName(), "Alpha Editor");
        QCOMPARE(gedit.processIds(), QList<qint64>{m_clients[0]});
        QVERIFY(!gedit.canForceQuit() && m_ws->frontmostApplication().isNull());

        focus("alpha");
        QCoreApplication::sendPostedEvents();
        QSignalSpy spy(m_ws.get(), &Workspace::didDeactivateApplication);
        focus(kGedit);
        QVERIFY(until([&] { return spy.size() == 1; }));
        QCOMPARE(spy.at(0).at(0).value<RunningApplication>(), alpha);
    }

    // Past the timeout: an editor with unsaved work is asked once and its question seen,
    // gedit excluded as the chooser stores it stays, and a plain client is closed.
    void asksOnceAndKeepsExclusions() {
        TempStore store;
        Preference<qint64>(*store, Keys::minutesUntilClose).set(1);
        // Each focused before the next starts: one that maps later would take the focus.
        const pid_t editor = helper("org.example.Editor", "editor", "--ask-on-close");
        focus("editor");
        const pid_t plain = helper("org.example.Plain", "plain");
        focus("plain");
        const pid_t gedit = start({"gedit", "-s"});
        focus(kGedit);
        const pid_t front = helper("org.example.Front", "front");
        ManualClock clock;
        RunningAppsManager engine(*m_ws, *store, clock);
        QVERIFY(engine.addExcludedApp(m_gedit));
        const auto sweep = [&] {
            focus("front");
            for (int i = 0; i < 2; ++i) {
                QTest::qWait(300);
                clock.advance(61);
                engine.checkOpenApps();
                QCoreApplication::sendPostedEvents();
            }
        };
        sweep();
        QVERIFY(m_session.waitForExit(plain, 5000));
        QVERIFY(until([&] { return appFor("org.example.Editor").isAskingUser(); }));
        // Its question took the focus from "front", which stays in front for the engine.
        QVERIFY(m_session.isRunning(front));
        sweep();
        QVERIFY(m_session.isRunning(editor) && m_session.isRunning(gedit));
        // The user answers the question: the editor stays and is no longer asking.
        QVERIFY(m_session.closeWindow("editor?"));
        QVERIFY(until([&] { return !appFor("org.example.Editor").isAskingUser(); }));
        QVERIFY(m_session.isRunning(editor));
    }

    // An X client without WM_DELETE_WINDOW, which GNOME would kill for a close request, is
    // never asked; one with it is.
    void x11WithoutDeleteIsNeverAsked() {
        const pid_t rude = start({TESTCLIENT_PATH, "--class", "rude,rude", "--no-delete"});
        const pid_t polite =
            start({TESTCLIENT_PATH, "--class", "polite,polite", "--title", "polite"});
        QVERIFY(until([&] { return m_ws->runningApplications().size() == 2; }));
        QVERIFY(!appFor("rude").acceptsPoliteQuit() && !appFor("rude").requestQuit());
        focus("polite"); // mapped: GNOME asks no window before that
        QVERIFY(appFor("polite").requestQuit() && m_session.waitForExit(polite, 5000));
        QVERIFY(m_session.isRunning(rude));
    }

private:
    static constexpr char kGedit[] = "Untitled Document 1 - gedit";
    pid_t start(const QStringList& argv) {
        m_clients.append(m_session.spawn(argv));
        return m_clients.last();
    }
    pid_t helper(const QString& appId, const QString& title, const QString& option = "-") {
        return start({QCoreApplication::applicationFilePath(), "--helper", appId, title, option});
    }
    RunningApplication appFor(const QString& identifier) const {
        for (const RunningApplication& app : m_ws->runningApplications())
            if (app.applicationId() == identifier)
                return app;
        return {};
    }
    void focus(const QString& title) {
        QVERIFY(until([&] {
            return m_session.activate(title) && m_ws->frontmostApplication().windowTitle() == title;
        }));
    }
    bool until(const std::function<bool()>& ready) { return m_session.waitFor(ready, 15000); }

    GnomeShellSession m_session;
    QString m_gedit;
    std::unique_ptr<DesktopEntryIndex> m_index;
    std::unique_ptr<GnomeWorkspace> m_ws;
    QList<pid_t> m_clients;
};

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc > 4 && qstrcmp(argv[1], "--helper") == 0) {
        QGuiApplication::setDesktopFileName(QString::fromLocal8Bit(argv[2]));
        HelperWindow window;
        window.setTitle(QString::fromLocal8Bit(argv[3]));
        if (qstrcmp(argv[4], "--ask-on-close") == 0) {
            window.question = std::make_unique<QRasterWindow>();
            window.question->setTitle(window.title() + '?');
            window.question->setTransientParent(&window);
        }
        window.show();
        return QGuiApplication::exec();
    }
    TestGnomeWorkspace test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_gnome_workspace.moc"
