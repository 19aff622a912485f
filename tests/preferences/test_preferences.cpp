#include "preferences/BehaviorPreset.h"
#include "preferences/PreferenceKeys.h"
#include "preferences/Preferences.h"
#include "support/TempStore.h"

#include <QTest>

#include <limits>

class TestPreferences : public QObject {
    Q_OBJECT
private slots:
    // The one test of the idle-time migration; the program runs it once at start
    // (tests/app/test_startup.cpp). A value absent from a row is not stored.
    void migrationConvertsLegacyHoursOnce_data() {
        QTest::addColumn<QVariant>("legacy");
        QTest::addColumn<QVariant>("current");
        QTest::addColumn<QVariant>("migrated");
        const auto hours = [](qint64 h, qint64 minutes) {
            return QList<QVariant>{h, QVariant(), minutes};
        };
        const QList<std::pair<const char*, QList<QVariant>>> rows{
            {"2 hours", hours(2, 120)},
            {"0 hours", hours(0, 1)},
            {"negative", hours(-3, 1)},
            {"100 hours", hours(100, 4320)},
            {"72 hours", hours(72, 4320)},
            {"product overflows", hours(std::numeric_limits<qint64>::max() / 59, 4320)},
            {"max", hours(std::numeric_limits<qint64>::max(), 4320)},
            {"min", hours(std::numeric_limits<qint64>::min(), 1)},
            {"nothing stored", {QVariant(), QVariant(), QVariant()}},
            {"user-set value wins", {qint64(2), qint64(30), qint64(30)}},
            {"text under the new key blocks it", {qint64(2), "soon", "soon"}},
            {"legacy value not an integer", {"2", QVariant(), QVariant()}},
        };
        for (const auto& [name, row] : rows)
            QTest::newRow(name) << row[0] << row[1] << row[2];
    }
    void migrationConvertsLegacyHoursOnce() {
        QFETCH(QVariant, legacy);
        QFETCH(QVariant, current);
        QFETCH(QVariant, migrated);
        TempStore temp;
        const auto store = [&](const QString& key, const QVariant& value) {
            if (value.typeId() == QMetaType::LongLong)
                temp->setInteger(key, value.toLongLong());
            else if (value.isValid())
                temp->setText(key, value.toString());
        };
        const auto stored = [&](const QString& key) -> QVariant {
            if (const auto i = temp->integer(key))
                return *i;
            if (const auto t = temp->text(key))
                return *t;
            return temp->contains(key) ? QVariant(QStringLiteral("?")) : QVariant();
        };
        store(QStringLiteral("hoursUntilClose"), legacy);
        store(QStringLiteral("minutesUntilClose"), current);
        const QStringList keysBefore = temp->keys();

        Preferences::migrateIdleTimePreferenceIfNeeded(*temp);
        QCOMPARE(stored(QStringLiteral("minutesUntilClose")), migrated);
        QCOMPARE(stored(QStringLiteral("hoursUntilClose")), legacy); // never removed
        if (!migrated.isValid())
            QCOMPARE(temp->keys(), keysBefore); // nothing written

        // A converted value blocks the migration: a new legacy value is ignored.
        if (migrated.typeId() == QMetaType::LongLong) {
            temp->setInteger(QStringLiteral("hoursUntilClose"), 5);
            Preferences::migrateIdleTimePreferenceIfNeeded(*temp);
            QCOMPARE(stored(QStringLiteral("minutesUntilClose")), migrated);
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
