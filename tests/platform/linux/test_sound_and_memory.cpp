#include "app/PlatformSeams.h"
#include "engine/RunningAppsManager.h"
#include "support/FakeWorkspace.h"
#include "support/ManualClock.h"
#include "support/SoundSession.h"
#include "support/TempStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>

#include <cmath>
#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QList<qint64> childrenOf(qint64 pid) {
    QList<qint64> out;
    QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& child : file.readAll().simplified().split(' '))
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

} // namespace

class TestSoundAndMemory : public QObject {
    Q_OBJECT
private slots:
    // A terminal of a private server's plays a tone from its child: it is not asked while the
    // tone plays, and is asked at the first sweep after the tone stopped. A restart of the
    // server is followed.
    void playingApplicationIsSpared() {
        SoundSession session;
        if (!session.start())
            QSKIP(
                qPrintable("no PulseAudio server could be started here: " + session.errorString()));
        SoundServerActivity audio(session.server());
        QTRY_VERIFY_WITH_TIMEOUT(audio.streams().isConnected(), 10000);
        const QString tone = session.path("sounds") + "/tone.raw";
        QFile file(tone);
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < 8000 * 60; ++i) {
            const qint16 sample = qint16(8000 * std::sin(i * 2 * M_PI * 440 / 8000));
            file.write(reinterpret_cast<const char*>(&sample), sizeof sample);
        }
        file.close();
        const QString play = "pacat --raw --rate=8000 --channels=1 --format=s16le " + tone;
        const pid_t terminal = session.spawn({"sh", "-c", play + "; exec sleep 600"});
        QTRY_VERIFY_WITH_TIMEOUT(audio.playingProcessIds().contains(terminal), 10000);

        TempStore store;
        store->setInteger("minutesUntilClose", 60);
        FakeWorkspace workspace;
        ManualClock clock;
        const auto app = workspace.add({.name = "Player", .processIds = {terminal}});
        RunningAppsManager engine(workspace, *store, clock);
        engine.setAudioActivity(&audio);
        QCoreApplication::sendPostedEvents();
        clock.advance(3601);
        engine.checkOpenApps();
        QVERIFY(workspace.requestsFor(app).isEmpty());
        QCOMPARE(engine.appState(app), RunningAppsManager::AppState::PlayingAudio);
        for (const qint64 child : childrenOf(terminal))
            ::kill(pid_t(child), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(!audio.playingProcessIds().contains(terminal), 10000);
        engine.checkOpenApps();
        QCOMPARE(workspace.requestsFor(app).size(), 1);

        session.stopServer();
        QTRY_VERIFY_WITH_TIMEOUT(!audio.streams().isConnected(), 10000);
        QVERIFY(session.startServer());
        QTRY_VERIFY_WITH_TIMEOUT(audio.streams().isConnected(), 15000);
        const pid_t again = session.spawn({"sh", "-c", "exec " + play});
        QTRY_VERIFY_WITH_TIMEOUT(audio.playingProcessIds().contains(again), 10000);
    }

    // A forked client with two children of its own: the application's memory is theirs
    // together, as /proc's own figures, mapping by mapping, add up.
    void memoryOfAClientAndItsChildren() {
        int ready[2];
        QVERIFY(::pipe(ready) == 0);
        const pid_t client = ::fork();
        if (client == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            for (int i = 0; i < 2; ++i)
                if (::fork() == 0)
                    ::prctl(PR_SET_PDEATHSIG, SIGKILL), (void)!::write(ready[1], "c", 1), ::pause();
            (void)!::write(ready[1], "p", 1);
            ::pause();
        }
        char byte;
        for (int i = 0; i < 3; ++i)
            QVERIFY(::read(ready[0], &byte, 1) == 1);
        const QList<qint64> children = childrenOf(client);
        qint64 fromProc = smapsPss(client);
        for (const qint64 child : children)
            fromProc += smapsPss(child);
        const std::optional<qint64> measured = ProcMemoryUsage().bytesOf({client});
        for (const qint64 child : children)
            ::kill(pid_t(child), SIGKILL);
        ::kill(client, SIGKILL);
        ::waitpid(client, nullptr, 0);
        QCOMPARE(children.size(), 2);
        QVERIFY2(
            measured && std::abs(*measured - fromProc) <= fromProc / 10,
            qPrintable(QStringLiteral("%1 against %2").arg(measured.value_or(-1)).arg(fromProc)));
        QCOMPARE(ProcMemoryUsage().bytesOf({client}), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestSoundAndMemory)
#include "test_sound_and_memory.moc"
