#include "EngineRig.h"

#include <QSignalSpy>
#include <QTest>

#include <limits>

using Kind = FakeWorkspace::RequestKind;

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

// "Not stored" in data rows: the key keeps its default.
constexpr qint64 kAbsent = 0x7eadbeef;

void storeIfGiven(UserDefaults& store, const char* key, qint64 value) {
    if (value != kAbsent)
        store.setInteger(QString::fromLatin1(key), value);
}

} // namespace

class TestSweep : public QObject {
    Q_OBJECT
private slots:
    // One background application, registered at creation, swept once `elapsed` seconds
    // later: is it asked to quit?
    void timeoutAndGrace_data() {
        QTest::addColumn<qint64>("minutes");
        QTest::addColumn<qint64>("grace");
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<bool>("quit");
        QTest::newRow("defaults, exactly 8 h") << kAbsent << kAbsent << 28800.0 << false;
        QTest::newRow("defaults, just past 8 h") << kAbsent << kAbsent << 28800.5 << true;
        QTest::newRow("0 min counts as 1, at 60 s") << qint64(0) << kAbsent << 60.0 << false;
        QTest::newRow("0 min counts as 1, at 61 s") << qint64(0) << kAbsent << 61.0 << true;
        QTest::newRow("1 min + 2 min grace, 90 s") << qint64(1) << qint64(2) << 90.0 << false;
        QTest::newRow("1 min + 2 min grace, 120 s") << qint64(1) << qint64(2) << 120.0 << true;
        QTest::newRow("grace shorter than timeout") << qint64(5) << qint64(1) << 301.0 << true;
        // Stored values no settings pane offers: nothing overflows, huge means never.
        QTest::newRow("minutes INT64_MAX") << kMax << kAbsent << 1e15 << false;
        QTest::newRow("minutes INT64_MIN") << kMin << kAbsent << 61.0 << true;
        QTest::newRow("minutes just past saturation") << kMax / 60 + 1 << kAbsent << 1e15 << false;
        QTest::newRow("grace INT64_MAX") << qint64(1) << kMax << 1e15 << false;
        QTest::newRow("grace INT64_MIN") << qint64(1) << kMin << 61.0 << true;
    }
    void timeoutAndGrace() {
        QFETCH(qint64, minutes);
        QFETCH(qint64, grace);
        QFETCH(double, elapsed);
        QFETCH(bool, quit);
        EngineRig rig;
        storeIfGiven(*rig.store, "minutesUntilClose", minutes);
        storeIfGiven(*rig.store, "launchGraceMinutes", grace);
        const auto app = rig.workspace.add({.name = "Editor", .applicationId = "org.x.Editor"});
        rig.startAndDrain();

        rig.sweepAfter(elapsed);
        QCOMPARE(rig.workspace.requestsFor(app).isEmpty(), !quit);
        QCOMPARE(rig.tracked(app), !quit);
        QCOMPARE(rig.workspace.isRunning(app), !quit);
    }

    // The foreground application is restamped at every sweep, so it never runs out.
    void frontmostAndLaunchingAppsAreKept() {
        EngineRig rig;
        rig.store->setInteger("minutesUntilClose", 1);
        const auto front = rig.workspace.add({.name = "Front"});
        const auto launching = rig.workspace.add({.name = "Slow", .finishedLaunching = false});
        const auto background = rig.workspace.add({.name = "Back"});
        rig.workspace.activate(front);
        rig.startAndDrain();

        rig.sweepAfter(3600);
        QVERIFY(rig.workspace.requestsFor(front).isEmpty());
        QCOMPARE(rig.stamp(front), rig.clock.now());
        QVERIFY(rig.workspace.requestsFor(launching).isEmpty());
        QVERIFY(rig.tracked(launching));
        QCOMPARE(rig.workspace.requestsFor(background), QList<Kind>{Kind::Terminate});

        // Once it has launched, the next sweep quits it.
        rig.workspace.setFinishedLaunching(launching, true);
        rig.sweepAfter(1);
        QCOMPARE(rig.workspace.requestsFor(launching), QList<Kind>{Kind::Terminate});
    }

