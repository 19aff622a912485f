#include "EngineRig.h"

#include "engine/ApplyPreset.h"
#include "preferences/BehaviorPreset.h"

namespace {

using S = std::optional<QString>;
const S kOwn = QStringLiteral("com.Idlewatch.Idlewatch");

using BlockRow = std::tuple<S, AppRole, bool, bool, S, bool>;
using PresetRow = std::tuple<QList<qint64>, bool, QString>;

} // namespace

class TestRegistry : public QObject {
    Q_OBJECT
private slots:
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
