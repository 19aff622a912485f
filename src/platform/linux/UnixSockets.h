#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>

#include <optional>
#include <sys/types.h>

// Which Unix socket is connected to which, as the kernel's sock_diag interface reports it
// (what `ss -xp` shows), and which sockets a process holds. Used to prove that a process
// really holds a connection to the X server before anything is signalled.
namespace UnixSockets {

struct Socket {
    quint64 inode = 0;
    quint64 peer = 0; // inode of the socket at the other end; 0 when not connected
    QByteArray name;  // bound address; an abstract name starts with '\0'; accepted
                      // sockets carry their listener's address
};
using Table = QHash<quint64, Socket>;

// Every Unix socket of this network namespace; nothing when the kernel will not say.
std::optional<Table> table();
// Inode of one of our own file descriptors when it is a socket.
std::optional<quint64> inodeOf(int fd);
// Inodes of the sockets the process holds (its /proc/PID/fd links "socket:[N]"); nothing
// when its descriptors cannot be read.
std::optional<QList<quint64>> socketsOf(pid_t pid);
// "socket:[12345]" -> 12345.
std::optional<quint64> parseSocketLink(const QByteArray& link);

} // namespace UnixSockets
