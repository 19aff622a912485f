#include "EngineRig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <limits>

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();
// "Not stored" in data rows: the key keeps its default.
constexpr qint64 kAbsent = 0x7eadbeef;

void storeIfGiven(UserDefaults& store, const char* key, qint64 value) {
    if (value != kAbsent)
        store.setInteger(QString::fromLatin1(key), value);
}

using TimeoutRow = std::tuple<qint64, qint64, double, qint64, bool>;
using ToggleRow = std::tuple<const char*, bool, bool, bool>;
using DeliveryRow = std::tuple<bool, bool, bool, bool, QList<Kind>>;
using TickRow = std::tuple<qint64, bool, double, int, int>;
// Editor's own timeout (0: none), minutes idle: whether Editor and Other are asked.
using OwnTimeoutRow = std::tuple<qint64, double, bool, bool>;

} // namespace

class TestSweep : public QObject {
    Q_OBJECT
private slots:
    // One background application, registered at creation, `elapsed` seconds later: the
    // seconds its countdown shows, and whether the sweep then asks it to quit. The sweep's
    // one-minute floor and launch grace count; stored values count within their ranges.
    void timeoutGraceAndCountdown_data() {
        addRows<TimeoutRow>({
            {"defaults, just past 8 h", {kAbsent, kAbsent, 28800.5, 0, true}},
            {"idle truncated toward zero", {kAbsent, kAbsent, 100.9, 28700, false}},
            {"0 min counts as 1, at 60 s", {0, kAbsent, 60, 0, false}},
            {"0 min counts as 1, at 61 s", {0, kAbsent, 61, -1, true}},
            {"1 min + 2 min grace, 90 s", {1, 2, 90, 30, false}},
            {"1 min + 2 min grace, 120 s", {1, 2, 120, 0, true}},
            {"grace shorter than timeout", {5, 1, 301, -1, true}},
            {"negative grace is none", {1, -5, 61, -1, true}},
            // Stored values outside their keys' ranges count as their bounds.
            {"10,000 min counts as 72 h", {10000, kAbsent, 259200, 0, false}},
            {"10,000 min counts as 72 h, 1 s on", {10000, kAbsent, 259201, -1, true}},
            {"grace INT64_MAX counts as 2 h", {1, kMax, 7201, -1, true}},
            {"idle beyond range", {kAbsent, kAbsent, 1e300, 28800 - kMax, true}},
        });
    }
    void timeoutGraceAndCountdown() {
        QFETCH(TimeoutRow, row);
        const auto& [minutes, grace, elapsed, left, quit] = row;
        EngineRig rig;
        storeIfGiven(*rig.store, "minutesUntilClose", minutes);
        storeIfGiven(*rig.store, "launchGraceMinutes", grace);
        const auto app = rig.workspace.add({.name = "Editor", .applicationId = "org.x.Editor"});
        rig.startAndDrain();
        rig.clock.advance(elapsed);
        QCOMPARE(rig.engine->secondsUntilQuit(app), left);
        rig.sweepAfter(0);
        QVERIFY(rig.asked(app).isEmpty() != quit && rig.tracked(app) != quit &&
                rig.workspace.isRunning(app) != quit);
    }

    // The foreground application is restamped at every sweep; one still launching waits.
    // Switched off, the sweep still prunes ended processes (a relaunch is a new process),
    // registers new ones and publishes the map for the countdowns on screen.
    void frontmostLaunchingAndSwitchedOff() {
        EngineRig rig(1);
        rig.store->setBoolean("quittingEnabled", false);
        const auto front = rig.workspace.add({.name = "Front"});
        const auto launching = rig.workspace.add({.name = "Slow", .started = false});
        const auto background = rig.workspace.add({.name = "Back"});
        const auto ending = rig.workspace.add({.name = "Ending"});
        rig.workspace.activate(front);
        auto& engine = rig.startAndDrain();
        QSignalSpy published(&engine, &RunningAppsManager::runningAppsChanged);
        rig.clock.advance(3600);
        const auto newcomer = rig.workspace.relaunch(ending);
        rig.sweepAfter(0);
        QVERIFY(!rig.tracked(ending) && rig.firstSeen(ending) == -1 && !published.isEmpty());
        QVERIFY(rig.stamp(newcomer) == rig.clock.now() && rig.workspace.requests().isEmpty());

        rig.store->setBoolean("quittingEnabled", true);
        rig.sweepAfter(1);
        QVERIFY(rig.asked(front).isEmpty() && rig.asked(launching).isEmpty() &&
                rig.tracked(launching));
        QVERIFY(rig.stamp(front) == rig.clock.now() && rig.asked(newcomer).isEmpty());
        QCOMPARE(rig.asked(background), QList<Kind>{Kind::Quit});
        rig.workspace.setStarted(launching, true);
        rig.sweepAfter(1);
        QCOMPARE(rig.asked(launching), QList<Kind>{Kind::Quit});
    }

