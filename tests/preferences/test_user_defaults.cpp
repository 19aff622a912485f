#include "preferences/PreferenceKeys.h"
#include "preferences/UserDefaults.h"
#include "support/Promptly.h"
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

#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <limits>
#include <optional>

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
QStringList asideFiles(const QString& dir) {
    return QDir(dir).entryList({QStringLiteral("defaults.json.unreadable-*")},
                               QDir::Files | QDir::System);
}

// Opens a store as a starting process would, on a thread of its own so that a read that
// blocks fails the test instead of hanging it.
std::unique_ptr<UserDefaults> openStore(const QString& path, bool* prompt) {
    QThread* home = QThread::currentThread();
    std::unique_ptr<UserDefaults> store;
    *prompt = returnsWithinASecond(
        [&] {
            store = std::make_unique<UserDefaults>(path);
            store->moveToThread(home);
        },
        path);
    return store;
}

// Warnings the store logs while an object lives.
class StoreWarnings {
public:
    StoreWarnings() {
        s_count = 0;
        m_previous = qInstallMessageHandler(&handler);
    }
    ~StoreWarnings() { qInstallMessageHandler(m_previous); }
    int count() const { return s_count; }

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString&) {
        if (type == QtWarningMsg &&
            QByteArray(context.category).startsWith("com.Idlewatch.Idlewatch.UserDefaults"))
            ++s_count;
    }
    static inline int s_count = 0;
    QtMessageHandler m_previous;
};

