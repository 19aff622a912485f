#pragma once

#include "UnixSockets.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <sys/types.h>

// Whether a process may be signalled on behalf of a window: only a process proven to hold
// the window's display connection. Everything else is left alone.
namespace ProcessOwnership {

// The facts read about one process, from the display server, /proc and sock_diag.
struct Facts {
    // The PID came from the display server's own view of its client (X-Resource), not from a
    // property the client set itself.
    bool pidFromServer = false;
    // Start time recorded when the window was first seen, and the one read now through a
    // pidfd of the process.
    std::optional<quint64> recordedStartTime;
    std::optional<quint64> currentStartTime;
    // Socket inodes the process holds, every Unix socket of the system, and the address of
    // the display server's socket (the peer of our own connection).
    std::optional<QList<quint64>> processSockets;
    std::optional<UnixSockets::Table> sockets;
    QByteArray serverSocketName;
};

enum class Verdict {
    Proven,
    PidNotFromServer,   // only the client's own word names the PID
    ProcessChanged,     // ended, or the PID names another process now
    NoServerConnection, // it holds no socket connected to the display server
    Unknown,            // the facts could not be read
};

Verdict judge(const Facts& facts);
// Why a verdict forbids signalling, for the log and the popover's tooltip.
QString describe(Verdict verdict);

// A process pinned by a pidfd: it can never name another process, even after its PID is
// reused.
class PinnedProcess {
public:
    ~PinnedProcess();
    PinnedProcess(const PinnedProcess&) = delete;
    PinnedProcess& operator=(const PinnedProcess&) = delete;

    // Pins `pid`, then proves it holds a connection to the server whose socket address is
    // `serverSocketName`; nothing (and the verdict) otherwise.
    static std::unique_ptr<PinnedProcess> prove(pid_t pid, bool pidFromServer,
                                                std::optional<quint64> recordedStartTime,
                                                const QByteArray& serverSocketName,
                                                Verdict* verdict = nullptr);

    pid_t pid() const { return m_pid; }
    bool hasEnded() const;
    // SIGKILL through the pidfd; true when delivered.
    bool kill() const;

private:
    PinnedProcess(pid_t pid, int pidfd)
        : m_pid(pid)
        , m_pidfd(pidfd) {}
    pid_t m_pid;
    int m_pidfd;
};

// Address of the socket at the other end of our connection `fd`: the server's socket
// address, shared by every client's connection to it. Empty when unknown (a TCP display).
QByteArray peerSocketName(int fd, const UnixSockets::Table& sockets);
// The same, with the system's socket table read now: the display server's socket address
// for our connection `fd`, as `prove` wants it.
QByteArray serverSocketName(int fd);

} // namespace ProcessOwnership