    // Toggles are keyed by name: one entry decides for every application of that name,
    // and names without one follow "newAppsEnabled".
    void togglesDecideByName_data() {
        addRows<ToggleRow>({
            {"off for Editor", {R"({"Editor":false})", true, false, true}},
            {"on for Editor, new apps off", {R"({"Editor":true})", false, true, false}},
            {"no entries, new apps off", {nullptr, false, false, false}},
            {"no entries, new apps on", {nullptr, true, true, true}},
        });
    }
    void togglesDecideByName() {
        QFETCH(ToggleRow, row);
        const auto& [toggles, newAppsEnabled, editorsQuit, viewerQuits] = row;
        EngineRig rig(1);
        if (toggles)
            rig.store->setData("com.Idlewatch.toggleStatus", toggles);
        const auto editor1 = rig.workspace.add({.name = "Editor"});
        const auto editor2 = rig.workspace.add({.name = "Editor"});
        const auto viewer = rig.workspace.add({.name = "Viewer"});
        // Registration writes entries for names without one: the rows that want none clear
        // them afterwards.
        rig.store->setBoolean("newAppsEnabled", !toggles || newAppsEnabled);
        auto& engine = rig.startAndDrain();
        if (!toggles)
            engine.clearPerAppToggles();
        rig.store->setBoolean("newAppsEnabled", newAppsEnabled);
        rig.sweepAfter(120);
        QVERIFY(rig.asked(editor1).isEmpty() == !editorsQuit &&
                rig.asked(editor2) == rig.asked(editor1));
        QCOMPARE(rig.asked(viewer).isEmpty(), !viewerQuits);
    }

    // Requests over two sweeps: undelivered ones are asked again, force only when allowed,
    // and a countdown is not restarted by a failed request.
    void undeliveredRequests_data() {
        const Kind T = Kind::Quit, F = Kind::ForceQuit;
        addRows<DeliveryRow>({
            {"undelivered, no force", {false, false, true, true, {T, T}}},
            {"forced", {false, true, true, false, {T, F}}},
            {"neither delivered", {false, true, false, true, {T, F, T, F}}},
        });
    }
    void undeliveredRequests() {
        QFETCH(DeliveryRow, row);
        const auto& [politeDelivered, forceAllowed, forceDelivered, trackedAfter, requests] = row;
        EngineRig rig(1);
        rig.store->setBoolean("forceQuitIfTerminateFails", forceAllowed);
        const auto app = rig.workspace.add({.name = "Stubborn"});
        rig.workspace.setQuitDelivered(app, politeDelivered);
        rig.workspace.setForceQuitDelivered(app, forceDelivered);
        rig.startAndDrain();
        const double registered = rig.clock.now();
        rig.sweepAfter(61);
        rig.sweepAfter(5);
        QCOMPARE(rig.asked(app), requests);
        QCOMPARE(rig.stamp(app), trackedAfter ? registered : -1);
    }

    // Questions taking the focus right after our requests, one after another, leave the
    // protection with the application the user had in front, until the user picks another.
    void questionsTakingTheFocusKeepTheFrontProtected() {
        EngineRig rig(1);
        const auto terminal = rig.workspace.add({.name = "Terminal"});
        const auto editor = rig.workspace.add({.name = "Editor"});
        const auto mail = rig.workspace.add({.name = "Mail"});
        rig.workspace.activate(terminal);
        rig.startAndDrain();
        for (const auto& app : {editor, mail})
            rig.workspace.setQuitEndsApp(app, false);
        rig.sweepAfter(61);
        rig.workspace.activate(editor);
        rig.workspace.activate(mail);
        EngineRig::drain();
        for (int i = 0; i < 10; ++i)
            rig.sweepAfter(3600);
        QVERIFY(rig.asked(terminal).isEmpty() && rig.asked(editor).size() == 1);
        rig.workspace.activate(rig.workspace.add({.name = "Other"}));
        EngineRig::drain();
        rig.sweepAfter(1); // the last sweep it counts as in front
        rig.sweepAfter(61);
        QCOMPARE(rig.asked(terminal).size(), 1);
    }

