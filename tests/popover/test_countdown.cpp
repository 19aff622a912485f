#include "popover/Countdown.h"
#include "preferences/PreferenceKeys.h"

#include <QTest>

#include <limits>

class TestCountdown : public QObject {
    Q_OBJECT
private slots:
    void texts_data();
    void texts();
    void warning_data();
    void warning();
};

void TestCountdown::texts_data() {
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("style");
    QTest::addColumn<bool>("showSeconds");
    QTest::addColumn<QString>("text");
    const QString verbose = QStringLiteral("verbose"), compact = QStringLiteral("compact");
    QTest::newRow("hours and minutes") << qint64(7260) << verbose << true << "2h 1m left";
    QTest::newRow("hours and minutes compact") << qint64(7260) << compact << true << "2h 1m";
    QTest::newRow("whole hours") << qint64(7200) << verbose << true << "2h left";
    QTest::newRow("whole hours compact") << qint64(7200) << compact << true << "2h";
    QTest::newRow("exactly an hour") << qint64(3600) << verbose << true << "1h left";
    QTest::newRow("seconds past the hour dropped") << qint64(3659) << verbose << true << "1h left";
    QTest::newRow("under an hour") << qint64(3599) << verbose << true << "59m left";
    QTest::newRow("under an hour compact") << qint64(3599) << compact << true << "59m";
    QTest::newRow("one minute") << qint64(60) << verbose << true << "1m left";
    QTest::newRow("minutes truncated") << qint64(119) << verbose << true << "1m left";
    QTest::newRow("seconds") << qint64(59) << verbose << true << "59s left";
    QTest::newRow("seconds compact") << qint64(59) << compact << true << "59s";
    QTest::newRow("no seconds") << qint64(59) << verbose << false << "less than 1m left";
    QTest::newRow("no seconds compact") << qint64(59) << compact << false << "<1m";
    QTest::newRow("overdue") << qint64(-30) << verbose << true << "0s left";
    QTest::newRow("overdue no seconds") << qint64(-30) << compact << false << "<1m";
    QTest::newRow("style is case-sensitive") << qint64(7200) << "Compact" << true << "2h left";
    QTest::newRow("unknown style") << qint64(60) << "" << true << "1m left";
    QTest::newRow("largest") << std::numeric_limits<qint64>::max() << compact << true
                             << "2562047788015215h 30m";
    QTest::newRow("most negative")
        << std::numeric_limits<qint64>::min() << verbose << true << "0s left";
}

void TestCountdown::texts() {
    QFETCH(qint64, seconds);
    QFETCH(QString, style);
    QFETCH(bool, showSeconds);
    QFETCH(QString, text);
    QCOMPARE(Countdown::formatTime(seconds, style, showSeconds), text);
}

void TestCountdown::warning_data() {
    QTest::addColumn<qint64>("remaining");
    QTest::addColumn<qint64>("warningMinutes");
    QTest::addColumn<bool>("warning");
    QTest::newRow("just under") << qint64(3599) << qint64(60) << true;
    QTest::newRow("at the threshold") << qint64(3600) << qint64(60) << false;
    QTest::newRow("zero acts as one minute") << qint64(59) << qint64(0) << true;
    QTest::newRow("zero acts as one minute, above") << qint64(60) << qint64(0) << false;
    QTest::newRow("negative acts as one minute") << qint64(60) << qint64(-10) << false;
    QTest::newRow("overdue") << qint64(-5) << qint64(1) << true;
    // Beyond its range a threshold acts as the largest the settings offer.
    const qint64 largest = Keys::countdownWarningMinutes.range().maximum * 60;
    QTest::newRow("huge threshold, under the largest")
        << largest - 1 << std::numeric_limits<qint64>::max() << true;
    QTest::newRow("huge threshold, beyond the largest")
        << largest << std::numeric_limits<qint64>::max() << false;
}

void TestCountdown::warning() {
    QFETCH(qint64, remaining);
    QFETCH(qint64, warningMinutes);
    QFETCH(bool, warning);
    QCOMPARE(Countdown::isWarning(remaining, warningMinutes), warning);
}

QTEST_APPLESS_MAIN(TestCountdown)
#include "test_countdown.moc"
