#include "preferences/PreferenceKeys.h"
#include "preferences/UserDefaults.h"
#include "support/Promptly.h"
#include "support/TempStore.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <limits>

#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

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
QStringList aside(const QString& dir) {
    return QDir(dir).entryList({"defaults.json.unreadable-*"}, QDir::Files | QDir::System);
}
const QByteArray kHead = R"({"format":"com.Idlewatch.defaults","version":)";

// Warnings the store logs while an object lives.
struct StoreWarnings {
    static inline int count = 0;
    QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString&) {
            count +=
                type == QtWarningMsg &&
                QByteArray(context.category).startsWith("com.Idlewatch.Idlewatch.UserDefaults");
        });
    StoreWarnings() { count = 0; }
    ~StoreWarnings() { qInstallMessageHandler(previous); }
};

// A 1 MiB tmpfs of its own (root only) that can be filled to the last byte.
struct SmallDisk {
    QTemporaryDir dir;
    bool mounted =
        ::geteuid() == 0 && ::mount("idlewatch-test", QFile::encodeName(dir.path()).constData(),
                                    "tmpfs", 0, "size=1m") == 0;
    ~SmallDisk() {
        free();
        if (mounted)
            ::umount2(QFile::encodeName(dir.path()).constData(), MNT_DETACH);
    }
    QString path() const { return dir.filePath("defaults.json"); }
    void fill() {
        const int fd =
            ::open(QFile::encodeName(dir.filePath("filler")).constData(), O_WRONLY | O_CREAT, 0600);
        const QByteArray chunk(4096, 'f');
        for (int size = 4096; fd >= 0 && size > 0; size /= 2)
            while (::write(fd, chunk.constData(), size) > 0) {
            }
        ::close(fd);
    }
    void free() { QFile::remove(dir.filePath("filler")); }
};
} // namespace

