#include "SettingsRig.h"

#include "settings/Controls.h"

#include "popover/AppRow.h"
#include "popover/ContentView.h"
#include "popover/Countdown.h"
#include "ui/Artwork.h"
#include "ui/ExclusionList.h"

#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>
#include <QTest>

#include <limits>

class TestAppearancePanes : public QObject {
    Q_OBJECT
private slots:
    // A stored value outside its key's range (written by another tool or version) shows
    // clamped in its control exactly as the popover, the tray icon and the countdowns
    // use it, and only a change by the user writes anything.
    void outOfRangeValuesShowAsTheyAreUsed_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("key");
        QTest::addColumn<qint64>("stored");
        const qint64 huge = std::numeric_limits<qint64>::max();
        const qint64 tiny = std::numeric_limits<qint64>::min();
        for (const qint64 stored : {qint64(-5), qint64(1000), huge, tiny}) {
            const QByteArray n = QByteArray::number(stored);
            QTest::newRow("popover width " + n) << "Popover width"
                                                << "popoverWidth" << stored;
            QTest::newRow("app icon size " + n) << "App icon size"
                                                << "rowIconSize" << stored;
            QTest::newRow("bold countdown " + n) << "Bold countdown under"
                                                 << "countdownWarningMinutes" << stored;
            QTest::newRow("menu bar icon " + n) << "Icon size"
                                                << "menuBarIconSize" << stored;
            QTest::newRow("launch grace " + n) << "Launch grace period"
                                               << "launchGraceMinutes" << stored;
            QTest::newRow("refresh " + n) << "Refresh running apps every"
                                          << "openAppsRefreshSeconds" << stored;
        }
    }
    void outOfRangeValuesShowAsTheyAreUsed() {
        QFETCH(QString, control);
        QFETCH(QString, key);
        QFETCH(qint64, stored);
        SettingsRig rig;
        const RunningApplication app = rig.workspace.add({.name = "Editor"});
        const QString excluded = rig.addEntry("org.example.Mail", "Mail");
        rig.store->setInteger(key, stored);
        rig.open();
        rig.engine->addExcludedApp(excluded);
        QSpinBox* spin = rig.control<QSpinBox>(control);
        QVERIFY(spin);
        const int shown = spin->value();
        QVERIFY(shown >= spin->minimum() && shown <= spin->maximum());

        ContentView popover(*rig.engine);
        if (key == "popoverWidth")
            QCOMPARE(popover.contentWidth(), shown);
        if (key == "rowIconSize") {
            QCOMPARE(popover.rows().value(0)->iconLabel()->width(), shown);
            QCOMPARE(popover.exclusionList()->rows().value(0)->currentIconEdge(),
                     std::max(shown - 8, 16));
        }
        if (key == "menuBarIconSize")
            QCOMPARE(Artwork::clampedMenuBarIconSize(stored), shown);
        if (key == "countdownWarningMinutes") {
            QVERIFY(Countdown::isWarning(qint64(shown) * 60 - 1, stored));
            QVERIFY(!Countdown::isWarning(qint64(shown) * 60, stored));
        }
        QCOMPARE(rig.store->integer(key), stored); // showing writes nothing
        Q_UNUSED(app);

        // A step goes from what is shown and stays inside the range.
        if (shown > spin->minimum()) {
            spin->stepDown();
            QCOMPARE(rig.store->integer(key), qint64(shown - spin->singleStep()));
        }
    }

    void bothEmptyStateSwitchesAreOneKey() {
        SettingsRig rig;
        rig.open();
        QCheckBox* appearance =
            rig.control<QCheckBox>("Show empty state when no apps are counting down");
        QCheckBox* menuBar = rig.control<QCheckBox>("Show empty state");
        QVERIFY(appearance->isChecked() && menuBar->isChecked());
        QVERIFY(!rig.store->contains("showEmptyState")); // showing a default writes nothing
        menuBar->click();
        QCOMPARE(rig.store->boolean("showEmptyState"), false);
        QVERIFY(!appearance->isChecked());
        appearance->click();
        QCOMPARE(rig.store->boolean("showEmptyState"), true);
        QVERIFY(menuBar->isChecked());
    }

    // Only the swatch of the stored name carries the ring.
    void swatchRing_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("ringed");
        QTest::newRow("nothing stored") << QString() << "purple";
        QTest::newRow("graphite") << "graphite"
                                  << "graphite";
        QTest::newRow("gold") << "gold" << QString();
        QTest::newRow("capitalised") << "Blue" << QString();
    }
    void swatchRing() {
        QFETCH(QString, stored);
        QFETCH(QString, ringed);
        SettingsRig rig;
        if (!stored.isNull())
            rig.store->setText("accentColor", stored);
        rig.open();
        const QList<AccentSwatch*> swatches = rig.view->findChildren<AccentSwatch*>();
        QStringList withRing;
        for (AccentSwatch* swatch : swatches)
            if (swatch->isRinged())
                withRing << swatch->name();
        QCOMPARE(withRing, ringed.isEmpty() ? QStringList() : QStringList{ringed});

        rig.control<AccentSwatch>("green")->click();
        QCOMPARE(rig.store->text("accentColor"), QStringLiteral("green"));
        for (AccentSwatch* swatch : swatches)
            QCOMPARE(swatch->isRinged(), swatch->name() == "green");
    }

    void pickersWriteAndFollowTheirKeys() {
        SettingsRig rig;
        rig.open();
        auto* sort = rig.control<SegmentedPicker>("Sort apps by");
        QCOMPARE(sort->selectedValue(), QStringLiteral("name"));
        QTest::mouseClick(sort->segment("remaining"), Qt::LeftButton);
        QCOMPARE(rig.store->text("sortMode"), QStringLiteral("remaining"));
        QCOMPARE(sort->selectedValue(), QStringLiteral("remaining"));
        // Clicking the selected segment keeps it selected.
        QTest::mouseClick(sort->segment("remaining"), Qt::LeftButton);
        QVERIFY(sort->segment("remaining")->isChecked());
        rig.store->setText("sortMode", "bogus");
        QCOMPARE(sort->selectedValue(), QString());
        rig.store->setText("sortMode", "recent");
        QCOMPARE(sort->selectedValue(), QStringLiteral("recent"));

        QTest::mouseClick(rig.control<SegmentedPicker>("Countdown style")->segment("compact"),
                          Qt::LeftButton);
        QCOMPARE(rig.store->text("countdownStyle"), QStringLiteral("compact"));
    }
};

QTEST_MAIN(TestAppearancePanes)
#include "test_appearance_panes.moc"