    // Switched off, the sweep still prunes ended processes (a relaunch is a new process)
    // and registers new ones, and still publishes the map for the countdowns on screen.
    void quittingSwitchedOffStillKeepsTheRegistry() {
        EngineRig rig;
        rig.store->setInteger("minutesUntilClose", 1);
        rig.store->setBoolean("quittingEnabled", false);
        const auto old = rig.workspace.add({.name = "Old"});
        const auto ending = rig.workspace.add({.name = "Ending"});
        auto& engine = rig.startAndDrain();
        QSignalSpy published(&engine, &RunningAppsManager::runningAppsChanged);

        rig.clock.advance(600);
        const auto newcomer = rig.workspace.relaunch(ending);
        rig.sweepAfter(0);
        QVERIFY(!rig.tracked(ending) && !engine.firstSeenApps().contains(ending));
        QCOMPARE(rig.stamp(newcomer), rig.clock.now());
        QVERIFY(rig.workspace.requests().isEmpty());
        published.clear();
        rig.sweepAfter(0);
        QVERIFY(!published.isEmpty());

        rig.store->setBoolean("quittingEnabled", true);
        rig.sweepAfter(1);
        QCOMPARE(rig.workspace.requestsFor(old), QList<Kind>{Kind::Terminate});
        QVERIFY(rig.workspace.requestsFor(newcomer).isEmpty()); // idle 1 s only
    }

    // Toggles are keyed by name: one entry decides for every application of that name.
    void togglesDecideByName_data() {
        QTest::addColumn<QString>("toggles"); // stored blob; empty: none stored
        QTest::addColumn<bool>("clearFirst");
        QTest::addColumn<bool>("newAppsEnabled");
        QTest::addColumn<bool>("editorsQuit");
        QTest::addColumn<bool>("viewerQuits");
        QTest::newRow("off for Editor")
            << QString(R"({"Editor":false})") << false << true << false << true;
        QTest::newRow("on for Editor, new apps off")
            << QString(R"({"Editor":true})") << false << false << true << false;
        QTest::newRow("no entries, new apps off") << QString() << true << false << false << false;
        QTest::newRow("no entries, new apps on") << QString() << true << true << true << true;
    }
    void togglesDecideByName() {
        QFETCH(QString, toggles);
        QFETCH(bool, clearFirst);
        QFETCH(bool, newAppsEnabled);
        QFETCH(bool, editorsQuit);
        QFETCH(bool, viewerQuits);
        EngineRig rig;
        rig.store->setInteger("minutesUntilClose", 1);
        if (!toggles.isEmpty())
            rig.store->setData("com.Idlewatch.toggleStatus", toggles.toUtf8());
        // Registration writes "newAppsEnabled" for names without an entry: the rows that
        // want no entries clear them after it, then switch the default.
        const auto editor1 = rig.workspace.add({.name = "Editor"});
        const auto editor2 = rig.workspace.add({.name = "Editor"});
        const auto viewer = rig.workspace.add({.name = "Viewer"});
        rig.store->setBoolean("newAppsEnabled", clearFirst || newAppsEnabled);
        auto& engine = rig.startAndDrain();
        if (clearFirst) {
            engine.clearPerAppToggles();
            EngineRig::drain();
        }
        rig.store->setBoolean("newAppsEnabled", newAppsEnabled);

        rig.sweepAfter(120);
        QCOMPARE(rig.workspace.requestsFor(editor1).isEmpty(), !editorsQuit);
        QCOMPARE(rig.workspace.requestsFor(editor2).isEmpty(), !editorsQuit);
        QCOMPARE(rig.workspace.requestsFor(viewer).isEmpty(), !viewerQuits);
    }

