#include "app/IdlewatchApp.h"
#include "app/PopoverWindow.h"
#include "app/SingleInstance.h"
#include "app/StatusReport.h"

#include "LaunchAtLogin/LaunchAtLogin.h"
#include "engine/EngineRig.h"
#include "popover/AppRow.h"
#include "popover/ContentView.h"
#include "settings/SettingsView.h"
#include "settings/SettingsWindowController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QThread>
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

QImage trayImage(const IdlewatchApp& app) {
    const QIcon icon = app.trayIconImage();
    return icon.availableSizes().isEmpty() ? QImage()
                                           : icon.pixmap(icon.availableSizes().first()).toImage();
}

} // namespace

class TestApp : public QObject {
    Q_OBJECT
private slots:
    void trayIconFollowsItsPreferencesAndThePalette();
    void popoverOpensClosesAndQuits();
    void trayMenuPauseFollowsThePreference();
    void statusNamesTheSettingsPaneOnScreen();
    void placementKeepsThePopoverOnScreen_data();
    void placementKeepsThePopoverOnScreen();
    void secondLaunchAsksTheFirstToShow();
    void staleSocketIsTakenOver();
    void aStoppedFirstInstanceIsNotReplaced();
};

// The drawing itself is the artwork's test; here: the tray redraws at once, clamped.
void TestApp::trayIconFollowsItsPreferencesAndThePalette() {
    AppRig rig;
    IdlewatchApp& app = rig.startApp();
    QCOMPARE(trayImage(app).size(), QSize(18, 18));
    rig.store->setInteger(QStringLiteral("menuBarIconSize"), 30);
    QCOMPARE(trayImage(app).size(), QSize(24, 24));
    // A theme switch recolours the template icon.
    const QImage before = trayImage(app);
    const QPalette palette = QApplication::palette();
    QPalette dark = palette;
    dark.setColor(QPalette::WindowText, QColor(240, 240, 240));
    QApplication::setPalette(dark);
    QVERIFY(trayImage(app) != before);
    QApplication::setPalette(palette);
}

void TestApp::popoverOpensClosesAndQuits() {
    AppRig rig;
    rig.workspace.add({.name = "Editor"});
    IdlewatchApp& app = rig.startApp();
    QSignalSpy quit(&app, &IdlewatchApp::quitRequested);
    QSignalSpy settings(&app, &IdlewatchApp::settingsRequested);

    app.togglePopover();
    PopoverWindow* popover = app.popover();
    QVERIFY(popover->isVisible());
    QVERIFY(popover->windowFlags().testFlag(Qt::Popup));
    QCOMPARE(app.contentView()->rowTexts(), QStringList{"Editor\t8h left"});
    QTest::keyClick(popover, Qt::Key_Escape);
    QVERIFY(!popover->isVisible());
    // The click on the icon that closed it does not reopen it straight away.
    app.togglePopover();
    QVERIFY(!popover->isVisible());
    QTest::qWait(300);
    app.togglePopover();
    QVERIFY(popover->isVisible());

    // The same engine every time.
    QCOMPARE(&app.contentView()->manager(), rig.engine.get());

    QTest::mouseClick(app.contentView()->settingsItem(), Qt::LeftButton);
    QCOMPARE(settings.size(), 1);
    QVERIFY(!popover->isVisible());
    QVERIFY(rig.settings->window() && rig.settings->window()->isVisible());
    app.showPopover();
    QTest::mouseClick(app.contentView()->quitItem(), Qt::LeftButton);
    QCOMPARE(quit.size(), 1);

    // With both open, an application ends and the engine sweeps; then everything is torn
    // down in the program's own order (the sanitizer build checks what is left dangling).
    app.showPopover();
    rig.settings->openSettings(SettingsPane::general);
    const RunningApplication editor = rig.workspace.runningApplications().first();
    // "Quit now" takes the sweep's safe path: a question that came up after the row was
    // drawn is not answered for the user.
    rig.store->setBoolean(QStringLiteral("showCloseButton"), true);
    rig.store->setBoolean(QStringLiteral("forceQuitIfTerminateFails"), true);
    AppRow* row = app.contentView()->rows().value(0);
    QVERIFY(row && row->quitButton()->isEnabled());
    rig.workspace.setAskingUser(editor, true, true);
    QTest::mouseClick(row->quitButton(), Qt::LeftButton);
    QVERIFY(rig.workspace.requestsFor(editor).isEmpty());
    rig.workspace.quit(editor);
    rig.sweepAfter(1);
    QVERIFY(app.contentView()->rowTexts().isEmpty());
}

// The pause item and "quittingEnabled" follow each other, whichever is changed.
void TestApp::trayMenuPauseFollowsThePreference() {
    AppRig rig;
    IdlewatchApp& app = rig.startApp();
    QAction* pause = nullptr;
    for (QAction* action : app.trayMenu()->actions())
        if (action->text() == QLatin1String("Pause automatic quitting"))
            pause = action;
    QVERIFY(pause && pause->isCheckable() && !pause->isChecked());
    pause->trigger();
    QVERIFY(!rig.engine->quittingEnabled().value());
    rig.store->setBoolean(QStringLiteral("quittingEnabled"), true); // as the settings window does
    QVERIFY(!pause->isChecked());
    rig.store->setBoolean(QStringLiteral("quittingEnabled"), false);
    QVERIFY(pause->isChecked());
}

