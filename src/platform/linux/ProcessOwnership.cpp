#include "ProcessOwnership.h"

#include "ProcessControl.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif

namespace ProcessOwnership {

Verdict judge(const Facts& facts) {
    if (!facts.pidFromServer)
        return Verdict::PidNotFromServer;
    if (!facts.recordedStartTime || !facts.currentStartTime ||
        *facts.recordedStartTime != *facts.currentStartTime)
        return Verdict::ProcessChanged;
    if (!facts.processSockets || !facts.sockets || facts.serverSocketName.isEmpty())
        return Verdict::Unknown;
    for (quint64 inode : *facts.processSockets) {
        const auto own = facts.sockets->constFind(inode);
        if (own == facts.sockets->constEnd() || own->peer == 0)
            continue;
        const auto peer = facts.sockets->constFind(own->peer);
        if (peer != facts.sockets->constEnd() && peer->name == facts.serverSocketName)
            return Verdict::Proven;
    }
    return Verdict::NoServerConnection;
}

QString describe(Verdict verdict) {
    switch (verdict) {
    case Verdict::Proven:
        return QStringLiteral("the process holds the window's display connection");
    case Verdict::PidNotFromServer:
        return QStringLiteral("the display server does not say which process owns the window");
    case Verdict::ProcessChanged:
        return QStringLiteral("the process that opened the window has ended");
    case Verdict::NoServerConnection:
        return QStringLiteral("the process holds no connection to the display");
    case Verdict::Unknown:
        return QStringLiteral("the process's connections cannot be read");
    }
    return {};
}

QByteArray peerSocketName(int fd, const UnixSockets::Table& sockets) {
    const std::optional<quint64> inode = UnixSockets::inodeOf(fd);
    if (!inode)
        return {};
    const auto own = sockets.constFind(*inode);
    if (own == sockets.constEnd() || own->peer == 0)
        return {};
    const auto peer = sockets.constFind(own->peer);
    return peer == sockets.constEnd() ? QByteArray() : peer->name;
}

QByteArray serverSocketName(int fd) {
    const std::optional<UnixSockets::Table> sockets = UnixSockets::table();
    return sockets ? peerSocketName(fd, *sockets) : QByteArray();
}

PinnedProcess::~PinnedProcess() {
    if (m_pidfd >= 0)
        ::close(m_pidfd);
}

std::unique_ptr<PinnedProcess> PinnedProcess::prove(pid_t pid, bool pidFromServer,
                                                    std::optional<quint64> recordedStartTime,
                                                    const QByteArray& serverSocketName,
                                                    Verdict* verdict) {
    Facts facts;
    facts.pidFromServer = pidFromServer;
    facts.recordedStartTime = recordedStartTime;
    facts.serverSocketName = serverSocketName;
    int pidfd = -1;
    if (pidFromServer && pid > 0) {
        pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
        // Read after the pidfd pins the process: if the PID was reused in between, the
        // start time shows it.
        if (pidfd >= 0) {
            facts.currentStartTime = ProcessControl::startTime(pid);
            facts.processSockets = UnixSockets::socketsOf(pid);
            facts.sockets = UnixSockets::table();
        }
    }
    const Verdict v = judge(facts);
    if (verdict)
        *verdict = v;
    if (v != Verdict::Proven) {
        if (pidfd >= 0)
            ::close(pidfd);
        return nullptr;
    }
    return std::unique_ptr<PinnedProcess>(new PinnedProcess(pid, pidfd));
}

bool PinnedProcess::hasEnded() const {
    pollfd p{m_pidfd, POLLIN, 0};
    // A pidfd becomes readable when its process exits.
    return ::poll(&p, 1, 0) == 1;
}

bool PinnedProcess::kill() const {
    return ::syscall(SYS_pidfd_send_signal, m_pidfd, SIGKILL, nullptr, 0) == 0;
}

} // namespace ProcessOwnership
