#include "SettingsRig.h"

#include "preferences/BehaviorPreset.h"
#include "preferences/Preferences.h"

#include <QAbstractButton>
#include <QLabel>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

class TestPresetsPane : public QObject {
    Q_OBJECT
private slots:
    void clickAppliesThePreset_data() {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(BehaviorPreset::all().size()); ++i)
            QTest::newRow(qPrintable(BehaviorPreset::all()[i].id)) << i;
    }
    void clickAppliesThePreset() {
        QFETCH(int, index);
        const BehaviorPreset& preset = BehaviorPreset::all()[index];
        SettingsRig rig;
        // Every key starts at a value no preset uses, so each write shows.
        rig.store->setInteger("minutesUntilClose", 999);
        rig.store->setInteger("countdownWarningMinutes", 99);
        rig.store->setInteger("openAppsRefreshSeconds", 29);
        rig.store->setInteger("launchGraceMinutes", 99);
        rig.store->setBoolean("ignoreHiddenApps", !preset.ignoreHiddenApps);
        rig.store->setBoolean("compactRows", !preset.compactRows);
        rig.store->setText("sortMode", "name");
        rig.store->setText("accentColor", "blue");
        rig.store->setBoolean("forceQuitIfTerminateFails", true);
        rig.store->setInteger("popoverWidth", 500);
        SettingsView& view = rig.open(SettingsPane::presets);
        const RunningApplication app = rig.addTrackedApp("Editor");
        QAbstractButton* row = rig.control<QAbstractButton>(preset.title);
        QVERIFY(row);

        for (int round = 1; round <= 2; ++round) { // twice in a row restarts twice
            rig.clock.advance(100);
            QSignalSpy writes(&*rig.store, &UserDefaults::changed);
            // Click on the row's face away from its centre: the whole row is the target.
            QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(row->width() - 4, 4));
            QCOMPARE(writes.count(), 8);
            QCOMPARE(rig.engine->runningApps().value(app), rig.clock.now());
        }
        QCOMPARE(rig.store->integer("minutesUntilClose"), preset.minutesUntilClose);
        QCOMPARE(rig.store->integer("countdownWarningMinutes"), preset.countdownWarningMinutes);
        QCOMPARE(rig.store->integer("openAppsRefreshSeconds"), preset.openAppsRefreshSeconds);
        QCOMPARE(rig.store->integer("launchGraceMinutes"), preset.launchGraceMinutes);
        QCOMPARE(rig.store->boolean("ignoreHiddenApps"), preset.ignoreHiddenApps);
        QCOMPARE(rig.store->boolean("compactRows"), preset.compactRows);
        QCOMPARE(rig.store->text("sortMode"), preset.sortMode);
        QCOMPARE(rig.store->text("accentColor"), QStringLiteral("gold"));
        QCOMPARE(rig.store->boolean("forceQuitIfTerminateFails"), true);
        QCOMPARE(rig.store->integer("popoverWidth"), qint64(500));

        // The General pane follows at once, split into hours and minutes, and its timeout
        // line shows the same text as the preset row.
        QCOMPARE(rig.control<QSpinBox>("Hours")->value(), preset.minutesUntilClose / 60);
        QCOMPARE(rig.control<QSpinBox>("Minutes")->value(), preset.minutesUntilClose % 60);
        const QString formatted = Preferences::formattedIdleTime(preset.minutesUntilClose);
        QCOMPARE(rig.label("Current timeout: ")->text(), "Current timeout: " + formatted);
        QStringList rowTexts;
        for (QLabel* label : row->findChildren<QLabel*>())
            rowTexts << label->text();
        QVERIFY(rowTexts.contains(formatted));
        Q_UNUSED(view);
    }
};

QTEST_MAIN(TestPresetsPane)
#include "test_presets_pane.moc"
