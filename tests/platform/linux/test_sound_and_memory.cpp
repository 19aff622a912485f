#include "engine/RunningAppsManager.h"
#include "platform/linux/ProcessMemory.h"
#include "platform/linux/PulseAudioStreams.h"
#include "support/FakeWorkspace.h"
#include "support/ManualClock.h"
#include "support/SoundSession.h"
#include "support/TempStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>

#include <cmath>
#include <csignal>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class Streams final : public AudioActivity {
public:
    explicit Streams(const PulseAudioStreams& streams)
        : m(streams) {}
    QSet<qint64> playingProcessIds() const override { return m.playingProcessIds(); }

private:
    const PulseAudioStreams& m;
};

QList<qint64> childrenOf(qint64 pid) {
    QList<qint64> out;
    QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& child : file.readAll().simplified().split(' '))
            if (!child.isEmpty())
                out << child.toLongLong();
    return out;
}

// What /proc/PID/smaps says mapping by mapping, added up.
qint64 smapsPss(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/smaps").arg(pid));
    qint64 kib = 0;
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().split('\n'))
            if (line.startsWith("Pss:"))
                kib += line.simplified().split(' ').value(1).toLongLong();
    return kib * 1024;
}

// Touches `bytes` of fresh memory of its own, with no allocator (this runs after fork).
void touch(size_t bytes) {
    void* block =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block != MAP_FAILED)
        for (size_t i = 0; i < bytes; i += 4096)
            static_cast<volatile char*>(block)[i] = char(i >> 12);
}

} // namespace

class TestSoundAndMemory : public QObject {
    Q_OBJECT
private slots:
    // A client of a private server plays a tone from a child process: its application is
    // not asked while the tone plays, and is asked at the first sweep after it stopped.
    // The server restarting is followed.
    void playingApplicationIsSpared() {
        SoundSession session;
        if (!session.start())
            QSKIP(
                qPrintable("no PulseAudio server could be started here: " + session.errorString()));
        PulseAudioStreams streams(session.server());
        QTRY_VERIFY_WITH_TIMEOUT(streams.isConnected(), 10000);
        const QString tone = session.path("sounds") + "/tone.raw";
        QFile file(tone);
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < 8000 * 60; ++i) {
            const qint16 sample = qint16(8000 * std::sin(i * 2 * M_PI * 440 / 8000));
            file.write(reinterpret_cast<const char*>(&sample), sizeof sample);
        }
        file.close();
        const QString play = "pacat --raw --rate=8000 --channels=1 --format=s16le " + tone;
        const pid_t player = session.spawn({"sh", "-c", play + "; exec sleep 600"});
        QTRY_VERIFY_WITH_TIMEOUT(streams.playingProcessIds().contains(player), 10000);

        TempStore store;
        store->setInteger("minutesUntilClose", 60);
        FakeWorkspace workspace;
        ManualClock clock;
        Streams audio(streams);
        const auto app = workspace.add({.name = "Player", .processIds = {player}});
        const auto quiet = workspace.add({.name = "Quiet"});
        RunningAppsManager engine(workspace, *store, clock);
        engine.setAudioActivity(&audio);
        QCoreApplication::sendPostedEvents();
        clock.advance(3601);
        engine.checkOpenApps();
        QVERIFY(workspace.requestsFor(app).isEmpty());
        QCOMPARE(workspace.requestsFor(quiet).size(), 1);
        QCOMPARE(engine.appState(app), RunningAppsManager::AppState::PlayingAudio);

        for (const qint64 child : childrenOf(player))
            ::kill(pid_t(child), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(!streams.playingProcessIds().contains(player), 10000);
        clock.advance(5);
        engine.checkOpenApps();
        QCOMPARE(workspace.requestsFor(app).size(), 1);

        session.stopServer();
        QTRY_VERIFY_WITH_TIMEOUT(!streams.isConnected(), 10000);
        QVERIFY(session.startServer());
        QTRY_VERIFY_WITH_TIMEOUT(streams.isConnected(), 15000);
        const pid_t again = session.spawn({"sh", "-c", "exec " + play});
        QTRY_VERIFY_WITH_TIMEOUT(streams.playingProcessIds().contains(again), 10000);
    }

    // A client and its two children each touch 64 MiB: the application's memory is theirs
    // together, as /proc's own mapping by mapping figures add up.
    void memoryOfAClientAndItsChildren() {
        constexpr size_t kEach = 64 << 20;
        int ready[2];
        QVERIFY(::pipe(ready) == 0);
        const pid_t client = ::fork();
        if (client == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            for (int i = 0; i < 2; ++i)
                if (::fork() == 0) {
                    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                    touch(kEach);
                    (void)!::write(ready[1], "c", 1);
                    ::pause();
                    ::_exit(0);
                }
            touch(kEach);
            (void)!::write(ready[1], "p", 1);
            ::pause();
            ::_exit(0);
        }
        ::close(ready[1]);
        char byte;
        for (int i = 0; i < 3; ++i)
            QVERIFY(::read(ready[0], &byte, 1) == 1);
        ::close(ready[0]);
        const QList<qint64> children = childrenOf(client);
        qint64 fromProc = smapsPss(client);
        for (const qint64 child : children)
            fromProc += smapsPss(child);
        const std::optional<qint64> measured = ProcessMemory::pssBytes({client});
        for (const qint64 child : children)
            ::kill(pid_t(child), SIGKILL);
        ::kill(client, SIGKILL);
        ::waitpid(client, nullptr, 0);
        QCOMPARE(children.size(), 2);
        QVERIFY(measured && *measured >= qint64(3 * kEach));
        QVERIFY2(std::abs(*measured - fromProc) <= fromProc / 10,
                 qPrintable(QStringLiteral("%1 against %2").arg(*measured).arg(fromProc)));
        QCOMPARE(ProcessMemory::pssBytes({client}), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestSoundAndMemory)
#include "test_sound_and_memory.moc"
