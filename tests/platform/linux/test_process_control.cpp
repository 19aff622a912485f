#include "platform/linux/ProcessControl.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A child running `program` (default: sleep), reaped and killed on destruction if
// the test did not do it.
struct Child {
    pid_t pid = -1;
    explicit Child(const QByteArray& program = "/bin/sleep") {
        pid = ::fork();
        if (pid == 0) {
            ::execl(program.constData(), program.constData(), "60", nullptr);
            ::_exit(127);
        }
    }
    ~Child() {
        if (pid > 0) {
            ::kill(pid, SIGKILL); // our own unreaped child: the PID cannot be reused
            ::waitpid(pid, nullptr, 0);
        }
    }
    // Waits for the child to end; its exit status.
    int reap() {
        int status = 0;
        ::waitpid(std::exchange(pid, -1), &status, 0);
        return status;
    }
    bool stillRunning() const { return ::waitpid(pid, nullptr, WNOHANG) == 0; }
};

} // namespace

class TestProcessControl : public QObject {
    Q_OBJECT
private slots:
    void parseStartTime_data() {
        QTest::addColumn<QByteArray>("stat");
        QTest::addColumn<qint64>("expected"); // -1: nothing
        const QByteArray tail = " S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 123456789 20 21\n";
        QTest::newRow("plain") << "42 (sleep)" + tail << qint64(123456789);
        QTest::newRow("comm with ) ( and spaces") << "42 (a) (b c) x)" + tail << qint64(123456789);
        QTest::newRow("comm looks like fields")
            << "42 (S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 99)" + tail << qint64(123456789);
        QTest::newRow("truncated") << QByteArray("42 (sleep) S 1 2 3") << qint64(-1);
        QTest::newRow("no comm") << QByteArray("42 sleep S 1 2") << qint64(-1);
        QTest::newRow("not a number")
            << QByteArray("42 (x)") + QByteArray(tail).replace("123456789", "12x") << qint64(-1);
        QTest::newRow("empty") << QByteArray() << qint64(-1);
    }
    void parseStartTime() {
        QFETCH(QByteArray, stat);
        QFETCH(qint64, expected);
        const auto value = ProcessControl::parseStartTime(stat);
        QCOMPARE(value ? qint64(*value) : qint64(-1), expected);
    }

    void identityOfAChild() {
        // A copy of sleep, deleted while it runs, as after a package upgrade.
        QTemporaryDir dir;
        const QString copy = dir.filePath("sleepy copy");
        QVERIFY(QFile::copy("/bin/sleep", copy));
        QVERIFY(QFile::setPermissions(copy, QFile::ReadOwner | QFile::ExeOwner));
        Child child(copy.toLocal8Bit());
        QTRY_COMPARE(ProcessControl::commandName(child.pid), QStringLiteral("sleepy copy"));
        QVERIFY(QFile::remove(copy));
        QCOMPARE(ProcessControl::executableName(child.pid), QStringLiteral("sleepy copy"));

        const auto own = ProcessControl::startTime(::getpid());
        const auto started = ProcessControl::startTime(child.pid);
        QVERIFY(own && started);
        QVERIFY(*started >= *own);
        QCOMPARE(ProcessControl::startTime(child.pid), started);

        for (pid_t bad : {pid_t(0), pid_t(-1), pid_t(0x7ffffff0)}) {
            QVERIFY(!ProcessControl::startTime(bad));
            QVERIFY(ProcessControl::executableName(bad).isEmpty());
            QVERIFY(ProcessControl::commandName(bad).isEmpty());
            QVERIFY(!ProcessControl::signalIfSameProcess(bad, 0, 0));
        }
    }

    void signalsOnlyTheSameProcess() {
        Child child;
        QTRY_COMPARE(ProcessControl::commandName(child.pid), QStringLiteral("sleep"));
        const quint64 started = *ProcessControl::startTime(child.pid);

        // Another start time means another process under a reused PID: left alone.
        QVERIFY(!ProcessControl::signalIfSameProcess(child.pid, started + 1, SIGKILL));
        QTest::qWait(50);
        QVERIFY(child.stillRunning());

        QVERIFY(ProcessControl::signalIfSameProcess(child.pid, started, SIGKILL));
        const int status = child.reap();
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGKILL);
    }

    void anEndedProcessIsNotSignalled() {
        Child child;
        QTRY_COMPARE(ProcessControl::commandName(child.pid), QStringLiteral("sleep"));
        const pid_t pid = child.pid;
        const quint64 started = *ProcessControl::startTime(pid);
        ::kill(pid, SIGKILL);
        child.reap();
        QVERIFY(!ProcessControl::signalIfSameProcess(pid, started, SIGTERM));
    }
};

QTEST_GUILESS_MAIN(TestProcessControl)
#include "test_process_control.moc"
