#include "SettingsRig.h"

#include "settings/Controls.h"
#include "settings/GeneralPane.h"

#include "preferences/PreferenceKeys.h"
#include "preferences/Preferences.h"

#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

namespace {
constexpr qint64 kAbsent = -999;

enum class Edit { TypeHours, TypeMinutes, HoursUp, HoursDown, MinutesUp, MinutesDown };

void type(QLineEdit* field, const QString& text) {
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}
} // namespace

Q_DECLARE_METATYPE(Edit)

class TestGeneralPane : public QObject {
    Q_OBJECT
private slots:
    // Every edit path ends in one clamped write, and only a change resets the timers.
    void idleTimeEdits_data() {
        QTest::addColumn<qint64>("start");
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("stored");
        QTest::addColumn<bool>("reset");
        QTest::addColumn<QString>("hours");
        QTest::addColumn<QString>("minutes");
        QTest::newRow("0 h 0 m stores 1 minute")
            << qint64(60) << Edit::TypeHours << "0" << qint64(1) << true << "0"
            << "1";
        QTest::newRow("0 m typed while 1 minute is stored")
            << qint64(1) << Edit::TypeMinutes << "0" << qint64(1) << false << "0"
            << "1";
        QTest::newRow("0 m stepped while 1 minute is stored")
            << qint64(1) << Edit::MinutesDown << "" << qint64(1) << false << "0"
            << "1";
        QTest::newRow("100 h") << qint64(120) << Edit::TypeHours << "100" << qint64(4320) << true
                               << "72"
                               << "0";
        QTest::newRow("100 h with 30 m is capped")
            << qint64(150) << Edit::TypeHours << "100" << qint64(4320) << true << "72"
            << "0";
        QTest::newRow("72 h with 30 m is capped")
            << qint64(150) << Edit::TypeHours << "72" << qint64(4320) << true << "72"
            << "0";
        QTest::newRow("negative hours")
            << qint64(150) << Edit::TypeHours << "-4" << qint64(30) << true << "0"
            << "30";
        QTest::newRow("negative minutes")
            << qint64(150) << Edit::TypeMinutes << "-4" << qint64(120) << true << "2"
            << "0";
        QTest::newRow("75 m") << qint64(120) << Edit::TypeMinutes << "75" << qint64(179) << true
                              << "2"
                              << "59";
        QTest::newRow("value already stored")
            << qint64(150) << Edit::TypeHours << "2" << qint64(150) << false << "2"
            << "30";
        QTest::newRow("default typed again stays unstored")
            << kAbsent << Edit::TypeHours << "8" << kAbsent << false << "8"
            << "0";
        QTest::newRow("surrounding spaces")
            << qint64(150) << Edit::TypeHours << " 5 " << qint64(330) << true << "5"
            << "30";
        QTest::newRow("not a number")
            << qint64(150) << Edit::TypeHours << "abc" << qint64(150) << false << "2"
            << "30";
        QTest::newRow("empty field")
            << qint64(150) << Edit::TypeMinutes << "" << qint64(150) << false << "2"
            << "30";
        QTest::newRow("too large for any integer")
            << qint64(150) << Edit::TypeHours << "99999999999999999999" << qint64(150) << false
            << "2"
            << "30";
        QTest::newRow("hours stepped up from 2 h 30 m")
            << qint64(150) << Edit::HoursUp << "" << qint64(210) << true << "3"
            << "30";
        QTest::newRow("hours stepped down from 1 h 0 m")
            << qint64(60) << Edit::HoursDown << "" << qint64(1) << true << "0"
            << "1";
        QTest::newRow("minutes stepped up")
            << qint64(150) << Edit::MinutesUp << "" << qint64(151) << true << "2"
            << "31";
        QTest::newRow("stored beyond the range, stepped down")
            << qint64(5000) << Edit::HoursDown << "" << qint64(4320) << true << "72"
            << "0";
    }
    void idleTimeEdits() {
        QFETCH(qint64, start);
        QFETCH(Edit, edit);
        QFETCH(QString, text);
        QFETCH(qint64, stored);
        QFETCH(bool, reset);
        QFETCH(QString, hours);
        QFETCH(QString, minutes);

        SettingsRig rig;
        if (start != kAbsent)
            rig.store->setInteger("minutesUntilClose", start);
        rig.open();
        const RunningApplication app = rig.addTrackedApp("Editor");
        const double stamp = rig.engine->runningApps().value(app);
        rig.clock.advance(100);
        auto& pane = rig.pane<GeneralPane>(SettingsPane::general);

        switch (edit) {
        case Edit::TypeHours:
            type(pane.hoursField(), text);
            break;
        case Edit::TypeMinutes:
            type(pane.minutesField(), text);
            break;
        case Edit::HoursUp:
            QTest::mouseClick(pane.hoursStepper()->incrementButton(), Qt::LeftButton);
            break;
        case Edit::HoursDown:
            QTest::mouseClick(pane.hoursStepper()->decrementButton(), Qt::LeftButton);
            break;
        case Edit::MinutesUp:
            QTest::mouseClick(pane.minutesStepper()->incrementButton(), Qt::LeftButton);
            break;
        case Edit::MinutesDown:
            QTest::mouseClick(pane.minutesStepper()->decrementButton(), Qt::LeftButton);
            break;
        }

        if (stored == kAbsent)
            QVERIFY(!rig.store->contains("minutesUntilClose"));
        else
            QCOMPARE(rig.store->integer("minutesUntilClose"), stored);
        QCOMPARE(rig.engine->runningApps().value(app), reset ? stamp + 100 : stamp);
        QCOMPARE(pane.hoursField()->text(), hours);
        QCOMPARE(pane.minutesField()->text(), minutes);
        const qint64 shown = stored == kAbsent ? 480 : stored;
        QCOMPARE(pane.currentTimeoutLabel()->text(),
                 "Current timeout: " + Preferences::formattedIdleTime(shown));
    }