// A small tmpfs of its own (root only) that can be filled to the last byte.
class SmallDisk {
public:
    SmallDisk() {
        m_mounted = ::geteuid() == 0 && m_dir.isValid() &&
                    ::mount("idlewatch-test", QFile::encodeName(m_dir.path()).constData(), "tmpfs",
                            0, "size=1m") == 0;
    }
    ~SmallDisk() {
        free();
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    bool isMounted() const { return m_mounted; }
    QString path() const { return m_dir.filePath(QStringLiteral("defaults.json")); }
    QString dir() const { return m_dir.path(); }

    // Takes every free byte.
    void fill() {
        const int fd = ::open(QFile::encodeName(filler()).constData(),
                              O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        const QByteArray chunk(4096, 'f');
        while (fd >= 0 && ::write(fd, chunk.constData(), chunk.size()) > 0) {
        }
        for (int size = 2048; fd >= 0 && size > 0; size /= 2) {
            while (::write(fd, chunk.constData(), size) > 0) {
            }
        }
        if (fd >= 0)
            ::close(fd);
    }
    void free() { QFile::remove(filler()); }

private:
    QString filler() const { return m_dir.filePath(QStringLiteral("filler")); }
    QTemporaryDir m_dir;
    bool m_mounted = false;
};

// Acts as user "nobody" on files while it lives (this thread only), so that root meets a
// file it may not read as any other user would.
class AsNobody {
public:
    AsNobody() {
        ::setfsuid(65534);
        ::setfsgid(65534);
    }
    ~AsNobody() {
        ::setfsuid(0);
        ::setfsgid(0);
    }
};
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
    // it wrote, never a broken file, and does not keep the next writer out for long. When
    // the disk is full for a round, the file still holds the last value that was written.
    void aWriterKilledMidWriteLeavesTheOldOrNewValue_data() {
        QTest::addColumn<bool>("diskFills");
        QTest::newRow("room to write") << false;
        QTest::newRow("disk full in some rounds") << true;
    }
    void aWriterKilledMidWriteLeavesTheOldOrNewValue() {
        QFETCH(bool, diskFills);
        TempStore temp;
        SmallDisk disk;
        if (diskFills && !disk.isMounted())
            QSKIP("filling a disk needs root to mount a small tmpfs");
        const QString path = diskFills ? disk.path() : temp.path();
        const QString dir = diskFills ? disk.dir() : temp.dir();
        const QString self = QCoreApplication::applicationFilePath();
        qint64 before = 0;
        int fullRounds = 0;
        QRandomGenerator random(20261206);
        for (int round = 0; round < 40; ++round) {
            const bool full = diskFills && random.bounded(2) == 1;
            if (full) {
                disk.fill();
                ++fullRounds;
            }
            QProcess writer;
            writer.start(self, {"--count-up", path});
            // Kill it at a random moment after its first write.
            QVERIFY(writer.waitForReadyRead(30000));
            QTest::qSleep(int(random.bounded(0, 20)));
            writer.kill();
            QVERIFY(writer.waitForFinished(10000));
            disk.free();

            UserDefaults store(path);
            QVERIFY2(asideFiles(dir).isEmpty(), "the file was found unreadable");
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
        UserDefaults store(path);
        store.setInteger("after", 1);
        QVERIFY(store.lastWriteSucceeded());
        QCOMPARE(UserDefaults(path).integer("after"), 1);
    }

    // A failed write leaves the file as it was, keeps the value in memory, says so once and
    // is tried again at the next change.
    void aFullDiskKeepsTheFileAndTheNewValue() {
        SmallDisk disk;
        if (!disk.isMounted())
            QSKIP("filling a disk needs root to mount a small tmpfs");
        UserDefaults store(disk.path());
        store.setInteger("minutesUntilClose", 30);
        QVERIFY(store.lastWriteSucceeded());
        const QByteArray good = readAll(disk.path());

        disk.fill();
        {
            StoreWarnings warnings;
            store.setInteger("minutesUntilClose", 60);
            store.setText("sortMode", QStringLiteral("recent"));
            store.setInteger("minutesUntilClose", 90);
            QVERIFY(!store.lastWriteSucceeded());
            QCOMPARE(warnings.count(), 1);
        }
        QCOMPARE(readAll(disk.path()), good);
        QCOMPARE(store.integer("minutesUntilClose"), 90);
        QCOMPARE(store.text("sortMode"), QStringLiteral("recent"));
        QCOMPARE(UserDefaults(disk.path()).integer("minutesUntilClose"), 30);
        store.reload(); // what did not reach the file outlives a fresh read
        QCOMPARE(store.integer("minutesUntilClose"), 90);

        disk.free();
        store.setBoolean("quittingEnabled", false);
        QVERIFY(store.lastWriteSucceeded());
        UserDefaults again(disk.path());
        QCOMPARE(again.integer("minutesUntilClose"), 90);
        QCOMPARE(again.text("sortMode"), QStringLiteral("recent"));
        QCOMPARE(again.boolean("quittingEnabled"), false);
    }

    // What is no plain file of sane size is never waited on nor read whole: it is set aside
    // as it is and the store starts empty.
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
        QByteArray big;
        if (kind == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == "device") {
            QVERIFY(QFile::link("/dev/zero", path));
        } else {
            big =
                R"({"format":"com.Idlewatch.defaults","version":1,"values":{"a":{"integer":"1"}}})";
            big += QByteArray(2 * 1024 * 1024, ' ');
            writeRaw(path, big);
        }

        StoreWarnings warnings;
        bool prompt = false;
        std::unique_ptr<UserDefaults> store = openStore(path, &prompt);
        QVERIFY2(prompt, "start-up waited on the file");
        QVERIFY(store->keys().isEmpty());
        QVERIFY(warnings.count() > 0);
        const QStringList aside = asideFiles(dir.path());
        QCOMPARE(aside.size(), 1);
        const QString kept = dir.filePath(aside.first());
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(kept).constData(), &st), 0);
        if (kind == "fifo")
            QVERIFY(S_ISFIFO(st.st_mode));
        else if (kind == "device")
            QCOMPARE(QFileInfo(kept).symLinkTarget(), QStringLiteral("/dev/zero"));
        else
            QCOMPARE(readAll(kept), big);

