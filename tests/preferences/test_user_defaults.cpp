#include "platform/linux/SafeFile.h"
#include "preferences/PreferenceKeys.h"
#include "preferences/UserDefaults.h"
#include "support/Files.h"
#include "support/TempStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <limits>

#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The files set aside as unreadable next to `path`.
QFileInfoList aside(const QString& path) {
    return QFileInfo(path).dir().entryInfoList({"*.unreadable-*"}, QDir::Files | QDir::System);
}
const QByteArray kHead = R"({"format":"com.Idlewatch.defaults","version":)";

} // namespace

class TestUserDefaults : public QObject {
    Q_OBJECT
private slots:
    // Values keep their types across a restart, answer only under their own type, and a
    // wrong-typed value reads as the key's default. Reading never writes; every write, even
    // of an equal value, announces its key. A newer format is read as far as it is
    // understood and keeps its version and everything unknown when written.
    void valuesTypesAndUnknownForms() {
        TempStore temp;
        QSignalSpy spy(&temp.store(), &UserDefaults::changed);
        const QByteArray blob("\x00\xff{\"a\":true}", 12);
        const QString text = QStringLiteral("Zürich \"quoted\" /path");
        temp->setInteger("big", std::numeric_limits<qint64>::min());
        temp->setBoolean("flag", false);
        temp->setBoolean("flag", false);
        temp->setText("name", text);
        temp->setData("blob", blob);
        temp->setText("minutesUntilClose", "90");
        QCOMPARE(spy.count(), 6);
        auto again = temp.reopen();
        QVERIFY(again->integer("big") == std::numeric_limits<qint64>::min() &&
                again->boolean("flag") == false && again->data("blob") == blob &&
                again->text("name") == text);
        QVERIFY(!again->boolean("big") && !again->integer("name") && !again->text("blob"));
        const QByteArray before = readFile(temp.path());
        QCOMPARE(Preference<qint64>(*again, Keys::minutesUntilClose).value(), 480);
        QCOMPARE(readFile(temp.path()), before);

        QVERIFY(writeFile(temp.path(), kHead + R"(3,"profiles":{"work":{"a":20}},"values":{
            "futureKey":{"integer":"7"},"strange":{"colour":[1,2,3]}}})"));
        temp.reopen()->setBoolean("quittingEnabled", false);
        const QByteArray written =
            QJsonDocument::fromJson(readFile(temp.path())).toJson(QJsonDocument::Compact);
        QVERIFY(written.contains(R"("version":3)") && written.contains(R"({"work":{"a":20}})"));
        QVERIFY(written.contains(R"({"colour":[1,2,3]})") && aside(temp.path()).isEmpty());
        QVERIFY(temp.reopen()->integer("futureKey") == 7);

