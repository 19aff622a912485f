#include "preferences/Preferences.h"
#include "support/TempStore.h"

#include <QTest>

#include <limits>

namespace {
constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();
} // namespace

class TestPreferences : public QObject {
    Q_OBJECT
private slots:
    // The one test of the idle-time migration; the end-to-end test checks that the program
    // runs it at start. An invalid value is not stored. A converted value blocks the
    // migration: a new legacy value is then ignored.
    void migrationConvertsLegacyHoursOnce() {
        const QVariant none;
        const struct {
            QVariant legacy, current, migrated;
        } rows[] = {{qint64(2), none, qint64(120)},
                    {qint64(0), none, qint64(1)},
                    {qint64(-3), none, qint64(1)},
                    {qint64(100), none, qint64(4320)},
                    {kMax / 59, none, qint64(4320)},
                    {kMax, none, qint64(4320)},
                    {kMin, none, qint64(1)},
                    {none, none, none},
                    {qint64(2), qint64(30), qint64(30)},
                    {qint64(2), "soon", "soon"},
                    {"2", none, none}};
        for (const auto& row : rows) {
            TempStore temp;
            for (const auto& [key, value] : {std::pair{"hoursUntilClose", row.legacy},
                                             std::pair{"minutesUntilClose", row.current}})
                if (value.typeId() == QMetaType::LongLong)
                    temp->setInteger(key, value.toLongLong());
                else if (value.isValid())
                    temp->setText(key, value.toString());
            const auto stored = [&] {
                const auto i = temp->integer("minutesUntilClose");
                const auto t = temp->text("minutesUntilClose");
                return i ? QVariant(*i) : t ? QVariant(*t) : QVariant();
            };
            const QStringList keysBefore = temp->keys();
            Preferences::migrateIdleTimePreferenceIfNeeded(*temp);
            QCOMPARE(stored(), row.migrated);
            QVERIFY(row.migrated.isValid() || temp->keys() == keysBefore);
            QCOMPARE(temp->contains("hoursUntilClose"), row.legacy.isValid()); // never removed
            temp->setInteger("hoursUntilClose", 5);
            Preferences::migrateIdleTimePreferenceIfNeeded(*temp);
            QVERIFY(!row.migrated.isValid() || stored() == row.migrated);
        }
    }

    // The idle-time text clamps to 1 to 4320 minutes and drops a zero minute part; an
    // accent name is matched exactly, anything unknown is purple.
    void idleTimeTextAndAccentColours() {
        const std::pair<qint64, const char*> texts[] = {{480, "8h"}, {90, "1h 30m"}, {61, "1h 1m"},
                                                        {45, "45m"}, {60, "1h"},     {0, "1m"},
                                                        {-5, "1m"},  {5000, "72h"}};
        for (const auto& [minutes, text] : texts)
            QCOMPARE(Preferences::formattedIdleTime(minutes), QString::fromLatin1(text));
        const QColor purple = Preferences::accentColor("purple");
        for (const char* name : {"Blue", "", "red"})
            QCOMPARE(Preferences::accentColor(name), purple);
        QVERIFY(Preferences::accentColor("blue") != purple);
        QCOMPARE(Preferences::accentColor("gold"), QColor::fromRgbF(0.95f, 0.63f, 0.18f));
    }
};

QTEST_GUILESS_MAIN(TestPreferences)
#include "test_preferences.moc"
