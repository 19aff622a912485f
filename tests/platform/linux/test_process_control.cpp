#include "platform/linux/ProcessControl.h"
#include "platform/linux/ProcessOwnership.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
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
    // Takes over a child forked by the test.
    explicit Child(pid_t adopted)
        : pid(adopted) {}
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

Q_DECLARE_METATYPE(ProcessOwnership::Facts)

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
        }
    }

    void ownershipRule_data() {
        using ProcessOwnership::Verdict;
        QTest::addColumn<ProcessOwnership::Facts>("facts");
        QTest::addColumn<Verdict>("verdict");
        // Process socket 10 is connected to server socket 11, which carries the address of
        // the display's listening socket.
        UnixSockets::Table table;
        table.insert(10, {10, 11, {}});
        table.insert(11, {11, 10, QByteArray("\0/tmp/.X11-unix/X7", 18)});
        table.insert(20, {20, 21, {}});
        table.insert(21, {21, 20, "/run/user/1000/bus"});
        table.insert(30, {30, 0, {}});
        ProcessOwnership::Facts proven;
        proven.pidFromServer = true;
        proven.recordedStartTime = proven.currentStartTime = 5000;
        proven.processSockets = QList<quint64>{30, 20, 10};
        proven.sockets = table;
        proven.serverSocketName = QByteArray("\0/tmp/.X11-unix/X7", 18);
        QTest::newRow("holds the connection") << proven << Verdict::Proven;

        auto with = [&](auto change) {
            ProcessOwnership::Facts f = proven;
            change(f);
            return f;
        };
        QTest::newRow("PID only from the client's property")
            << with([](auto& f) { f.pidFromServer = false; }) << Verdict::PidNotFromServer;
        QTest::newRow("PID reused by a later process")
            << with([](auto& f) { f.currentStartTime = 5001; }) << Verdict::ProcessChanged;
        QTest::newRow("process ended")
            << with([](auto& f) { f.currentStartTime.reset(); }) << Verdict::ProcessChanged;
        QTest::newRow("start time never recorded")
            << with([](auto& f) { f.recordedStartTime.reset(); }) << Verdict::ProcessChanged;
        QTest::newRow("only other connections") << with([](auto& f) {
            f.processSockets = QList<quint64>{30, 20};
        }) << Verdict::NoServerConnection;
        QTest::newRow("same path, not abstract: another server")
            << with([](auto& f) { f.serverSocketName = "/tmp/.X11-unix/X7"; })
            << Verdict::NoServerConnection;
        QTest::newRow("the server's own end is not the client's")
            << with([](auto& f) { f.processSockets = QList<quint64>{11}; })
            << Verdict::NoServerConnection;
        QTest::newRow("descriptors unreadable")
            << with([](auto& f) { f.processSockets.reset(); }) << Verdict::Unknown;
        QTest::newRow("no socket table")
            << with([](auto& f) { f.sockets.reset(); }) << Verdict::Unknown;
        QTest::newRow("server address unknown (TCP display)")
            << with([](auto& f) { f.serverSocketName.clear(); }) << Verdict::Unknown;
    }
    void ownershipRule() {
        QFETCH(ProcessOwnership::Facts, facts);
        QFETCH(ProcessOwnership::Verdict, verdict);
        QCOMPARE(ProcessOwnership::judge(facts), verdict);
    }

    void socketLinks() {
        QCOMPARE(UnixSockets::parseSocketLink("socket:[123]"), quint64(123));
        QVERIFY(!UnixSockets::parseSocketLink("socket:[]"));
        QVERIFY(!UnixSockets::parseSocketLink("socket:[12x]"));
        QVERIFY(!UnixSockets::parseSocketLink("pipe:[123]"));
        QVERIFY(!UnixSockets::parseSocketLink("/dev/null"));
    }

    // A real server socket, a child connected to it and one that is not: only the first is
    // proven, and only a pinned process is ever signalled.
    void pinsOnlyAProcessHoldingTheConnection() {
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.filePath("X9"));
        const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        QCOMPARE(::listen(listener, 4), 0);

        // Our own connection tells the server's address, as Idlewatch's X connection does.
        const int ours = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QCOMPARE(::connect(ours, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        const int serverEnd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        QVERIFY(serverEnd >= 0);
        const auto table = UnixSockets::table();
        QVERIFY(table);
        const QByteArray serverName = ProcessOwnership::peerSocketName(ours, *table);
        QCOMPARE(serverName, path);

        // The client connects, then becomes `sleep` with the connection still open.
        const pid_t client = ::fork();
        if (client == 0) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
                ::_exit(3);
            ::execl("/bin/sleep", "sleep", "60", nullptr);
            ::_exit(127);
        }
        Child connected(client);
        const int clientServerEnd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        QVERIFY(clientServerEnd >= 0);
        Child bystander;
        QTRY_COMPARE(ProcessControl::commandName(connected.pid), QStringLiteral("sleep"));
        QTRY_COMPARE(ProcessControl::commandName(bystander.pid), QStringLiteral("sleep"));
        const auto started = ProcessControl::startTime(connected.pid);

        using ProcessOwnership::PinnedProcess;
        using ProcessOwnership::Verdict;
        Verdict verdict{};
        QVERIFY(!PinnedProcess::prove(bystander.pid, true, ProcessControl::startTime(bystander.pid),
                                      serverName, &verdict));
        QCOMPARE(verdict, Verdict::NoServerConnection);
        QVERIFY(!PinnedProcess::prove(connected.pid, false, started, serverName, &verdict));
        QCOMPARE(verdict, Verdict::PidNotFromServer);
        QVERIFY(!PinnedProcess::prove(connected.pid, true, *started + 1, serverName, &verdict));
        QCOMPARE(verdict, Verdict::ProcessChanged);

        const auto pinned =
            PinnedProcess::prove(connected.pid, true, started, serverName, &verdict);
        QCOMPARE(verdict, Verdict::Proven);
        QVERIFY(pinned);
        QVERIFY(!pinned->hasEnded());
        QVERIFY(pinned->kill());
        const int status = connected.reap();
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        QVERIFY(pinned->hasEnded());
        // Pinned, an ended process can never be confused with a newcomer on its PID.
        QVERIFY(!pinned->kill());
        QVERIFY(bystander.stillRunning());
        for (int fd : {ours, serverEnd, clientServerEnd, listener})
            ::close(fd);
    }
};

QTEST_GUILESS_MAIN(TestProcessControl)
#include "test_process_control.moc"