    // Requests over two sweeps: undelivered ones are asked again, force only when allowed.
    void undeliveredRequests_data() {
        QTest::addColumn<bool>("politeDelivered");
        QTest::addColumn<bool>("forceAllowed");
        QTest::addColumn<bool>("forceDelivered");
        QTest::addColumn<QList<Kind>>("requests");
        QTest::addColumn<bool>("trackedAfter");
        const Kind T = Kind::Terminate;
        const Kind F = Kind::ForceTerminate;
        QTest::newRow("polite delivered") << true << true << true << QList<Kind>{T} << false;
        QTest::newRow("undelivered, no force")
            << false << false << true << QList<Kind>{T, T} << true;
        QTest::newRow("forced") << false << true << true << QList<Kind>{T, F} << false;
        QTest::newRow("neither delivered")
            << false << true << false << QList<Kind>{T, F, T, F} << true;
    }
    void undeliveredRequests() {
        QFETCH(bool, politeDelivered);
        QFETCH(bool, forceAllowed);
        QFETCH(bool, forceDelivered);
        QFETCH(QList<Kind>, requests);
        QFETCH(bool, trackedAfter);
        EngineRig rig;
        rig.store->setInteger("minutesUntilClose", 1);
        rig.store->setBoolean("forceQuitIfTerminateFails", forceAllowed);
        const auto app = rig.workspace.add({.name = "Stubborn"});
        rig.workspace.setTerminateDelivered(app, politeDelivered);
        rig.workspace.setForceTerminateDelivered(app, forceDelivered);
        rig.startAndDrain();
        const double registered = rig.clock.now();

        rig.sweepAfter(61);
        rig.sweepAfter(5);
        QCOMPARE(rig.workspace.requestsFor(app), requests);
        QCOMPARE(rig.tracked(app), trackedAfter);
        if (trackedAfter)
            QCOMPARE(rig.stamp(app), registered); // its countdown is not restarted
    }

    // A delivered request drops the entry at once; an app that keeps running (it asked to
    // save) comes back at the next sweep with a fresh countdown and a fresh grace.
    void survivorIsRegisteredAgain() {
        EngineRig rig;
        rig.store->setInteger("minutesUntilClose", 1);
        rig.store->setInteger("launchGraceMinutes", 3);
        const auto app = rig.workspace.add({.name = "Asks"});
        rig.workspace.setTerminateEndsApp(app, false);
        auto& engine = rig.startAndDrain();

        rig.clock.advance(200);
        engine.checkOpenApps();
        QCOMPARE(rig.workspace.requestsFor(app).size(), 1);
        QVERIFY(!rig.tracked(app));
        QVERIFY(!engine.firstSeenApps().contains(app));
        EngineRig::drain();
        QVERIFY(!rig.tracked(app)); // not registered again by the sweep that quit it

        rig.sweepAfter(5);
        const double back = rig.clock.now();
        QCOMPARE(rig.stamp(app), back);
        QCOMPARE(engine.firstSeenApps().value(app), back);
        rig.sweepAfter(150); // idle past the timeout, but inside the new grace
        QCOMPARE(rig.workspace.requestsFor(app).size(), 1);
        rig.sweepAfter(30);
        QCOMPARE(rig.workspace.requestsFor(app).size(), 2);
    }

