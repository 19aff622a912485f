#include "EngineRig.h"

#include "engine/ApplyPreset.h"
#include "preferences/BehaviorPreset.h"

#include <QSignalSpy>

namespace {

const QString kToggleKey = QStringLiteral("com.Idlewatch.toggleStatus");
using S = std::optional<QString>;
const S kOwn = QStringLiteral("com.Idlewatch.Idlewatch");

using BlockRow = std::tuple<S, AppRole, bool, bool, S, bool>;
using PresetRow = std::tuple<QList<qint64>, bool, QString>;

} // namespace

class TestRegistry : public QObject {
    Q_OBJECT
private slots:
    // Creation loads both collections before registering, writes one toggle entry per new
    // name (saved once), and stamps every app with one time only after the current work has
    // finished; a second call made before they land wins with its own time.
    void registrationAndDeactivationStamps() {
        EngineRig rig;
        rig.store->setData(kToggleKey, R"({"Editor":true})"); // never overwritten
        rig.store->setData("com.Idlewatch.excludedApps",
                           R"([{"bundleIdentifier":"org.x.Hidden","name":"Hidden","path":"/h"}])");
        rig.store->setBoolean("newAppsEnabled", false);
        for (const char* name : {"App", "App", "Other", "Editor", ""})
            rig.workspace.add({.name = name});
        const auto excluded =
            rig.workspace.add({.name = "Hidden", .applicationId = "org.x.Hidden"});
        QSignalSpy writes(&rig.store.store(), &UserDefaults::changed);
        auto& engine = rig.start();
        const double created = rig.clock.now();
        QVERIFY(engine.runningApps().isEmpty() && writes.count() == 1);
        QCOMPARE(
            RunningAppsManager(rig.workspace, *rig.store.reopen(), rig.clock).toggleStatus(),
            (RunningAppsManager::ToggleMap{{"Editor", true}, {"App", false}, {"Other", false}}));
        rig.clock.advance(30);
        EngineRig::drain();
        QVERIFY(!rig.tracked(excluded) && engine.runningApps().size() == 5);
        for (const auto& app : engine.runningApps().keys())
            QVERIFY(rig.stamp(app) == created && rig.firstSeen(app) == created);
        const auto late = rig.workspace.add({.name = "Late"});
        engine.checkOpenApps();
        QVERIFY(!rig.tracked(late)); // not even a candidate in the sweep that found it
        rig.clock.advance(10);
        engine.addCurrentRunningApps();
        EngineRig::drain();
        QVERIFY(rig.stamp(late) == rig.clock.now() && rig.firstSeen(late) == rig.clock.now());

        // Leaving the foreground stamps the app that left, with the time the posted work
        // runs; one never registered enters without a first-seen time or a toggle entry.
        const auto b = rig.workspace.add({.name = "B"});
        rig.workspace.activate(b);
        rig.workspace.activate(late);                                      // B leaves
        emit rig.workspace.didDeactivateApplication(RunningApplication()); // ignored
        rig.clock.advance(5);
        QVERIFY(!rig.tracked(b));
        EngineRig::drain();
        QVERIFY(rig.stamp(b) == rig.clock.now() && rig.stamp(late) == rig.clock.now() - 5);
        QVERIFY(rig.firstSeen(b) == -1 && !engine.toggleStatus().contains("B"));
    }

    void blockedRule_data() {
        const auto regular = AppRole::Regular;
        const S plain = QStringLiteral("org.x.Plain");
        addRows<BlockRow>({
            {"regular app", {plain, regular, false, false, kOwn, false}},
            {"hidden, not ignored", {plain, regular, true, false, kOwn, false}},
            {"hidden, ignored", {plain, regular, true, true, kOwn, true}},
            {"accessory", {plain, AppRole::Auxiliary, false, false, kOwn, true}},
            {"prohibited", {plain, AppRole::DesktopPart, false, false, kOwn, true}},
            {"ourselves", {kOwn, regular, false, false, kOwn, true}},
            {"no identifier", {S(), regular, false, false, kOwn, false}},
            {"neither has an identifier", {S(), regular, false, false, S(), true}},
            {"excluded", {S("org.x.Excluded"), regular, false, false, kOwn, true}},
            {"excluded, other case", {S("org.x.EXCLUDED"), regular, false, false, kOwn, false}},
        });
    }
    // The rule decides registration and the deactivation stamp alike.
    void blockedRule() {
        QFETCH(BlockRow, row);
        const auto& [identifier, policy, hidden, ignoreHidden, ownIdentifier, blocked] = row;
        EngineRig rig;
        rig.store->setBoolean("ignoreHiddenApps", ignoreHidden);
        rig.store->setData("com.Idlewatch.excludedApps",
                           R"([{"bundleIdentifier":"org.x.Excluded","name":"E","path":"/e"}])");
        rig.workspace.setOwnApplicationId(ownIdentifier);
        const auto app = rig.workspace.add(
            {.name = "Subject", .applicationId = identifier, .policy = policy, .hidden = hidden});
        auto& engine = rig.startAndDrain();
        QCOMPARE(rig.tracked(app), !blocked);
        engine.setRunningApps({});
        rig.workspace.activate(app);
        rig.workspace.activate(rig.workspace.add({.name = "Other"}));
        EngineRig::drain();
        QCOMPARE(rig.tracked(app), !blocked);
        // Tracked from before it became blocked: a sweep drops it instead of asking it.
        engine.setRunningApps({{app, rig.clock.now() - 1e6}});
        rig.sweepAfter(0);
        QCOMPARE(rig.asked(app).isEmpty(), blocked);
    }

    // The three presets against their documented values, written out here by hand: each
    // stores its values and the gold accent, leaves the switches alone, and restarts every
    // countdown.
    void presetsStoreTheirValuesAndRestartCountdowns_data() {
        addRows<PresetRow>({
            {"battery", {{10, 5, 10, 2}, true, "remaining"}},
            {"focus", {{45, 10, 5, 5}, false, "recent"}},
            {"deepClean", {{5, 3, 3, 1}, true, "remaining"}},
        });
    }
    void presetsStoreTheirValuesAndRestartCountdowns() {
        QFETCH(PresetRow, row);
        const auto& [numbers, hiddenAndCompact, sort] = row;
        EngineRig rig;
        UserDefaults& s = *rig.store;
        s.setBoolean("ignoreHiddenApps", !hiddenAndCompact);
        s.setBoolean("compactRows", !hiddenAndCompact);
        s.setText("accentColor", "green");
        const auto app = rig.workspace.add({.name = "Editor"});
        auto& engine = rig.startAndDrain();
        rig.clock.advance(1000);
        applyPreset(*BehaviorPreset::find(QTest::currentDataTag()), engine);
        QVERIFY(rig.stamp(app) == rig.clock.now() && rig.firstSeen(app) == rig.clock.now());
        QCOMPARE(
            (QList<qint64>{*s.integer("minutesUntilClose"), *s.integer("countdownWarningMinutes"),
                           *s.integer("openAppsRefreshSeconds"), *s.integer("launchGraceMinutes")}),
            numbers);
        QVERIFY(s.boolean("ignoreHiddenApps") == hiddenAndCompact &&
                s.boolean("compactRows") == hiddenAndCompact);
        QVERIFY(s.text("sortMode") == sort && s.text("accentColor") == "gold");
        QVERIFY(!s.contains("quittingEnabled") && !s.contains("newAppsEnabled"));
    }
};

QTEST_GUILESS_MAIN(TestRegistry)
#include "test_registry.moc"
