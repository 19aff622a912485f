#include "preferences/PreferenceKeys.h"
#include "preferences/UserDefaults.h"
#include "support/TempStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>
#include <limits>

namespace {
QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
void writeRaw(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}
QStringList asideFiles(const QString& dir) {
    return QDir(dir).entryList({QStringLiteral("defaults.json.unreadable-*")}, QDir::Files);
}
} // namespace

class TestUserDefaults : public QObject {
    Q_OBJECT
private slots:
    void valuesSurviveARestartWithTheirTypes() {
        TempStore temp;
        const QByteArray blob("\x00\xff{\"a\":true}", 12);
        temp->setInteger("big", std::numeric_limits<qint64>::max());
        temp->setInteger("small", std::numeric_limits<qint64>::min());
        temp->setBoolean("flag", false);
        temp->setText("name", QStringLiteral("Zürich \"quoted\" /path"));
        temp->setData("blob", blob);
        temp->setText("emptyText", QString());

        auto again = temp.reopen();
        QCOMPARE(again->integer("big"), std::numeric_limits<qint64>::max());
        QCOMPARE(again->integer("small"), std::numeric_limits<qint64>::min());
        QCOMPARE(again->boolean("flag"), false);
        QCOMPARE(again->text("name"), QStringLiteral("Zürich \"quoted\" /path"));
        QCOMPARE(again->data("blob"), blob);
        QCOMPARE(again->text("emptyText"), QString());
        QCOMPARE(again->typeOf("flag"), UserDefaults::Type::Boolean);

        // A value is answered only under its own type.
        QVERIFY(!again->boolean("big"));
        QVERIFY(!again->integer("name"));
        QVERIFY(!again->text("blob"));
    }

    void readingNeverWrites() {
        TempStore temp;
        QVERIFY(!temp->contains("minutesUntilClose"));
        Preference<qint64> minutes(*temp, Keys::minutesUntilClose);
        QCOMPARE(minutes.value(), 480);
        QVERIFY(!minutes.isStored());
        QVERIFY(!QFile::exists(temp.path()));

        temp->setBoolean("other", true);
        const QByteArray before = readAll(temp.path());
        QCOMPARE(Preference<QString>(*temp, Keys::sortMode).value(), QStringLiteral("name"));
        QCOMPARE(readAll(temp.path()), before);
        QVERIFY(!temp.reopen()->contains("sortMode"));
    }

    void aValueOfAnotherTypeReadsAsTheDefault() {
        TempStore temp;
        temp->setText("minutesUntilClose", QStringLiteral("90"));
        QCOMPARE(Preference<qint64>(*temp, Keys::minutesUntilClose).value(), 480);
        temp->setInteger("quittingEnabled", 0);
        QCOMPARE(Preference<bool>(*temp, Keys::quittingEnabled).value(), true);
    }