    // An application that answers our request with a question is sent nothing more, polite
    // or forced, until the question is gone; then its countdown starts again. One with a
    // modal window open is not asked at all; the user's quit-now button obeys the same rule.
    void questionsAreNeverAnsweredForTheUser() {
        EngineRig rig;
        rig.store->setInteger("minutesUntilClose", 1);
        rig.store->setBoolean("forceQuitIfTerminateFails", true);
        const auto editor = rig.workspace.add({.name = "Editor"});
        const auto modal = rig.workspace.add({.name = "Modal"});
        rig.workspace.setTerminateEndsApp(editor, false);
        rig.workspace.setAskingUser(modal, true, true);
        auto& engine = rig.startAndDrain();

        rig.sweepAfter(61);
        QCOMPARE(rig.workspace.requestsFor(editor), {Kind::Terminate});
        QVERIFY(rig.workspace.requestsFor(modal).isEmpty());
        rig.workspace.setAskingUser(editor, true);
        for (int i = 0; i < 10; ++i)
            rig.sweepAfter(3600);
        QCOMPARE(rig.workspace.requestsFor(editor), {Kind::Terminate});
        QVERIFY(rig.workspace.requestsFor(modal).isEmpty());
        QVERIFY(engine.isWaitingForUser(editor) && engine.isWaitingForUser(modal));
        QVERIFY(rig.tracked(editor)); // listed, so its row can say it waits
        QVERIFY(!engine.requestQuit(editor, RunningAppsManager::Requester::User));
        QVERIFY(!engine.requestQuit(modal, RunningAppsManager::Requester::User));
        QCOMPARE(rig.workspace.requestsFor(editor).size(), 1);

        rig.workspace.setAskingUser(editor, false);
        rig.workspace.setAskingUser(modal, false);
        rig.sweepAfter(5);
        QCOMPARE(rig.stamp(editor), rig.clock.now());
        QCOMPARE(engine.firstSeenApps().value(editor), rig.clock.now());
        QVERIFY(!engine.isWaitingForUser(editor));
        QCOMPARE(rig.workspace.requestsFor(modal), {Kind::Terminate});
        rig.sweepAfter(60);
        QCOMPARE(rig.workspace.requestsFor(editor).size(), 1);
        rig.sweepAfter(1);
        QCOMPARE(rig.workspace.requestsFor(editor).size(), 2);
    }

    // Our request moved the focus to the asked application: the application the user had
    // in front stays protected until the user activates another one.
    void focusTakenByAQuestionIsNotTheUsers() {
        EngineRig rig;
        rig.store->setInteger("minutesUntilClose", 1);
        const auto terminal = rig.workspace.add({.name = "Terminal"});
        const auto editor = rig.workspace.add({.name = "Editor"});
        const auto other = rig.workspace.add({.name = "Other"});
        rig.workspace.setTerminateEndsApp(editor, false);
        rig.workspace.activate(terminal);
        rig.startAndDrain();
        rig.sweepAfter(61); // asks the editor and the other app
        rig.workspace.setAskingUser(editor, true);
        rig.workspace.activate(editor); // its question takes the focus
        EngineRig::drain();
        for (int i = 0; i < 5; ++i)
            rig.sweepAfter(61);
        QVERIFY(rig.workspace.requestsFor(terminal).isEmpty());

        rig.workspace.activate(other);
        EngineRig::drain();
        rig.sweepAfter(5);
        const double left = rig.stamp(terminal);
        QCOMPARE(left, rig.clock.now()); // idle from the moment the user chose another
        rig.sweepAfter(56);
        QVERIFY(rig.workspace.requestsFor(terminal).isEmpty());
        rig.sweepAfter(5);
        QCOMPARE(rig.workspace.requestsFor(terminal), {Kind::Terminate});
    }

    // Two questions in a row: the second takes the focus from the first asked application,
    // which must not take over the protection of the user's own.
    void twoQuestionsInARowKeepTheUsersApplication() {
        EngineRig rig;
        rig.store->setInteger("minutesUntilClose", 1);
        const auto terminal = rig.workspace.add({.name = "Terminal"});
        const auto editor = rig.workspace.add({.name = "Editor"});
        const auto mail = rig.workspace.add({.name = "Mail"});
        for (const auto& asked : {editor, mail}) {
            rig.workspace.setTerminateEndsApp(asked, false);
            rig.workspace.setAskingUser(asked, true);
        }
        rig.workspace.activate(terminal);
        rig.startAndDrain();
        rig.sweepAfter(61); // asks the editor and the mail client
        rig.workspace.activate(editor);
        rig.workspace.activate(mail);
        EngineRig::drain();
        for (int i = 0; i < 3; ++i)
            rig.sweepAfter(61);
        QVERIFY(rig.workspace.requestsFor(terminal).isEmpty());
    }

