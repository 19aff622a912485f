#include "app/DesktopNotifier.h"
#include "app/IdlewatchApp.h"
#include "app/PopoverWindow.h"
#include "app/SingleInstance.h"
#include "app/StatusReport.h"

#include "LaunchAtLogin/LaunchAtLogin.h"
#include "engine/EngineRig.h"
#include "popover/AppRow.h"
#include "popover/ContentView.h"
#include "settings/SettingsWindowController.h"
#include "support/NotificationServer.h"
#include "support/Session.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <cstdio>

#include <signal.h>

namespace {

// The tray application on an engine rig, with what main hands it; each part ends before
// the ones it uses.
struct AppRig : EngineRig {
    LaunchAtLogin::Observable launchAtLogin;
    std::unique_ptr<SettingsWindowController> settings;
    std::unique_ptr<IdlewatchApp> app;

    IdlewatchApp& startApp() {
        startAndDrain();
        settings = std::make_unique<SettingsWindowController>(*engine, launchAtLogin);
        app = std::make_unique<IdlewatchApp>(*store);
        app->start(*engine, *settings);
        return *app;
    }
};

} // namespace

class TestApp : public QObject {
    Q_OBJECT
private slots:
    // Paused, nothing counts down anywhere: --status names each application's state with no
    // seconds, the popover says "Paused" instead of countdowns, and the icon wears a badge.
    // Resumed, "Quit now" takes the sweep's safe path: a question that came up after the row
    // was drawn is not answered for the user. Then everything is torn down in the program's
    // own order (the sanitizer build checks what is left dangling).
    void pauseShowsEverywhere() {
        AppRig rig;
        const RunningApplication editor = rig.workspace.add({.name = "Editor"});
        rig.store->setBoolean("showCloseButton", true);
        rig.workspace.add({.name = "Stuck", .acceptsPoliteQuit = false});
        rig.workspace.setAskingUser(rig.workspace.add({.name = "Asking"}), true, true);
        rig.store->setData("com.Idlewatch.toggleStatus", R"({"Off":false})");
        rig.workspace.add({.name = "Off"});
        IdlewatchApp& app = rig.startApp();
        // Names, seconds and states in the order listed (JSON members come sorted).
        const auto status = [&](const char* expected) {
            return QString(StatusReport::json(*rig.engine, *rig.settings))
                .contains(QRegularExpression(QString(expected).replace(' ', ".*")));
        };
        QVERIFY(status(R"("Editor","secondsLeft":28800,"state":"counting" "Asking","secondsLeft":)"
                       R"(null,"state":"waitingForYou" "Off","secondsLeft":null,"state":"off")"
                       R"( "Stuck","secondsLeft":null,"state":"cantClose")"));
        const QImage counting = app.trayIconImage().pixmap(18).toImage();
        rig.clock.advance(30);
        rig.store->setBoolean("quittingEnabled", false);
        QVERIFY(status(R"("Editor","secondsLeft":null,"state":"paused")"));
        QVERIFY(app.trayIconImage().pixmap(18).toImage() != counting);

        app.showPopover();
        ContentView* view = app.contentView();
        QVERIFY(view->pausedBanner()->isVisible());
        QCOMPARE(view->rowTexts(),
                 (QStringList{"Asking\twaiting for you", "Editor", "Off", "Stuck"}));
        QTest::mouseClick(view->resumeButton(), Qt::LeftButton);
        QVERIFY(rig.engine->quittingEnabled().value() && !view->pausedBanner()->isVisible());
        QCOMPARE(view->rowTexts().value(1), "Editor\t7h 59m left");
        rig.store->setBoolean("forceQuitIfTerminateFails", true);
        rig.workspace.setAskingUser(editor, true, true);
        QTest::mouseClick(view->rows().value(1)->quitButton(), Qt::LeftButton);
        QVERIFY(rig.workspace.requestsFor(editor).isEmpty());
    }

    // The first start says what Idlewatch does, the timeout and where to find it, once; the
    // notice's click opens the popover. A server without actions gets the notice without
    // them; with no server and no tray the popover opens instead.
    void firstStartGreets() {
        BusSession bus;
        QVERIFY2(bus.start(), qPrintable(bus.errorString()));
        for (const QStringList& capabilities : {QStringList{"actions"}, {"body"}, {}}) {
            const QString name = capabilities.join('+');
            NotificationServer server(capabilities);
            QVERIFY(capabilities.isEmpty() ||
                    server.serveOn(QDBusConnection::connectToBus(bus.address(), "server" + name)));
            AppRig rig;
            IdlewatchApp& app = rig.startApp();
            DesktopNotifier notifier(QDBusConnection::connectToBus(bus.address(), "app" + name));
            app.greet(notifier);
            QVERIFY(rig.store->boolean("firstRunNoticeShown").value_or(false));
            if (!capabilities.isEmpty()) {
                QTRY_COMPARE(server.notices().size(), 1);
                const NotificationServer::Notice notice = server.notices().value(0);
                QVERIFY(notice.body.contains("for 8h") && notice.body.contains("start Idlewatch"));
                QCOMPARE(notice.actions.contains("default"), capabilities.contains("actions"));
                QVERIFY(!app.popover());
                server.invokeAction(notice.id, "default"); // no tray in this test, no server
                QDBusConnection::disconnectFromBus("server" + name);
            }
            QTRY_VERIFY(capabilities == QStringList{"body"} ||
                        (app.popover() && app.popover()->isVisible()));
        }
    }

    // One instance per user: a stale socket is taken over, a later launch asks the running one
    // to show, and a stopped one keeps what it owns: neither taken over nor waited on.
    void singleInstance() {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("idlewatch.socket"));
        QVERIFY(!SingleInstance(name).askRunningInstanceToShow(200)); // nobody runs yet
        QVERIFY(QFile(name).open(QIODevice::WriteOnly)); // left behind by a crashed instance
        QProcess first;
        first.start(QCoreApplication::applicationFilePath(), {"--hold-instance", name});
        QVERIFY(first.waitForReadyRead(30000));
        const pid_t pid = pid_t(first.processId());
        auto end = qScopeGuard([&] {
            ::kill(pid, SIGCONT);
            first.kill();
            first.waitForFinished();
        });
        // A second launch that loses the race to listen also just asks the first to show.
        QCOMPARE(SingleInstance(name).listen(), SingleInstance::ListenResult::OtherInstance);

        QCOMPARE(::kill(pid, SIGSTOP), 0);
        QCOMPARE(SingleInstance(name).listen(), SingleInstance::ListenResult::Unresponsive);
        QCOMPARE(::kill(pid, SIGCONT), 0); // resumed, the first is still the one that answers
        QVERIFY(SingleInstance(name).askRunningInstanceToShow());

        first.kill(); // once it is gone for good, its place is taken over
        QVERIFY(first.waitForFinished());
        QCOMPARE(SingleInstance(name).listen(), SingleInstance::ListenResult::Listening);
    }
};

// With --hold-instance NAME the binary is a running instance on NAME until it is killed,
// playing a first launch in another process.
int main(int argc, char** argv) {
    if (argc == 3 && QByteArray(argv[1]) == "--hold-instance") {
        QCoreApplication app(argc, argv);
        SingleInstance instance(QString::fromLocal8Bit(argv[2]));
        if (instance.listen() != SingleInstance::ListenResult::Listening)
            return 1;
        std::fputs("listening\n", stdout);
        std::fflush(stdout);
        return QCoreApplication::exec();
    }
    QApplication app(argc, argv);
    QApplication::setAttribute(Qt::AA_Use96Dpi, true);
    TestApp test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_app.moc"
