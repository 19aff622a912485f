#include "SettingsRig.h"

#include "settings/AppearancePane.h"
#include "settings/BehaviorPane.h"
#include "settings/Controls.h"
#include "settings/MenuBarPane.h"

#include <QCheckBox>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

namespace {
Stepper* stepperNamed(SettingsRig& rig, const QString& name) {
    for (SettingsPane pane : SettingsPanes::all())
        for (Stepper* stepper : rig.view->paneBody(pane)->findChildren<Stepper*>())
            if (stepper->accessibleName() == name)
                return stepper;
    return nullptr;
}
} // namespace

class TestAppearancePanes : public QObject {
    Q_OBJECT
private slots:
    // Each stepper shows the raw stored number with its unit and stops at its bounds.
    void steppers_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("atDefault");
        QTest::addColumn<qint64>("minimum");
        QTest::addColumn<qint64>("maximum");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<qint64>("step");
        QTest::newRow("popover width")
            << "Popover width"
            << "popoverWidth"
            << "320px" << qint64(280) << qint64(520) << "px" << qint64(20);
        QTest::newRow("app icon size") << "App icon size"
                                       << "rowIconSize"
                                       << "28px" << qint64(20) << qint64(40) << "px" << qint64(2);
        QTest::newRow("bold countdown") << "Bold countdown under"
                                        << "countdownWarningMinutes"
                                        << "60m" << qint64(1) << qint64(180) << "m" << qint64(5);
        QTest::newRow("menu bar icon") << "Icon size"
                                       << "menuBarIconSize"
                                       << "18px" << qint64(14) << qint64(24) << "px" << qint64(1);
        QTest::newRow("launch grace") << "Launch grace period"
                                      << "launchGraceMinutes"
                                      << "0m" << qint64(0) << qint64(120) << "m" << qint64(1);
        QTest::newRow("refresh") << "Refresh running apps every"
                                 << "openAppsRefreshSeconds"
                                 << "5s" << qint64(1) << qint64(30) << "s" << qint64(1);
    }
    void steppers() {
        QFETCH(QString, name);
        QFETCH(QString, key);
        QFETCH(QString, atDefault);
        QFETCH(qint64, minimum);
        QFETCH(qint64, maximum);
        QFETCH(QString, suffix);
        QFETCH(qint64, step);
        SettingsRig rig;
        rig.open();
        Stepper* stepper = stepperNamed(rig, name);
        QVERIFY(stepper);
        QCOMPARE(stepper->valueLabel()->text(), atDefault);
        QVERIFY(!rig.store->contains(key));

        QTest::mouseClick(stepper->incrementButton(), Qt::LeftButton);
        const qint64 stepped = rig.store->integer(key).value_or(-1);
        QCOMPARE(stepped, std::min(atDefault.chopped(suffix.size()).toLongLong() + step, maximum));

        rig.store->setInteger(key, maximum);
        QVERIFY(!stepper->incrementButton()->isEnabled());
        QCOMPARE(stepper->valueLabel()->text(), QString::number(maximum) + suffix);
        rig.store->setInteger(key, minimum + 1);
        QTest::mouseClick(stepper->decrementButton(), Qt::LeftButton);
        QCOMPARE(rig.store->integer(key), minimum); // a step never leaves the range
        QVERIFY(!stepper->decrementButton()->isEnabled());
        QCOMPARE(stepper->valueLabel()->text(), QString::number(minimum) + suffix);
    }

    void bothEmptyStateSwitchesAreOneKey() {
        SettingsRig rig;
        rig.open();
        QCheckBox* appearance =
            rig.pane<AppearancePane>(SettingsPane::appearance).showEmptyStateToggle();
        QCheckBox* menuBar = rig.pane<MenuBarPane>(SettingsPane::menuBar).showEmptyStateToggle();
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
        QTest::newRow("unknown") << "red" << QString();
    }
    void swatchRing() {
        QFETCH(QString, stored);
        QFETCH(QString, ringed);
        SettingsRig rig;
        if (!stored.isNull())
            rig.store->setText("accentColor", stored);
        rig.open();
        auto& pane = rig.pane<AppearancePane>(SettingsPane::appearance);
        QStringList names;
        QStringList withRing;
        for (AccentSwatch* swatch : pane.swatches()) {
            names << swatch->name();
            if (swatch->isRinged())
                withRing << swatch->name();
            QCOMPARE(swatch->toolTip(), swatch->name());
        }
        QCOMPARE(names, (QStringList{"purple", "blue", "green", "orange", "pink", "graphite"}));
        QCOMPARE(withRing, ringed.isEmpty() ? QStringList() : QStringList{ringed});

        pane.swatches()[2]->click();
        QCOMPARE(rig.store->text("accentColor"), QStringLiteral("green"));
        for (AccentSwatch* swatch : pane.swatches())
            QCOMPARE(swatch->isRinged(), swatch->name() == "green");
    }

    void pickersWriteAndFollowTheirKeys() {
        SettingsRig rig;
        rig.open();
        auto& pane = rig.pane<AppearancePane>(SettingsPane::appearance);
        SegmentedPicker* sort = pane.sortModePicker();
        QCOMPARE(sort->selectedValue(), QStringLiteral("name"));
        QTest::mouseClick(sort->segment("remaining"), Qt::LeftButton);
        QCOMPARE(rig.store->text("sortMode"), QStringLiteral("remaining"));
        QCOMPARE(sort->selectedValue(), QStringLiteral("remaining"));
        // Clicking the selected segment keeps it selected.
        QTest::mouseClick(sort->segment("remaining"), Qt::LeftButton);
        QVERIFY(sort->segment("remaining")->isChecked());
        rig.store->setText("sortMode", "bogus");
        QCOMPARE(sort->selectedValue(), QString());

        SegmentedPicker* style = pane.countdownStylePicker();
        QStringList titles;
        for (QAbstractButton* segment : style->segments())
            titles << segment->text();
        QCOMPARE(titles, (QStringList{"Verbose", "Compact"}));
        QTest::mouseClick(style->segment("compact"), Qt::LeftButton);
        QCOMPARE(rig.store->text("countdownStyle"), QStringLiteral("compact"));
    }
};

QTEST_MAIN(TestAppearancePanes)
#include "test_appearance_panes.moc"