    // Seconds left by the quit rule, which every countdown on screen shows: with the sweep's
    // one-minute floor and launch grace, saturating for any stored value.
    void secondsLeft_data() {
        QTest::addColumn<qint64>("minutes");
        QTest::addColumn<qint64>("graceMinutes");
        QTest::addColumn<double>("idle");
        QTest::addColumn<double>("sinceRegistration");
        QTest::addColumn<qint64>("left");
        QTest::newRow("fresh") << qint64(480) << qint64(0) << 0.0 << 0.0 << qint64(28800);
        QTest::newRow("idle truncated toward zero")
            << qint64(480) << qint64(0) << 100.9 << 100.9 << qint64(28700);
        QTest::newRow("overdue is negative")
            << qint64(1) << qint64(0) << 90.5 << 90.5 << qint64(-30);
        QTest::newRow("zero timeout counts as a minute")
            << qint64(0) << qint64(0) << 10.0 << 10.0 << qint64(50);
        QTest::newRow("stamp in the future")
            << qint64(1) << qint64(0) << -30.7 << 0.0 << qint64(90);
        QTest::newRow("grace longer than the timeout")
            << qint64(1) << qint64(10) << 90.0 << 90.0 << qint64(510);
        QTest::newRow("grace over, timeout decides")
            << qint64(5) << qint64(2) << 200.0 << 3000.0 << qint64(100);
        QTest::newRow("negative grace is none")
            << qint64(1) << qint64(-5) << 30.0 << 30.0 << qint64(30);
        QTest::newRow("huge timeout saturates")
            << kMax << qint64(0) << 100.0 << 100.0 << kMax - 100;
        QTest::newRow("huge negative timeout")
            << kMin << qint64(0) << 100.0 << 100.0 << qint64(-40);
        QTest::newRow("idle beyond range")
            << qint64(480) << qint64(0) << 1e300 << 1e300 << 28800 - kMax;
        QTest::newRow("stamp beyond range") << kMax << qint64(0) << -1e300 << 0.0 << kMax;
    }
    void secondsLeft() {
        QFETCH(qint64, minutes);
        QFETCH(qint64, graceMinutes);
        QFETCH(double, idle);
        QFETCH(double, sinceRegistration);
        QFETCH(qint64, left);
        EngineRig rig;
        rig.store->setInteger("minutesUntilClose", minutes);
        rig.store->setInteger("launchGraceMinutes", graceMinutes);
        auto& engine = rig.start();
        const double now = rig.clock.now();
        QCOMPARE(engine.quitRule().secondsLeft(now - idle, now - sinceRegistration, now), left);
    }

    // The countdown a row shows reaches zero at the sweep that asks, never sooner or later,
    // with a grace longer than the timeout too.
    void countdownEndsAtTheRequest_data() {
        QTest::addColumn<qint64>("graceMinutes");
        QTest::newRow("no grace") << qint64(0);
        QTest::newRow("grace beyond the timeout") << qint64(10);
    }
    void countdownEndsAtTheRequest() {
        QFETCH(qint64, graceMinutes);
        EngineRig rig;
        rig.store->setInteger("minutesUntilClose", 1);
        rig.store->setInteger("launchGraceMinutes", graceMinutes);
        const auto app = rig.workspace.add({.name = "Editor"});
        auto& engine = rig.startAndDrain();
        // Steps that never land on a whole second, where truncation would blur the boundary.
        rig.clock.advance(0.35);
        for (int step = 0; step < 1000 && rig.workspace.requestsFor(app).isEmpty(); ++step) {
            rig.clock.advance(0.7);
            const qint64 left = engine.secondsUntilQuit(app);
            rig.sweepAfter(0);
            const bool asked = !rig.workspace.requestsFor(app).isEmpty();
            QVERIFY2(asked == (left <= 0),
                     qPrintable(QStringLiteral("%1 s left, asked: %2").arg(left).arg(asked)));
        }
        QCOMPARE(rig.workspace.requestsFor(app).size(), 1);
    }