// Scripts read which pane the settings window shows, and that it is closed.
void TestApp::statusNamesTheSettingsPaneOnScreen() {
    AppRig rig;
    IdlewatchApp& app = rig.startApp();
    const auto pane = [&] {
        return QJsonDocument::fromJson(StatusReport::json(*rig.engine, *rig.settings))
            .object()
            .value(QStringLiteral("settingsPane"));
    };
    QVERIFY(pane().isNull());

    app.openSettings();
    QCOMPARE(pane().toString(), QStringLiteral("general"));
    rig.settings->view()->setSelectedPane(SettingsPane::menuBar);
    QCOMPARE(pane().toString(), QStringLiteral("menuBar"));
    rig.settings->window()->close();
    QVERIFY(pane().isNull());
}

void TestApp::placementKeepsThePopoverOnScreen_data() {
    QTest::addColumn<QRect>("icon");
    QTest::addColumn<QPoint>("cursor");
    QTest::addColumn<QPoint>("topLeft");
    // Screen 1280x800; popover 330x200.
    QTest::newRow("top panel: below the icon")
        << QRect(600, 0, 24, 24) << QPoint() << QPoint(612 - 165, 24 + 4);
    QTest::newRow("bottom panel: above the icon")
        << QRect(600, 772, 24, 24) << QPoint() << QPoint(612 - 165, 772 - 4 - 200);
    QTest::newRow("icon at the left edge") << QRect(4, 772, 24, 24) << QPoint() << QPoint(0, 568);
    QTest::newRow("icon at the right edge")
        << QRect(1270, 0, 24, 24) << QPoint() << QPoint(1280 - 330, 28);
    QTest::newRow("no geometry: at the pointer")
        << QRect() << QPoint(700, 300) << QPoint(700 - 165, 305);
    QTest::newRow("pointer near the bottom")
        << QRect() << QPoint(10, 790) << QPoint(0, 790 - 4 - 200);
}

void TestApp::placementKeepsThePopoverOnScreen() {
    QFETCH(QRect, icon);
    QFETCH(QPoint, cursor);
    QFETCH(QPoint, topLeft);
    QCOMPARE(PopoverWindow::placement(icon, cursor, QSize(330, 200), QRect(0, 0, 1280, 800)),
             topLeft);
}

namespace {
// The running instance's side lives in its own thread with its own event loop, as a
// separate process would.
struct RunningInstance {
    QThread thread;
    SingleInstance* instance = nullptr;
    explicit RunningInstance(const QString& name) {
        instance = new SingleInstance(name);
        instance->moveToThread(&thread);
        thread.start();
    }
    SingleInstance::ListenResult listen() {
        SingleInstance::ListenResult result{};
        QMetaObject::invokeMethod(
            instance, [&] { result = instance->listen(); }, Qt::BlockingQueuedConnection);
        return result;
    }
    ~RunningInstance() {
        QMetaObject::invokeMethod(
            instance, [this] { delete instance; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
};
} // namespace

void TestApp::secondLaunchAsksTheFirstToShow() {
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("idlewatch.socket"));
    SingleInstance second(name);
    QVERIFY(!second.askRunningInstanceToShow(200)); // nobody runs yet

    RunningInstance first(name);
    QSignalSpy shown(first.instance, &SingleInstance::showRequested);
    QCOMPARE(first.listen(), SingleInstance::ListenResult::Listening);
    QVERIFY(second.askRunningInstanceToShow());
    QTRY_COMPARE(shown.size(), 1);
    // A second launch that loses the race to listen also just asks the first to show.
    QCOMPARE(second.listen(), SingleInstance::ListenResult::OtherInstance);
    QTRY_COMPARE(shown.size(), 2);
}

void TestApp::staleSocketIsTakenOver() {
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("idlewatch.socket"));
    QFile stale(name);
    QVERIFY(stale.open(QIODevice::WriteOnly)); // left behind by a crashed instance
    stale.close();
    RunningInstance first(name);
    QCOMPARE(first.listen(), SingleInstance::ListenResult::Listening);
    QVERIFY(SingleInstance(name).askRunningInstanceToShow());
}

// A stopped process keeps what it owns: a second launch must neither take over nor hang.
void TestApp::aStoppedFirstInstanceIsNotReplaced() {
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("idlewatch.socket"));
    QProcess first;
    first.start(QCoreApplication::applicationFilePath(), {"--hold-instance", name});
    QVERIFY(first.waitForReadyRead(30000));
    const pid_t pid = pid_t(first.processId());
    auto end = qScopeGuard([&] {
        ::kill(pid, SIGCONT);
        first.kill();
        first.waitForFinished();
    });
    QVERIFY(SingleInstance(name).askRunningInstanceToShow());

    QCOMPARE(::kill(pid, SIGSTOP), 0);
    SingleInstance second(name);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(second.listen(), SingleInstance::ListenResult::Unresponsive);
    QVERIFY(timer.elapsed() < 10000);

    // Resumed, the first is still the one that answers.
    QCOMPARE(::kill(pid, SIGCONT), 0);
    QVERIFY(SingleInstance(name).askRunningInstanceToShow());

    // Once it is gone for good, its place is taken over.
    first.kill();
    QVERIFY(first.waitForFinished());
    QCOMPARE(SingleInstance(name).listen(), SingleInstance::ListenResult::Listening);
}

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
