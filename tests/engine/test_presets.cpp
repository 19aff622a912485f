#include "EngineRig.h"

#include "engine/ApplyPreset.h"
#include "preferences/BehaviorPreset.h"

#include <QSignalSpy>
#include <QTest>

class TestPresets : public QObject {
    Q_OBJECT
private slots:
    // For every preset: the eight writes in order, from a store holding other values,
    // then the reset; applying the same preset again writes and resets again.
    void applyPresetWritesEightKeysThenResets() {
        for (const BehaviorPreset& preset : BehaviorPreset::all()) {
            EngineRig rig;
            rig.store->setBoolean("ignoreHiddenApps", !preset.ignoreHiddenApps);
            rig.store->setBoolean("compactRows", !preset.compactRows);
            rig.store->setText("accentColor", "green");
            const auto app = rig.workspace.add({.name = "Editor"});
            auto& engine = rig.startAndDrain();
            QSignalSpy writes(&rig.store.store(), &UserDefaults::changed);
            for (int round = 0; round < 2; ++round) {
                writes.clear();
                rig.clock.advance(1000);
                applyPreset(preset, engine);
                QStringList keys;
                for (const auto& call : writes)
                    keys << call.at(0).toString();
                QCOMPARE(keys, (QStringList{"minutesUntilClose", "countdownWarningMinutes",
                                            "openAppsRefreshSeconds", "launchGraceMinutes",
                                            "ignoreHiddenApps", "compactRows", "sortMode",
                                            "accentColor"}));
                QCOMPARE(rig.stamp(app), rig.clock.now());
                QCOMPARE(engine.firstSeenApps().value(app), rig.clock.now());
            }
            const UserDefaults& s = *rig.store;
            QCOMPARE(s.integer("minutesUntilClose"), preset.minutesUntilClose);
            QCOMPARE(s.integer("countdownWarningMinutes"), preset.countdownWarningMinutes);
            QCOMPARE(s.integer("openAppsRefreshSeconds"), preset.openAppsRefreshSeconds);
            QCOMPARE(s.integer("launchGraceMinutes"), preset.launchGraceMinutes);
            QCOMPARE(s.boolean("ignoreHiddenApps"), preset.ignoreHiddenApps);
            QCOMPARE(s.boolean("compactRows"), preset.compactRows);
            QCOMPARE(s.text("sortMode"), preset.sortMode);
            QCOMPARE(s.text("accentColor"), QString("gold"));
            QVERIFY(!s.contains("quittingEnabled") && !s.contains("newAppsEnabled"));
        }
        // The one the user reads about: Deep Clean is the shortest.
        const BehaviorPreset* deep = BehaviorPreset::find("deepClean");
        QVERIFY(deep && deep->minutesUntilClose == 5 && deep->launchGraceMinutes == 1 &&
                deep->openAppsRefreshSeconds == 3 && deep->sortMode == "remaining");
    }
};

QTEST_GUILESS_MAIN(TestPresets)
#include "test_presets.moc"