    // Ticks `ticks` times, the clock moving `step` seconds before each; counts the sweeps.
    void tickInterval_data() {
        QTest::addColumn<qint64>("refresh");
        QTest::addColumn<bool>("ownWindowFocused");
        QTest::addColumn<double>("step");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<int>("sweeps");
        QTest::newRow("default 5 s") << kAbsent << false << 1.0 << 12 << 3; // at 1, 6, 11
        QTest::newRow("negative") << qint64(-7) << false << 1.0 << 5 << 5;
        QTest::newRow("30 s") << qint64(30) << false << 1.0 << 31 << 2; // at 1, 31
        QTest::newRow("30 s, own window focused") << qint64(30) << true << 1.0 << 10 << 10;
        QTest::newRow("INT64_MAX") << kMax << false << 1.0 << 10 << 1;
        QTest::newRow("INT64_MIN") << kMin << false << 1.0 << 4 << 4;
        // A wall clock set back must not hold off the sweeps until it has caught up.
        QTest::newRow("clock set back") << qint64(30) << false << -3600.0 << 3 << 3;
    }
    void tickInterval() {
        QFETCH(qint64, refresh);
        QFETCH(bool, ownWindowFocused);
        QFETCH(double, step);
        QFETCH(int, ticks);
        QFETCH(int, sweeps);
        EngineRig rig;
        storeIfGiven(*rig.store, "openAppsRefreshSeconds", refresh);
        rig.workspace.setOwnWindowIsActive(ownWindowFocused);
        auto& engine = rig.startAndDrain();
        QCOMPARE(engine.timer()->interval(), 1000);
        QVERIFY(engine.timer()->isActive());

        const int before = rig.workspace.listingCount();
        double lastSweep = 0;
        for (int i = 0; i < ticks; ++i) {
            rig.clock.advance(step);
            const int listed = rig.workspace.listingCount();
            engine.tick();
            if (rig.workspace.listingCount() != listed)
                lastSweep = rig.clock.now();
        }
        QCOMPARE(rig.workspace.listingCount() - before, sweeps);
        QCOMPARE(engine.lastOpenAppsCheck(), lastSweep);
    }

    void resetRestartsCountdownAndGrace() {
        EngineRig rig;
        rig.store->setInteger("minutesUntilClose", 1);
        rig.store->setInteger("launchGraceMinutes", 5);
        const auto registered = rig.workspace.add({.name = "Registered"});
        const auto front = rig.workspace.add({.name = "Front"});
        auto& engine = rig.startAndDrain();
        const auto late = rig.workspace.add({.name = "Late"});
        rig.workspace.activate(late);
        rig.workspace.activate(front); // deactivation stamps Late, without a first-seen time
        EngineRig::drain();
        QVERIFY(!engine.firstSeenApps().contains(late));

        rig.clock.advance(400);
        engine.resetAllTimers();
        const double reset = rig.clock.now();
        for (const auto& app : {registered, front, late}) {
            QCOMPARE(rig.stamp(app), reset);
            QCOMPARE(engine.firstSeenApps().value(app), reset);
        }
        rig.sweepAfter(200); // idle past the timeout, inside the restarted grace
        QVERIFY(rig.workspace.requests().isEmpty());
        rig.sweepAfter(101);
        QCOMPARE(rig.workspace.requestsFor(registered), QList<Kind>{Kind::Terminate});
        QCOMPARE(rig.workspace.requestsFor(late), QList<Kind>{Kind::Terminate});
        QVERIFY(rig.workspace.requestsFor(front).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSweep)
#include "test_sweep.moc"
