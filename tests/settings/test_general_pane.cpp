#include "SettingsRig.h"

#include "preferences/Preferences.h"

#include <QSpinBox>
#include <QTest>

namespace {
constexpr qint64 kAbsent = -999;

enum class Edit { TypeHours, TypeMinutes, HoursUp, HoursDown, MinutesUp, MinutesDown };

void type(QSpinBox* field, const QString& text) {
    field->setFocus();
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
    // Every edit ends in one write clamped to the key's range, and only a change resets
    // the timers.
    void idleTimeEdits_data() {
        QTest::addColumn<qint64>("start");
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("stored");
        QTest::addColumn<bool>("reset");
        QTest::newRow("0 h 0 m stores 1 minute")
            << qint64(60) << Edit::TypeHours << "0" << qint64(1) << true;
        QTest::newRow("0 m stepped while 1 minute is stored")
            << qint64(1) << Edit::MinutesDown << "" << qint64(1) << false;
        QTest::newRow("72 h with 30 m is capped")
            << qint64(150) << Edit::TypeHours << "72" << qint64(4320) << true;
        QTest::newRow("value already stored")
            << qint64(150) << Edit::TypeHours << "2" << qint64(150) << false;
        QTest::newRow("default typed again stays unstored")
            << kAbsent << Edit::TypeHours << "8" << kAbsent << false;
        QTest::newRow("minutes typed")
            << qint64(150) << Edit::TypeMinutes << "45" << qint64(165) << true;
        QTest::newRow("hours stepped up")
            << qint64(150) << Edit::HoursUp << "" << qint64(210) << true;
        QTest::newRow("hours stepped down from 1 h 0 m")
            << qint64(60) << Edit::HoursDown << "" << qint64(1) << true;
        QTest::newRow("minutes stepped up")
            << qint64(150) << Edit::MinutesUp << "" << qint64(151) << true;
        // Shown as the clamped 72 h 0 m, as the timeout is used; a step goes from there.
        QTest::newRow("stored beyond the range, stepped down")
            << qint64(5000) << Edit::HoursDown << "" << qint64(4260) << true;
    }
    void idleTimeEdits() {
        QFETCH(qint64, start);
        QFETCH(Edit, edit);
        QFETCH(QString, text);
        QFETCH(qint64, stored);
        QFETCH(bool, reset);

        SettingsRig rig;
        if (start != kAbsent)
            rig.store->setInteger("minutesUntilClose", start);
        SettingsView& view = rig.open();
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        const RunningApplication app = rig.addTrackedApp("Editor");
        const double stamp = rig.engine->runningApps().value(app);
        rig.clock.advance(100);
        QSpinBox* hours = rig.control<QSpinBox>("Hours");
        QSpinBox* minutes = rig.control<QSpinBox>("Minutes");

        switch (edit) {
        case Edit::TypeHours:
            type(hours, text);
            break;
        case Edit::TypeMinutes:
            type(minutes, text);
            break;
        case Edit::HoursUp:
            hours->stepUp();
            break;
        case Edit::HoursDown:
            hours->stepDown();
            break;
        case Edit::MinutesUp:
            minutes->stepUp();
            break;
        case Edit::MinutesDown:
            minutes->stepDown();
            break;
        }

        if (stored == kAbsent)
            QVERIFY(!rig.store->contains("minutesUntilClose"));
        else
            QCOMPARE(rig.store->integer("minutesUntilClose"), stored);
        QCOMPARE(rig.engine->runningApps().value(app), reset ? stamp + 100 : stamp);
        const qint64 shown = stored == kAbsent ? 480 : stored;
        QCOMPARE(hours->value(), shown / 60);
        QCOMPARE(minutes->value(), shown % 60);
        QCOMPARE(rig.label("Current timeout: ")->text(),
                 "Current timeout: " + Preferences::formattedIdleTime(shown));
    }

    // A field the user is typing in keeps the typing when the value changes elsewhere.
    void typingSurvivesAWriteFromElsewhere() {
        SettingsRig rig;
        SettingsView& view = rig.open();
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QSpinBox* hours = rig.control<QSpinBox>("Hours");
        hours->setFocus();
        QVERIFY(hours->hasFocus());
        hours->selectAll();
        QTest::keyClicks(hours, "3");
        rig.store->setInteger("minutesUntilClose", 90);
        QCOMPARE(hours->cleanText(), QStringLiteral("3"));
        QCOMPARE(rig.control<QSpinBox>("Minutes")->value(), 30);
        QTest::keyClick(hours, Qt::Key_Return);
        QCOMPARE(rig.store->integer("minutesUntilClose"), qint64(210));
    }
};

QTEST_MAIN(TestGeneralPane)
#include "test_general_pane.moc"