class TestUserDefaults : public QObject {
    Q_OBJECT
private slots:
    // Values keep their types across a restart, answer only under their own type, and a
    // wrong-typed value reads as the key's default. Reading never writes; every write,
    // even of an equal value, announces its key. Unknown keys and forms are kept.
    void valuesTypesAndUnknownForms() {
        TempStore temp;
        QVERIFY(!Preference<qint64>(*temp, Keys::minutesUntilClose).isStored());
        QCOMPARE(Preference<qint64>(*temp, Keys::minutesUntilClose).value(), 480);
        QVERIFY(!QFile::exists(temp.path()));
        QSignalSpy spy(&temp.store(), &UserDefaults::changed);
        const QByteArray blob("\x00\xff{\"a\":true}", 12);
        temp->setInteger("big", std::numeric_limits<qint64>::min());
        temp->setBoolean("flag", false);
        temp->setBoolean("flag", false);
        temp->setText("name", QStringLiteral("Zürich \"quoted\" /path"));
        temp->setData("blob", blob);
        temp->setText("minutesUntilClose", "90");
        QCOMPARE(spy.count(), 6);
        QCOMPARE(spy.at(1).at(0).toString(), QStringLiteral("flag"));

        auto again = temp.reopen();
        QCOMPARE(again->integer("big"), std::numeric_limits<qint64>::min());
        QCOMPARE(again->boolean("flag"), false);
        QCOMPARE(again->text("name"), QStringLiteral("Zürich \"quoted\" /path"));
        QCOMPARE(again->data("blob"), blob);
        QVERIFY(!again->boolean("big") && !again->integer("name") && !again->text("blob"));
        QCOMPARE(Preference<qint64>(*again, Keys::minutesUntilClose).value(), 480);
        const QByteArray before = readAll(temp.path());
        QCOMPARE(Preference<QString>(*again, Keys::sortMode).value(), QStringLiteral("name"));
        QCOMPARE(readAll(temp.path()), before);

        writeRaw(temp.path(), kHead + R"(1,"values":{"futureKey":{"integer":"7"},
            "strange":{"colour":[1,2,3]}}})");
        auto store = temp.reopen();
        QVERIFY(store->contains("strange") && !store->typeOf("strange"));
        store->setBoolean("quittingEnabled", false);
        const QJsonObject values =
            QJsonDocument::fromJson(readAll(temp.path())).object().value("values").toObject();
        QCOMPARE(values.value("strange").toObject().value("colour").toArray().size(), 3);
        QCOMPARE(temp.reopen()->integer("futureKey"), 7);
    }

    // What cannot be parsed is moved aside as it was, found at start or at the next write.
    void anUnreadableFileIsKeptAside_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("brokenWhileRunning");
        QTest::newRow("garbage") << QByteArray("\x01\x02not json", 10) << false;
        // Not a raw string: moc counts the braces inside one.
        QTest::newRow("truncated") << kHead + "1,\"values\":{\"a\":{\"integ" << false;
        QTest::newRow("another program's json")
            << QByteArray(R"({"minutesUntilClose":5})") << false;
        QTest::newRow("empty file") << QByteArray() << false;
        QTest::newRow("broken while running") << QByteArray("{{{") << true;
    }
    void anUnreadableFileIsKeptAside() {
        QFETCH(QByteArray, content);
        QFETCH(bool, brokenWhileRunning);
        TempStore temp;
        temp->setInteger("a", 1);
        if (!brokenWhileRunning)
            QFile::remove(temp.path());
        writeRaw(temp.path(), content);
        auto store = brokenWhileRunning ? nullptr : temp.reopen();
        UserDefaults& s = store ? *store : *temp;
        s.setInteger("b", 2);
        QCOMPARE(aside(temp.dir()).size(), 1);
        QCOMPARE(readAll(temp.dir() + "/" + aside(temp.dir()).first()), content);
        auto again = temp.reopen();
        QCOMPARE(again->integer("a"), brokenWhileRunning ? std::optional<qint64>(1) : std::nullopt);
        QCOMPARE(again->integer("b"), 2);
    }

    void twoProcessesWritingKeepBothKeys() {
        TempStore temp;
        auto other = temp.reopen();
        other->setText("sortMode", "recent");
        temp->setInteger("popoverWidth", 360);
        QCOMPARE(temp->text("sortMode"), QStringLiteral("recent")); // learned when it wrote

        QProcess a, b;
        a.start(QCoreApplication::applicationFilePath(), {"--writer", temp.path(), "alpha"});
        b.start(QCoreApplication::applicationFilePath(), {"--writer", temp.path(), "beta"});
        QVERIFY(a.waitForFinished(60000) && b.waitForFinished(60000));
        QCOMPARE(a.exitCode() + b.exitCode(), 0);
        auto store = temp.reopen();
        QCOMPARE(store->integer("alpha"), 299);
        QCOMPARE(store->integer("beta"), 299);
        QCOMPARE(store->integer("popoverWidth"), 360);
        QVERIFY(aside(temp.dir()).isEmpty());
    }

    // A writer killed at a random moment leaves the value before the round or one it wrote,
    // never a broken file. When the disk is full for a round, the file keeps the last value.
    void aWriterKilledMidWriteLeavesTheOldOrNewValue_data() {
        QTest::addColumn<bool>("diskFills");
        QTest::newRow("room to write") << false;
        QTest::newRow("disk full in some rounds") << true;
    }
    void aWriterKilledMidWriteLeavesTheOldOrNewValue() {
        QFETCH(bool, diskFills);
        TempStore temp;
        SmallDisk disk;
        if (diskFills && !disk.mounted)
            QSKIP("filling a disk needs root to mount a small tmpfs");
        const QString path = diskFills ? disk.path() : temp.path();
        qint64 before = 0;
        int fullRounds = 0;
        QRandomGenerator random(20261206);
        for (int round = 0; round < 40; ++round) {
            const bool full = diskFills && random.bounded(2) == 1;
            if (full)
                disk.fill();
            fullRounds += full;
            QProcess writer;
            writer.start(QCoreApplication::applicationFilePath(), {"--count-up", path});
            QVERIFY(writer.waitForReadyRead(30000)); // after its first write
            QTest::qSleep(int(random.bounded(0, 20)));
            writer.kill();
            QVERIFY(writer.waitForFinished(10000));
            disk.free();

            UserDefaults store(path);
            QVERIFY2(aside(QFileInfo(path).path()).isEmpty(), "the file was found unreadable");
            const qint64 after = store.integer("counter").value_or(0);
            QVERIFY2(after >= before, "a value went back in time");
            if (full)
                QCOMPARE(after, before);
            if (after > 0)
                QCOMPARE(store.data("payload").value_or(QByteArray()).size(), 4096);
            before = after;
        }
        QVERIFY2(before > 0, "no writer ever completed a write");
        QVERIFY(!diskFills || fullRounds > 0);
    }

    // A failed write leaves the file as it was, keeps the value in memory (also across a
    // reload), says so once and is tried again at the next change.
    void aFullDiskKeepsTheFileAndTheNewValue() {
        SmallDisk disk;
        if (!disk.mounted)
            QSKIP("filling a disk needs root to mount a small tmpfs");
        UserDefaults store(disk.path());
        store.setInteger("minutesUntilClose", 30);
        const QByteArray good = readAll(disk.path());
        disk.fill();
        {
            StoreWarnings warnings;
            store.setInteger("minutesUntilClose", 60);
            store.setText("sortMode", "recent");
            QVERIFY(!store.lastWriteSucceeded());
            QCOMPARE(warnings.count, 1);
        }
        QCOMPARE(readAll(disk.path()), good);
        store.reload();
        QCOMPARE(store.integer("minutesUntilClose"), 60);
        disk.free();
        store.setBoolean("quittingEnabled", false);
        QVERIFY(store.lastWriteSucceeded());
        UserDefaults again(disk.path());
        QCOMPARE(again.integer("minutesUntilClose"), 60);
        QCOMPARE(again.text("sortMode"), QStringLiteral("recent"));
    }

    // No plain file of sane size is ever waited on nor read whole: it is set aside as it is.
    void aFileThatIsNoPlainFileIsSetAside_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("link to a device") << "device";
        QTest::newRow("larger than any settings file") << "oversized";
    }
    void aFileThatIsNoPlainFileIsSetAside() {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath("defaults.json");
        const QByteArray big = kHead + R"(1,"values":{}})" + QByteArray(2 << 20, ' ');
        if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == "device")
            QVERIFY(QFile::link("/dev/zero", path));
        else
            writeRaw(path, big);

        StoreWarnings warnings;
        std::unique_ptr<UserDefaults> store;
        QThread* home = QThread::currentThread();
        QVERIFY2(returnsWithinASecond(
                     [&] {
                         store = std::make_unique<UserDefaults>(path);
                         store->moveToThread(home);
                     },
                     path),
                 "start-up waited on the file");
        QVERIFY(store->keys().isEmpty() && warnings.count > 0);
        QCOMPARE(aside(dir.path()).size(), 1);
        const QString kept = dir.filePath(aside(dir.path()).first());
        if (kind == "fifo")
            QVERIFY(QFileInfo(kept).fileTime(QFileDevice::FileModificationTime).isValid() &&
                    !QFileInfo(kept).isFile() && !QFileInfo(kept).isSymLink());
        else if (kind == "device")
            QCOMPARE(QFileInfo(kept).symLinkTarget(), QStringLiteral("/dev/zero"));
        else
            QCOMPARE(readAll(kept), big);
        store->setInteger("minutesUntilClose", 30);
        QCOMPARE(UserDefaults(path).integer("minutesUntilClose"), 30);
    }

    // A file that may not be read is set aside when it can be moved, and otherwise left
    // alone for the whole run; what the user sets is kept in memory.
    void aFileThatMayNotBeReadIsNeverOverwritten_data() {
        QTest::addColumn<bool>("movable");
        QTest::newRow("can be moved aside") << true;
        QTest::newRow("cannot be moved") << false;
    }
    void aFileThatMayNotBeReadIsNeverOverwritten() {
        QFETCH(bool, movable);
        QTemporaryDir dir;
        const QString path = dir.filePath("defaults.json");
        const QByteArray original = kHead + R"(1,"values":{"minutesUntilClose":{"integer":"45"}}})";
        writeRaw(path, original);
        QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
        // Root reads any file; acting as user "nobody" it meets the refusal a user would.
        const bool root = ::geteuid() == 0;
        const QByteArray folder = QFile::encodeName(dir.path());
        QCOMPARE(
            ::chmod(folder.constData(), root ? (movable ? 0777 : 0755) : (movable ? 0700 : 0500)),
            0);
        const auto undo = [&] {
            ::setfsuid(0);
            ::chmod(folder.constData(), 0700);
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        };
        auto restore = qScopeGuard(undo);
        if (root)
            ::setfsuid(65534);
        if (QFile probe(path); probe.open(QIODevice::ReadOnly))
            QSKIP("this process reads any file and cannot act as another user");

        StoreWarnings warnings;
        UserDefaults store(path);
        QVERIFY(!store.contains("minutesUntilClose") && warnings.count > 0);
        const int atStart = warnings.count;
        store.setInteger("popoverWidth", 400);
        store.setInteger("popoverWidth", 420);
        QCOMPARE(store.integer("popoverWidth"), 420);
        QVERIFY(movable || warnings.count == atStart); // said once, not at every write
        restore.dismiss();
        undo();

        if (movable) {
            QCOMPARE(aside(dir.path()).size(), 1);
            QVERIFY(
                QFile::setPermissions(dir.filePath(aside(dir.path()).first()), QFile::ReadOwner));
            QCOMPARE(readAll(dir.filePath(aside(dir.path()).first())), original);
            QCOMPARE(UserDefaults(path).integer("popoverWidth"), 420);
        } else {
            QVERIFY(aside(dir.path()).isEmpty() && !store.lastWriteSucceeded());
            QCOMPARE(readAll(path), original);
        }
    }

    // A newer format is read as far as it is understood and keeps its version and
    // everything else when written.
    void aNewerFileIsNotDowngraded() {
        TempStore temp;
        writeRaw(temp.path(), kHead + R"(3,"profiles":{"work":{"minutesUntilClose":20}},
            "values":{"minutesUntilClose":{"integer":"45"}}})");
        auto store = temp.reopen();
        QCOMPARE(store->integer("minutesUntilClose"), 45);
        store->setBoolean("quittingEnabled", false);
        QVERIFY(store->lastWriteSucceeded() && aside(temp.dir()).isEmpty());
        const QJsonObject root = QJsonDocument::fromJson(readAll(temp.path())).object();
        QCOMPARE(root.value("version").toInt(), 3);
        QCOMPARE(root.value("profiles").toObject().value("work").toObject().size(), 1);
        QCOMPARE(temp.reopen()->boolean("quittingEnabled"), false);
    }

    // A lock file that is no lock (a folder, a FIFO) neither stalls nor stops the writes.
    void aLockThatCannotBeTakenDoesNotStallWrites() {
        for (bool fifo : {false, true}) {
            TempStore temp;
            const QString lock = temp.path() + ".lock";
            QVERIFY(fifo ? ::mkfifo(QFile::encodeName(lock).constData(), 0600) == 0
                         : QDir().mkdir(lock));
            QVERIFY2(returnsWithinASecond(
                         [&] {
                             for (int i = 1; i <= 3; ++i)
                                 temp->setInteger("minutesUntilClose", 10 + i);
                         },
                         lock),
                     "writes waited on the lock");
            QCOMPARE(temp.reopen()->integer("minutesUntilClose"), 13);
        }
    }
};

// Helper modes, playing a second process: --writer FILE KEY writes KEY = 0..299;
// --count-up FILE increments "counter" until it is killed.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc >= 3 && QByteArray(argv[1]).startsWith("--")) {
        UserDefaults store(QString::fromLocal8Bit(argv[2]));
        if (argc == 4) {
            for (int i = 0; i < 300; ++i)
                store.setInteger(QString::fromLocal8Bit(argv[3]), i);
            return store.lastWriteSucceeded() ? 0 : 1;
        }
        store.setData("payload", QByteArray(4096, 'x'));
        qint64 n = store.integer("counter").value_or(0);
        store.setInteger("counter", ++n);
        std::puts("writing");
        std::fflush(stdout);
        for (;;)
            store.setInteger("counter", ++n);
    }
    TestUserDefaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_user_defaults.moc"
