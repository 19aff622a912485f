#include "platform/linux/ProcessControl.h"
#include "platform/linux/ProcessOwnership.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

class TestProcessControl : public QObject {
    Q_OBJECT
private slots:
    void parseStartTime() {
        const QByteArray tail = " S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 123456789 20 21\n";
        QCOMPARE(ProcessControl::parseStartTime("42 (a) (b c) x)" + tail).value_or(0),
                 123456789ull);
        QVERIFY(!ProcessControl::parseStartTime("42 (sleep) S 1 2 3"));
    }

    void ownershipRule() {
        using ProcessOwnership::Verdict;
        // Process socket 10 is connected to server socket 11, which carries the address of
        // the display's listening socket; 20 is connected elsewhere.
        const QByteArray display("\0/tmp/.X11-unix/X7", 18);
        ProcessOwnership::Facts proven;
        proven.pidFromServer = true;
        proven.recordedStartTime = proven.currentStartTime = 5000;
        proven.processSockets = QList<quint64>{30, 20, 10};
        proven.sockets = UnixSockets::Table{{10, {10, 11, {}}},
                                            {11, {11, 10, display}},
                                            {20, {20, 21, {}}},
                                            {21, {21, 20, "/run/user/1000/bus"}},
                                            {30, {30, 0, {}}}};
        proven.serverSocketName = display;
        const auto judge = [&](auto change) {
            ProcessOwnership::Facts f = proven;
            change(f);
            return ProcessOwnership::judge(f);
        };
        QCOMPARE(judge([](auto&) {}), Verdict::Proven);
        QCOMPARE(judge([](auto& f) { f.pidFromServer = false; }), Verdict::PidNotFromServer);
        // The PID reused by a later process, or the start time never recorded.
        QCOMPARE(judge([](auto& f) { f.currentStartTime = 5001; }), Verdict::ProcessChanged);
        QCOMPARE(judge([](auto& f) { f.recordedStartTime.reset(); }), Verdict::ProcessChanged);
        // Only other connections; the same path not abstract (another server); the server's
        // own end of the connection.
        QCOMPARE(judge([](auto& f) { f.processSockets->pop_back(); }), Verdict::NoServerConnection);
        QCOMPARE(judge([](auto& f) { f.serverSocketName = "/tmp/.X11-unix/X7"; }),
                 Verdict::NoServerConnection);
        QCOMPARE(judge([](auto& f) { f.processSockets = QList<quint64>{11}; }),
                 Verdict::NoServerConnection);
        // Descriptors unreadable, or a TCP display.
        QCOMPARE(judge([](auto& f) { f.processSockets.reset(); }), Verdict::Unknown);
        QCOMPARE(judge([](auto& f) { f.serverSocketName.clear(); }), Verdict::Unknown);
    }

    // A real server socket, a child connected to it and one that is not: only the first is
    // proven, and only a pinned process is ever signalled.
    void pinsOnlyAProcessHoldingTheConnection() {
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.filePath("X9"));
        const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{AF_UNIX, {}};
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        QCOMPARE(::listen(listener, 4), 0);

        // Our own connection tells the server's address, as Idlewatch's X connection does.
        const int ours = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QCOMPARE(::connect(ours, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        const QByteArray serverName =
            ProcessOwnership::peerSocketName(ours, UnixSockets::table().value());

        // The client connects, then becomes `sleep` with the connection still open.
        QProcess connected, bystander;
        connected.setChildProcessModifier([&address] {
            ::connect(::socket(AF_UNIX, SOCK_STREAM, 0), reinterpret_cast<sockaddr*>(&address),
                      sizeof address);
        });
        for (QProcess* child : {&connected, &bystander}) {
            child->start(QStringLiteral("sleep"), {QStringLiteral("60")});
            QVERIFY(child->waitForStarted());
        }
        ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        using namespace ProcessOwnership;
        Verdict verdict{};
        QVERIFY(!PinnedProcess::prove(pid_t(bystander.processId()), true,
                                      ProcessControl::startTime(pid_t(bystander.processId())),
                                      serverName, &verdict));
        QCOMPARE(verdict, Verdict::NoServerConnection);
        const auto pinned = PinnedProcess::prove(
            pid_t(connected.processId()), true,
            ProcessControl::startTime(pid_t(connected.processId())), serverName, &verdict);
        QVERIFY(verdict == Verdict::Proven && pinned && !pinned->hasEnded());
        QVERIFY(pinned->kill());
        QVERIFY(connected.waitForFinished() && connected.exitStatus() == QProcess::CrashExit);
        // Pinned, an ended process can never be confused with a newcomer on its PID.
        QVERIFY(pinned->hasEnded() && !pinned->kill());
        QCOMPARE(bystander.state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TestProcessControl)
#include "test_process_control.moc"