    void steppersStopAtTheirBounds_data() {
        QTest::addColumn<qint64>("start");
        QTest::addColumn<bool>("hoursUp");
        QTest::addColumn<bool>("hoursDown");
        QTest::addColumn<bool>("minutesUp");
        QTest::addColumn<bool>("minutesDown");
        QTest::newRow("72 h") << qint64(4320) << false << true << true << false;
        QTest::newRow("0 h 1 m") << qint64(1) << true << false << true << true;
        QTest::newRow("71 h 59 m") << qint64(4319) << true << true << false << true;
    }
    void steppersStopAtTheirBounds() {
        QFETCH(qint64, start);
        QFETCH(bool, hoursUp);
        QFETCH(bool, hoursDown);
        QFETCH(bool, minutesUp);
        QFETCH(bool, minutesDown);
        SettingsRig rig;
        rig.store->setInteger("minutesUntilClose", start);
        rig.open();
        auto& pane = rig.pane<GeneralPane>(SettingsPane::general);
        QCOMPARE(pane.hoursStepper()->incrementButton()->isEnabled(), hoursUp);
        QCOMPARE(pane.hoursStepper()->decrementButton()->isEnabled(), hoursDown);
        QCOMPARE(pane.minutesStepper()->incrementButton()->isEnabled(), minutesUp);
        QCOMPARE(pane.minutesStepper()->decrementButton()->isEnabled(), minutesDown);
        // A disabled arrow writes nothing, however often it is clicked.
        QSignalSpy writes(&*rig.store, &UserDefaults::changed);
        for (Stepper* stepper : {pane.hoursStepper(), pane.minutesStepper()})
            for (QToolButton* arrow : {stepper->incrementButton(), stepper->decrementButton()})
                if (!arrow->isEnabled())
                    QTest::mouseClick(arrow, Qt::LeftButton);
        QCOMPARE(writes.count(), 0);
    }

    // A field the user is typing in keeps the typing when the value changes elsewhere.
    void typingSurvivesAWriteFromElsewhere() {
        SettingsRig rig;
        SettingsView& view = rig.open();
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        auto& pane = rig.pane<GeneralPane>(SettingsPane::general);
        QLineEdit* hours = pane.hoursField();
        hours->setFocus();
        QVERIFY(hours->hasFocus());
        hours->selectAll();
        QTest::keyClicks(hours, "3");
        rig.store->setInteger("minutesUntilClose", 90);
        QCOMPARE(hours->text(), QStringLiteral("3"));
        QCOMPARE(pane.minutesField()->text(), QStringLiteral("30"));
        QTest::keyClick(hours, Qt::Key_Return);
        QCOMPARE(rig.store->integer("minutesUntilClose"), qint64(210));
    }
};

QTEST_MAIN(TestGeneralPane)
#include "test_general_pane.moc"
