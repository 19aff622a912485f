#include "preferences/BehaviorPreset.h"
#include "preferences/PreferenceKeys.h"
#include "preferences/Preferences.h"
#include "support/TempStore.h"

#include <QTest>

#include <limits>

class TestPreferences : public QObject {
    Q_OBJECT
private slots:
    void migrationConvertsLegacyHoursOnce_data() {
        QTest::addColumn<qint64>("hours");
        QTest::addColumn<qint64>("minutes");
        QTest::newRow("2 hours") << qint64(2) << qint64(120);
        QTest::newRow("0 hours") << qint64(0) << qint64(1);
        QTest::newRow("negative") << qint64(-3) << qint64(1);
        QTest::newRow("100 hours") << qint64(100) << qint64(4320);
        QTest::newRow("72 hours") << qint64(72) << qint64(4320);
        QTest::newRow("product overflows")
            << std::numeric_limits<qint64>::max() / 59 << qint64(4320);
        QTest::newRow("max") << std::numeric_limits<qint64>::max() << qint64(4320);
        QTest::newRow("min") << std::numeric_limits<qint64>::min() << qint64(1);
    }
    void migrationConvertsLegacyHoursOnce() {
        QFETCH(qint64, hours);
        QFETCH(qint64, minutes);
        TempStore temp;
        temp->setInteger("hoursUntilClose", hours);
        Preferences::migrateIdleTimePreferenceIfNeeded(*temp);
        QCOMPARE(temp->integer("minutesUntilClose"), minutes);
        QCOMPARE(temp->integer("hoursUntilClose"), hours);

        // The converted value now blocks the migration: a new legacy value is ignored.
        temp->setInteger("hoursUntilClose", 5);
        Preferences::migrateIdleTimePreferenceIfNeeded(*temp);
        QCOMPARE(temp->integer("minutesUntilClose"), minutes);
    }

    void migrationLeavesOtherStatesAlone() {
        {
            TempStore temp; // nothing stored: nothing written
            Preferences::migrateIdleTimePreferenceIfNeeded(*temp);
            QVERIFY(temp->keys().isEmpty());
        }
        {
            TempStore temp; // text under the new key blocks the migration
            temp->setText("minutesUntilClose", QStringLiteral("soon"));
            temp->setInteger("hoursUntilClose", 2);
            Preferences::migrateIdleTimePreferenceIfNeeded(*temp);
            QCOMPARE(temp->text("minutesUntilClose"), QStringLiteral("soon"));
            QVERIFY(!temp->integer("minutesUntilClose"));
        }
        {
            TempStore temp; // a user-set value wins
            temp->setInteger("minutesUntilClose", 30);
            temp->setInteger("hoursUntilClose", 2);
            Preferences::migrateIdleTimePreferenceIfNeeded(*temp);
            QCOMPARE(temp->integer("minutesUntilClose"), 30);
        }
        {
            TempStore temp; // a legacy value that is not an integer
            temp->setText("hoursUntilClose", QStringLiteral("2"));
            Preferences::migrateIdleTimePreferenceIfNeeded(*temp);
            QVERIFY(!temp->contains("minutesUntilClose"));
        }
    }

    void formattedIdleTime_data() {
        QTest::addColumn<qint64>("minutes");
        QTest::addColumn<QString>("text");
        QTest::newRow("480") << qint64(480) << "8h";
        QTest::newRow("90") << qint64(90) << "1h 30m";
        QTest::newRow("61") << qint64(61) << "1h 1m";
        QTest::newRow("60") << qint64(60) << "1h";
        QTest::newRow("59") << qint64(59) << "59m";
        QTest::newRow("45") << qint64(45) << "45m";
        QTest::newRow("1") << qint64(1) << "1m";
        QTest::newRow("0") << qint64(0) << "1m";
        QTest::newRow("-5") << qint64(-5) << "1m";
        QTest::newRow("4319") << qint64(4319) << "71h 59m";
        QTest::newRow("5000") << qint64(5000) << "72h";
        QTest::newRow("max") << std::numeric_limits<qint64>::max() << "72h";
        QTest::newRow("min") << std::numeric_limits<qint64>::min() << "1m";
    }
    void formattedIdleTime() {
        QFETCH(qint64, minutes);
        QFETCH(QString, text);
        QCOMPARE(Preferences::formattedIdleTime(minutes), text);
    }

    void accentColorLookup() {
        const QColor purple = Preferences::accentColor(QStringLiteral("purple"));
        QCOMPARE(Preferences::accentColor(QStringLiteral("Blue")), purple);
        QCOMPARE(Preferences::accentColor(QString()), purple);
        QCOMPARE(Preferences::accentColor(QStringLiteral("red")), purple);
        QCOMPARE(Preferences::accentColor(QStringLiteral("gold")),
                 QColor::fromRgbF(0.95f, 0.63f, 0.18f, 1.0f));
        // Every offered name draws a colour of its own.
        QSet<QRgb> seen;
        for (const char* name : Preferences::kOfferedAccentColors)
            seen.insert(Preferences::accentColor(QString::fromLatin1(name)).rgba());
        seen.insert(Preferences::accentColor(QStringLiteral("gold")).rgba());
        QCOMPARE(seen.size(), 7);
    }

    void theKeyTableAgreesWithItsBindings() {
        TempStore temp;
        QCOMPARE(Keys::all().size(), std::size_t(23));
        QSet<QString> names;
        for (const Keys::Entry& entry : Keys::all())
            names.insert(QString::fromLatin1(entry.name));
        QCOMPARE(names.size(), 23);
        // Spot-check the defaults through the typed bindings every reader uses.
        QCOMPARE(Preference<qint64>(*temp, Keys::openAppsRefreshSeconds).value(), 5);
        QCOMPARE(Preference<QString>(*temp, Keys::accentColor).value(), QStringLiteral("purple"));
        QCOMPARE(Preference<bool>(*temp, Keys::menuBarIconTemplate).value(), true);
        QVERIFY(Preference<QByteArray>(*temp, Keys::toggleStatus).value().isEmpty());
    }

    // A default or a preset outside its key's range would be clamped where it is used and
    // shown otherwise than it was meant.
    void defaultsAndPresetsLieInTheirRanges() {
        const auto inRange = [](const PreferenceKey<qint64>& key, qint64 value) {
            return key.range().clamp(value) == value;
        };
        for (const auto* key : {&Keys::minutesUntilClose, &Keys::openAppsRefreshSeconds,
                                &Keys::launchGraceMinutes, &Keys::popoverWidth, &Keys::rowIconSize,
                                &Keys::countdownWarningMinutes, &Keys::menuBarIconSize})
            QVERIFY2(inRange(*key, key->defaultValue), key->name);
        for (const BehaviorPreset& preset : BehaviorPreset::all()) {
            QVERIFY(inRange(Keys::minutesUntilClose, preset.minutesUntilClose));
            QVERIFY(inRange(Keys::openAppsRefreshSeconds, preset.openAppsRefreshSeconds));
            QVERIFY(inRange(Keys::launchGraceMinutes, preset.launchGraceMinutes));
            QVERIFY(inRange(Keys::countdownWarningMinutes, preset.countdownWarningMinutes));
        }
    }
};

QTEST_GUILESS_MAIN(TestPreferences)
#include "test_preferences.moc"
