#include "preferences/BehaviorPreset.h"
#include "preferences/PreferenceKeys.h"
#include "preferences/Preferences.h"
#include "support/TempStore.h"

#include <QTest>

#include <limits>

class TestPreferences : public QObject {
    Q_OBJECT
private slots:
    // The one test of the idle-time migration; the end-to-end test checks that the program
    // runs it at start. A value absent from a row is not stored.
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

    void formattedIdleTime() {
        const QList<std::pair<qint64, QString>> cases{{480, "8h"},
                                                      {90, "1h 30m"},
                                                      {60, "1h"},
                                                      {59, "59m"},
                                                      {0, "1m"},
                                                      {-5, "1m"},
                                                      {4319, "71h 59m"},
                                                      {5000, "72h"},
                                                      {std::numeric_limits<qint64>::max(), "72h"},
                                                      {std::numeric_limits<qint64>::min(), "1m"}};
        for (const auto& [minutes, text] : cases)
            QCOMPARE(Preferences::formattedIdleTime(minutes), text);
    }

    // Unknown names, other cases and none at all draw the default purple.
    void accentColorFallsBackToPurple() {
        const QColor purple = Preferences::accentColor(QStringLiteral("purple"));
        for (const char* name : {"Blue", "", "red"})
            QCOMPARE(Preferences::accentColor(QString::fromLatin1(name)), purple);
        QVERIFY(Preferences::accentColor(QStringLiteral("blue")) != purple);
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
        for (const BehaviorPreset& p : BehaviorPreset::all())
            QVERIFY(inRange(Keys::minutesUntilClose, p.minutesUntilClose) &&
                    inRange(Keys::openAppsRefreshSeconds, p.openAppsRefreshSeconds) &&
                    inRange(Keys::launchGraceMinutes, p.launchGraceMinutes) &&
                    inRange(Keys::countdownWarningMinutes, p.countdownWarningMinutes));
    }
};

QTEST_GUILESS_MAIN(TestPreferences)
#include "test_preferences.moc"