        // A linked file (a dotfile manager's) is written through, and stays a link.
        QTemporaryDir elsewhere;
        const QString real = elsewhere.filePath("defaults.json");
        QVERIFY(QFile::rename(temp.path(), real) && QFile::link(real, temp.path()));
        temp.reopen()->setInteger("linked", 1);
        QVERIFY(QFileInfo(temp.path()).isSymLink() && UserDefaults(real).integer("linked") == 1);
    }

    // What cannot be parsed, or is too large, is set aside as it was at start, or at the
    // next write when it broke while running; the next value is then written. (A FIFO or a
    // device is refused by the safe read: the desktop entry tests.)
    void anUnreadableFileIsKeptAside() {
        const QByteArray big = kHead + R"(1,"values":{}})" + QByteArray(2 << 20, ' ');
        for (const QByteArray& content :
             {QByteArray("\x01\x02not json", 10), QByteArray(),
              kHead + "1,\"values\":{\"a\":{\"integ", QByteArray(R"({"minutesUntilClose":5})"), big,
              QByteArray("{{{")}) {
            TempStore temp;
            const QString path = temp.path();
            const bool whileRunning = content == "{{{";
            temp->setInteger("a", 1);
            temp->flush();
            if (!whileRunning)
                QFile::remove(path);
            QVERIFY(writeFile(path, content));
            const std::unique_ptr<UserDefaults> store = whileRunning ? nullptr : temp.reopen();
            (store ? *store : *temp).setInteger("b", 2);
            (store ? *store : *temp).flush();
            QCOMPARE(aside(path).size(), 1);
            QCOMPARE(readFile(aside(path).first().filePath()), content);
            auto again = temp.reopen();
            QCOMPARE(again->integer("a"), whileRunning ? std::optional<qint64>(1) : std::nullopt);
            QCOMPARE(again->integer("b"), 2);
        }
    }

    // An edit from outside while the store runs (an editor's rename, a write in place, a
    // file without the wrapper, a folder made later) is read through the same rules and
    // announced; a stored value out of range reads clamped.
    void handEditsAreReadWhileRunning() {
        QTemporaryDir dir;
        const QString path = dir.filePath("later/Idlewatch/defaults.json");
        UserDefaults store(path);
        QCoreApplication::processEvents(); // starts watching
        QSignalSpy changed(&store, &UserDefaults::changed);
        QVERIFY(
            writeFile(path, kHead + R"(1,"values":{"minutesUntilClose":{"integer":"10000"}}})"));
        QTRY_COMPARE(store.integer("minutesUntilClose"), 10000);
        QCOMPARE(Preference<qint64>(store, Keys::minutesUntilClose).value(), 4320);
        QSaveFile renamed(path);
        QVERIFY(renamed.open(QIODevice::WriteOnly));
        renamed.write(kHead + R"(1,"values":{"minutesUntilClose":{"integer":"90"}}})");
        QVERIFY(renamed.commit());
        QTRY_COMPARE(store.integer("minutesUntilClose"), 90);
        QVERIFY(writeFile(path, "{\"quittingEnabled\": {\"boolean\": false},\n"
                                " \"minutesUntilClose\": {\"integer\": 45}}"));
        QTRY_COMPARE(store.boolean("quittingEnabled"), false);
        QCOMPARE(store.integer("minutesUntilClose"), 45);
        QCOMPARE(changed.count(), 4);
        store.setText("sortMode", "recent");
        store.flush();
        const QByteArray written = readFile(path);
        QVERIFY(written.contains("com.Idlewatch.defaults") && written.contains("\"45\""));
    }

    // The file never grows past what the store reads back: per-application switches that
    // equal the default go first, then names unseen for half a year; what still does not
    // fit leaves the file as it was.
    void theFileStaysReadable() {
        TempStore temp;
        QJsonObject toggles, seen;
        for (int i = 0; i < 40000; ++i) {
            const QString name = QStringLiteral("Application %1").arg(i);
            toggles.insert(name, i % 4 == 0); // the default for a quarter, off for the rest
            seen.insert(name, i < 30000 ? 20000 : 20400);
        }
        const auto compact = [](const QJsonObject& o) {
            return QJsonDocument(o).toJson(QJsonDocument::Compact);
        };
        temp->setData("com.Idlewatch.toggleStatus", compact(toggles));
        temp->setData("com.Idlewatch.toggleStatus.lastSeen", compact(seen));
        temp->flush();
        QVERIFY(temp->lastWriteSucceeded());
        QVERIFY(QFileInfo(temp.path()).size() <= SafeFile::kMaxSize);
        auto again = temp.reopen();
        const QJsonObject kept =
            QJsonDocument::fromJson(*again->data("com.Idlewatch.toggleStatus")).object();
        // Switched off and seen lately: kept; the rest forgotten.
        QCOMPARE(kept.size(), 7500);
        QVERIFY(kept.value("Application 30001") == false && !kept.contains("Application 30000") &&
                !kept.contains("Application 1"));
        QCOMPARE(*temp->data("com.Idlewatch.toggleStatus"), compact(kept)); // memory follows

        temp->setData("too big", QByteArray(SafeFile::kMaxSize, 'x'));
        temp->flush();
        QVERIFY(!temp->lastWriteSucceeded());
        QVERIFY(!temp.reopen()->contains("too big") && aside(temp.path()).isEmpty());
    }

    // Writing never holds up the caller: while the disk takes its time, changes go on in
    // memory, the last one wins, and nothing is lost once the disk is done.
    void aSlowDiskNeverHoldsUpTheCaller() {
        TempStore temp;
        QSemaphore entered, gate;
        std::atomic<bool> gaveUp = false;
        temp->setBeforeSyncForTesting([&] {
            entered.release();
            gaveUp = gaveUp || !gate.tryAcquire(1, 30000);
        });
        temp->setInteger("minutesUntilClose", 10);
        QVERIFY(entered.tryAcquire(1, 30000)); // the writer waits on the disk
        for (int minutes = 11; minutes <= 20; ++minutes)
            temp->setInteger("minutesUntilClose", minutes);
        QCOMPARE(temp->integer("minutesUntilClose"), 20);
        QVERIFY(!readFile(temp.path()).contains("\"20\""));
        gate.release(2);
        temp->flush();
        QVERIFY(!gaveUp);
        QCOMPARE(temp.reopen()->integer("minutesUntilClose"), 20);
        // The program writes what is pending when it quits.
        QProcess quitting;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(QFileInfo(temp.path()).path()));
        quitting.start(QCoreApplication::applicationFilePath(), {"--quit", "x"});
        QVERIFY(quitting.waitForFinished(30000));
        QCOMPARE(UserDefaults(QFileInfo(temp.path()).path() + "/Idlewatch/defaults.json")
                     .integer("quitting"),
                 1);
    }

    // A file that may not be read at start is set aside when it can be moved, and otherwise
    // left alone for the whole run, even once it could be written; what the user sets is
    // kept in memory.
    void aFileThatMayNotBeReadIsNeverOverwritten() {
        for (const bool movable : {true, false}) {
            QTemporaryDir dir;
            const QString path = dir.filePath("defaults.json");
            const QByteArray original = kHead + R"(1,"values":{"a":{"integer":"45"}}})";
            QVERIFY(writeFile(path, original));
            QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
            // Root reads any file; acting as user "nobody" it meets the refusal a user would.
            const bool root = ::geteuid() == 0;
            const QByteArray folder = QFile::encodeName(dir.path());
            QCOMPARE(::chmod(folder, root ? (movable ? 0777 : 0755) : (movable ? 0700 : 0500)), 0);
            const auto undo = [&] {
                ::setfsuid(0);
                ::chmod(folder, 0700);
                QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
            };
            auto restore = qScopeGuard(undo);
            if (root)
                ::setfsuid(65534);
            if (QFile probe(path); probe.open(QIODevice::ReadOnly))
                QSKIP("this process reads any file and cannot act as another user");
            UserDefaults store(path);
            restore.dismiss();
            undo();
            QVERIFY(!store.contains("a"));
            store.setInteger("popoverWidth", 420); // readable now, but still not ours
            store.setInteger("popoverWidth", 440);
            store.flush();
            QCOMPARE(store.integer("popoverWidth"), 440);
            QCOMPARE(aside(path).size(), movable ? 1 : 0);
            if (movable)
                QFile::setPermissions(aside(path).first().filePath(), QFile::ReadOwner);
            QCOMPARE(readFile(movable ? aside(path).first().filePath() : path), original);
            QCOMPARE(UserDefaults(path).integer("popoverWidth"),
                     movable ? std::optional<qint64>(440) : std::nullopt);
        }
    }
};

// Helper mode, playing the program at its end: --quit x sets "quitting" in the user's store
// on a slow disk and quits at once.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--quit") {
        UserDefaults store(UserDefaults::standardFilePath()); // as the program keeps it
        store.setBeforeSyncForTesting([] { QThread::msleep(300); });
        store.setInteger("quitting", 1);
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
        return QCoreApplication::exec();
    }
    TestUserDefaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_user_defaults.moc"