        store->setInteger("minutesUntilClose", 30);
        QCOMPARE(store->integer("minutesUntilClose"), 30);
        QVERIFY(store->lastWriteSucceeded());
        QCOMPARE(UserDefaults(path).integer("minutesUntilClose"), 30);
    }

    // A file that exists but may not be read is set aside when it can be moved, and is
    // otherwise left alone for the whole run; what the user sets is kept in memory.
    void aFileThatMayNotBeReadIsNeverOverwritten_data() {
        QTest::addColumn<bool>("movable");
        QTest::newRow("can be moved aside") << true;
        QTest::newRow("cannot be moved") << false;
    }
    void aFileThatMayNotBeReadIsNeverOverwritten() {
        QFETCH(bool, movable);
        QTemporaryDir dir;
        const QString path = dir.filePath("defaults.json");
        const QByteArray original =
            R"({"format":"com.Idlewatch.defaults","version":1,"values":{"minutesUntilClose":{"integer":"45"}}})";
        writeRaw(path, original);
        QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
        // Root reads any file; acting as another user it meets the refusal a user would.
        const bool root = ::geteuid() == 0;
        const QByteArray folder = QFile::encodeName(dir.path());
        QCOMPARE(
            ::chmod(folder.constData(), root ? (movable ? 0777 : 0755) : (movable ? 0700 : 0500)),
            0);
        auto restore = qScopeGuard([&] {
            ::chmod(folder.constData(), 0700);
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        });
        std::optional<AsNobody> nobody;
        if (root)
            nobody.emplace();
        if (QFile probe(path); probe.open(QIODevice::ReadOnly))
            QSKIP("this process reads any file and cannot act as another user");

        std::unique_ptr<UserDefaults> store;
        int warningsAtStart = 0;
        {
            StoreWarnings warnings;
            QElapsedTimer timer;
            timer.start();
            store = std::make_unique<UserDefaults>(path);
            QVERIFY(timer.elapsed() < 1000);
            QVERIFY(!store->contains("minutesUntilClose"));
            warningsAtStart = warnings.count();
            QVERIFY(warningsAtStart > 0);
            store->setInteger("popoverWidth", 400);
            store->setInteger("popoverWidth", 420);
            QCOMPARE(store->integer("popoverWidth"), 420);
            if (!movable) // said once at start, not again for every write
                QCOMPARE(warnings.count(), warningsAtStart);
        }
        nobody.reset();
        restore.dismiss();
        QCOMPARE(::chmod(folder.constData(), 0700), 0);

        const QStringList aside = asideFiles(dir.path());
        if (movable) {
            QCOMPARE(aside.size(), 1);
            QVERIFY(QFile::setPermissions(dir.filePath(aside.first()), QFile::ReadOwner));
            QCOMPARE(readAll(dir.filePath(aside.first())), original);
            QCOMPARE(UserDefaults(path).integer("popoverWidth"), 420);
        } else {
            QVERIFY(aside.isEmpty());
            QVERIFY(!store->lastWriteSucceeded());
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
            QCOMPARE(readAll(path), original);
        }
    }

    // A file of a newer format is read as far as it is understood and keeps its version
    // and everything else when written.
    void aNewerFileIsNotDowngraded() {
        TempStore temp;
        writeRaw(temp.path(), R"({"format":"com.Idlewatch.defaults","version":3,
            "profiles":{"work":{"minutesUntilClose":20}},
            "values":{"minutesUntilClose":{"integer":"45"},"later":{"duration":"PT5M"}}})");
        auto store = temp.reopen();
        QCOMPARE(store->integer("minutesUntilClose"), 45);
        store->setBoolean("quittingEnabled", false);
        QVERIFY(store->lastWriteSucceeded());
        QVERIFY(asideFiles(temp.dir()).isEmpty());

        const QJsonObject root = QJsonDocument::fromJson(readAll(temp.path())).object();
        QCOMPARE(root.value("version").toInt(), 3);
        QCOMPARE(root.value("profiles").toObject().value("work").toObject().size(), 1);
        const QJsonObject values = root.value("values").toObject();
        QCOMPARE(values.value("later").toObject().value("duration").toString(), "PT5M");
        QCOMPARE(temp.reopen()->boolean("quittingEnabled"), false);
    }

    // A lock file that is no lock neither stalls the writer nor stops the write.
    void aLockThatCannotBeTakenDoesNotStallWrites_data() {
        QTest::addColumn<bool>("fifo");
        QTest::newRow("a folder") << false;
        QTest::newRow("a FIFO") << true;
    }
    void aLockThatCannotBeTakenDoesNotStallWrites() {
        QFETCH(bool, fifo);
        TempStore temp;
        const QString lock = temp.path() + ".lock";
        if (fifo)
            QCOMPARE(::mkfifo(QFile::encodeName(lock).constData(), 0600), 0);
        else
            QVERIFY(QDir().mkdir(lock));
        StoreWarnings warnings;
        QVERIFY2(returnsWithinASecond(
                     [&] {
                         for (int i = 1; i <= 3; ++i)
                             temp->setInteger("minutesUntilClose", 10 + i);
                     },
                     lock),
                 "writes waited on the lock");
        QVERIFY(warnings.count() <= 1);
        QVERIFY(temp->lastWriteSucceeded());
        QCOMPARE(temp.reopen()->integer("minutesUntilClose"), 13);
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
