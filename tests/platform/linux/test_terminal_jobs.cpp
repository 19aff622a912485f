// TerminalJobs against real processes on a pseudo-terminal this test opens. Shells and their
// jobs are the X11 workspace test's, in xterm.

#include "platform/linux/TerminalJobs.h"

#include "support/Files.h"

#include <QFile>
#include <QTest>

#include <csignal>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

class TestTerminalJobs : public QObject {
    Q_OBJECT
private slots:
    // A program that is no shell, on a terminal of ours, is a job. A program with a helper
    // on the terminal it was started from (a browser launched from a shell) has none.
    void anythingButAShellOnItsOwnTerminalIsAJob() {
        for (const char* command : {"exec sleep 30", "sleep 30 & exec sleep 31"}) {
            int master = -1;
            const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
            if (pid == 0) {
                ::execlp("sh", "sh", "-c", command, nullptr);
                ::_exit(127);
            }
            QVERIFY(pid > 0);
            const auto cleanup = qScopeGuard([&] {
                ::kill(-pid, SIGKILL); // its session's one process group
                ::waitpid(pid, nullptr, 0);
                ::close(master);
            });
            const QString proc = QStringLiteral("/proc/%1/").arg(pid);
            const bool helper = command[0] == 's';
            QTRY_VERIFY(QFile::symLinkTarget(proc + "exe").endsWith("/sleep") &&
                        readFile(proc + "task/" + QString::number(pid) + "/children").isEmpty() !=
                            helper);
            QVERIFY(TerminalJobs::hasRunningJob({::getpid()}));
            QCOMPARE(TerminalJobs::hasRunningJob({pid}), false);
        }
    }
};

QTEST_GUILESS_MAIN(TestTerminalJobs)
#include "test_terminal_jobs.moc"