    // Ticks `ticks` times, the clock moving `step` seconds before each; counts the sweeps.
    void tickInterval_data() {
        addRows<TickRow>({
            {"default 5 s", {kAbsent, false, 1, 12, 3}}, // at 1, 6, 11
            {"30 s", {30, false, 1, 31, 2}},             // at 1, 31
            {"30 s, own window focused", {30, true, 1, 10, 10}},
            {"100 s counts as 30", {100, false, 1, 31, 2}},
            {"negative", {kMin, false, 1, 4, 4}},
        });
    }
    void tickInterval() {
        QFETCH(TickRow, row);
        const auto& [refresh, ownWindowFocused, step, ticks, sweeps] = row;
        EngineRig rig;
        storeIfGiven(*rig.store, "openAppsRefreshSeconds", refresh);
        rig.workspace.setOwnWindowIsActive(ownWindowFocused);
        auto& engine = rig.startAndDrain();
        QVERIFY(engine.timer()->isActive());
        const int before = rig.workspace.listingCount();
        for (int i = 0; i < ticks; ++i)
            rig.clock.advance(step), engine.tick();
        QCOMPARE(rig.workspace.listingCount() - before, sweeps);
    }

    // Also for an app stamped by a deactivation, which has no first-seen time.
    void resetRestartsCountdownAndGrace() {
        EngineRig rig(1);
        rig.store->setInteger("launchGraceMinutes", 5);
        const auto registered = rig.workspace.add({.name = "Registered"});
        const auto front = rig.workspace.add({.name = "Front"});
        auto& engine = rig.startAndDrain();
        const auto late = rig.workspace.add({.name = "Late"});
        rig.workspace.activate(late);
        rig.workspace.activate(front);
        EngineRig::drain();
        rig.clock.advance(400);
        engine.resetAllTimers();
        for (const auto& app : {registered, front, late})
            QVERIFY(rig.stamp(app) == rig.clock.now() && rig.firstSeen(app) == rig.clock.now());
        rig.sweepAfter(200); // idle past the timeout, inside the restarted grace
        QVERIFY(rig.workspace.requests().isEmpty());
        rig.sweepAfter(101);
        QVERIFY(rig.asked(registered).size() == 1 && rig.asked(late).size() == 1);
        QVERIFY(rig.asked(front).isEmpty());
    }

    // With a 60 min default, Editor's own timeout decides for Editor alone, through the same
    // rule as its countdown; taken away, Editor follows the default again.
    void ownTimeouts_data() {
        addRows<OwnTimeoutRow>({
            {"own shorter, past it", {20, 21, true, false}},
            {"own shorter, before it", {20, 19, false, false}},
            {"own longer, past the default", {120, 61, false, true}},
            {"own longer, past it", {120, 121, true, true}},
            {"below the range counts as 15 min", {1, 16, true, false}},
            {"removed: the default again", {-1, 61, true, true}},
        });
    }
    void ownTimeouts() {
        QFETCH(OwnTimeoutRow, row);
        const auto& [own, minutes, editorAsked, otherAsked] = row;
        EngineRig rig(60);
        const auto editor = rig.workspace.add({.name = "Editor"});
        const auto other = rig.workspace.add({.name = "Other"});
        auto& engine = rig.startAndDrain();
        engine.setAppTimeout("Editor", own > 0 ? std::optional(own) : std::optional<qint64>(240));
        if (own < 0)
            engine.setAppTimeout("Editor", std::nullopt);
        // A fresh engine reads the same collection back from the store.
        rig.engine.reset();
        rig.startAndDrain();
        rig.clock.advance(minutes * 60);
        const qint64 ownSeconds = own > 0 ? std::max<qint64>(own, 15) * 60 : 3600;
        QCOMPARE(rig.engine->secondsUntilQuit(editor), ownSeconds - qint64(minutes * 60));
        rig.sweepAfter(0);
        QCOMPARE(!rig.asked(editor).isEmpty(), editorAsked);
        QCOMPARE(!rig.asked(other).isEmpty(), otherAsked);
    }

    // Written by hand: numbers beyond the range read as its bounds, anything else is left
    // out and kept aside at the first save, and the good entries apply meanwhile.
    void storedTimeoutsReadSafely() {
        EngineRig rig;
        rig.store->setData("com.Idlewatch.appTimeouts",
                           R"({"A": 5, "B": 1e300, "C": "soon", "D": 90})");
        auto& engine = rig.start();
        QCOMPARE(engine.appTimeouts(),
                 (RunningAppsManager::TimeoutMap{{"A", 15}, {"B", 4320}, {"D", 90}}));
        engine.setAppTimeout("D", std::nullopt);
        QCOMPARE(rig.store.reopen()->data("com.Idlewatch.appTimeouts.unreadable"),
                 std::optional<QByteArray>(R"({"C":"soon"})"));
        QCOMPARE(QJsonDocument::fromJson(*rig.store->data("com.Idlewatch.appTimeouts")).object(),
                 (QJsonObject{{"A", 15}, {"B", 4320}}));
    }
};

QTEST_GUILESS_MAIN(TestSweep)
#include "test_sweep.moc"