    void everyWriteAnnouncesItsKey() {
        TempStore temp;
        QSignalSpy spy(&temp.store(), &UserDefaults::changed);
        Preference<bool> quitting(*temp, Keys::quittingEnabled);
        quitting.set(false);
        quitting.set(false); // an equal value is still a write
        temp->setInteger("popoverWidth", 400);
        QCOMPARE(spy.count(), 3);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("quittingEnabled"));
        QCOMPARE(spy.at(2).at(0).toString(), QStringLiteral("popoverWidth"));
    }

    void unknownKeysAndFormsArePreserved() {
        TempStore temp;
        writeRaw(temp.path(), R"({"format":"com.Idlewatch.defaults","version":1,"values":{
            "futureKey":{"integer":"7"},
            "strange":{"colour":[1,2,3]},
            "handEdited":{"integer":42}}})");
        auto store = temp.reopen();
        QCOMPARE(store->integer("handEdited"), 42);
        QVERIFY(store->contains("strange"));
        QVERIFY(!store->typeOf("strange"));
        store->setBoolean("quittingEnabled", false);

        const QJsonObject values =
            QJsonDocument::fromJson(readAll(temp.path())).object().value("values").toObject();
        QCOMPARE(values.value("strange").toObject().value("colour").toArray().size(), 3);
        QCOMPARE(temp.reopen()->integer("futureKey"), 7);
    }

    void anUnreadableFileIsKeptAside_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("garbage") << QByteArray("\x01\x02not json at all", 17);
        // Not a raw string: moc counts the braces inside one and would lose the tests below.
        QTest::newRow("truncated") << QByteArray(
            "{\"format\":\"com.Idlewatch.defaults\",\"version\":1,\"values\":{\"a\":{\"integ");
        QTest::newRow("another program's json") << QByteArray(R"({"minutesUntilClose":5})");
        QTest::newRow("empty file") << QByteArray();
    }
    void anUnreadableFileIsKeptAside() {
        QFETCH(QByteArray, content);
        TempStore temp;
        writeRaw(temp.path(), content);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(".*"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(".*"));
        auto store = temp.reopen();
        QVERIFY(store->keys().isEmpty());
        const QStringList aside = asideFiles(temp.dir());
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readAll(temp.dir() + "/" + aside.first()), content);

        store->setInteger("minutesUntilClose", 30);
        QCOMPARE(temp.reopen()->integer("minutesUntilClose"), 30);
    }

    void aFileBrokenWhileRunningIsKeptAsideOnTheNextWrite() {
        TempStore temp;
        temp->setInteger("a", 1);
        writeRaw(temp.path(), "{{{");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(".*"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(".*"));
        temp->setInteger("b", 2);
        QCOMPARE(asideFiles(temp.dir()).size(), 1);
        auto again = temp.reopen();
        QCOMPARE(again->integer("a"), 1); // memory still held it
        QCOMPARE(again->integer("b"), 2);
    }

    void writesFromAnotherInstanceAreMergedNotLost() {
        TempStore temp;
        auto other = temp.reopen();
        QSignalSpy spy(&temp.store(), &UserDefaults::changed);
        other->setText("sortMode", QStringLiteral("recent"));
        temp->setInteger("popoverWidth", 360);
        auto third = temp.reopen();
        QCOMPARE(third->text("sortMode"), QStringLiteral("recent"));
        QCOMPARE(third->integer("popoverWidth"), 360);
        // The first instance learned of the other's key when it wrote.
        QCOMPARE(temp->text("sortMode"), QStringLiteral("recent"));
        QCOMPARE(spy.count(), 2);
    }

    void concurrentWritersFromTwoProcessesKeepBothKeys() {
        TempStore temp;
        const QString self = QCoreApplication::applicationFilePath();
        QProcess a, b;
        a.start(self, {"--writer", temp.path(), "alpha", "300"});
        b.start(self, {"--writer", temp.path(), "beta", "300"});
        QVERIFY(a.waitForFinished(60000));
        QVERIFY(b.waitForFinished(60000));
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(b.exitCode(), 0);
        auto store = temp.reopen();
        QCOMPARE(store->integer("alpha"), 299);
        QCOMPARE(store->integer("beta"), 299);
        QVERIFY(asideFiles(temp.dir()).isEmpty());
    }

    // A writer killed at a random moment leaves either the value before the round or one
    // it wrote, never a broken file, and does not keep the next writer out for long.
    void aWriterKilledMidWriteLeavesTheOldOrNewValue() {
        TempStore temp;
        const QString self = QCoreApplication::applicationFilePath();
        qint64 before = 0;
        QRandomGenerator random(20261206);
        for (int round = 0; round < 40; ++round) {
            QProcess writer;
            writer.start(self, {"--count-up", temp.path()});
            // Kill it at a random moment after its first write.
            QVERIFY(writer.waitForReadyRead(30000));
            QTest::qSleep(int(random.bounded(0, 20)));
            writer.kill();
            QVERIFY(writer.waitForFinished(10000));

            auto store = temp.reopen();
            QVERIFY2(asideFiles(temp.dir()).isEmpty(), "the file was found unreadable");
            const qint64 after = store->integer("counter").value_or(0);
            QVERIFY2(after >= before, "a value went back in time");
            if (after > 0)
                QCOMPARE(store->data("payload").value_or(QByteArray()).size(), 4096);
            before = after;
        }
        QVERIFY2(before > 0, "no writer ever completed a write");
        auto store = temp.reopen();
        store->setInteger("after", 1);
        QVERIFY(store->lastWriteSucceeded());
        QCOMPARE(temp.reopen()->integer("after"), 1);
    }
};

// With --writer FILE KEY COUNT the binary writes KEY = 0..COUNT-1 into FILE and exits,
// playing a second process for the concurrency test.
int main(int argc, char** argv) {
    // With --count-up FILE it increments "counter" in FILE until it is killed.
    if (argc == 3 && QByteArray(argv[1]) == "--count-up") {
        QCoreApplication app(argc, argv);
        UserDefaults store(QString::fromLocal8Bit(argv[2]));
        store.setData("payload", QByteArray(4096, 'x'));
        qint64 n = store.integer("counter").value_or(0);
        store.setInteger("counter", ++n);
        fputs("writing\n", stdout);
        fflush(stdout);
        for (;;)
            store.setInteger("counter", ++n);
    }
    if (argc == 5 && QByteArray(argv[1]) == "--writer") {
        QCoreApplication app(argc, argv);
        UserDefaults store(QString::fromLocal8Bit(argv[2]));
        const QString key = QString::fromLocal8Bit(argv[3]);
        const int count = QByteArray(argv[4]).toInt();
        for (int i = 0; i < count; ++i)
            store.setInteger(key, i);
        return store.lastWriteSucceeded() ? 0 : 1;
    }
    QCoreApplication app(argc, argv);
    TestUserDefaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_user_defaults.moc"
