#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <sys/types.h>

// sway's IPC socket (i3-ipc framing), for the one thing the toplevel list lacks: which
// process shows a window. sway takes each client's PID from the kernel (peer credentials)
// when it connects, so the client cannot lie about it.
namespace SwayIpc {

struct Window {
    QString appId; // the app_id, or the X11 class of an XWayland window, as the list shows it
    QString title;
    qint64 pid = 0;
    bool floating = false;
};

// Every window of the tree behind the socket at `path`; nothing when sway does not answer
// within `timeoutMs`, or when the process answering is not `compositorPid` (a socket of
// another compositor would name other processes).
std::optional<QList<Window>> windows(const QByteArray& path, pid_t compositorPid,
                                     int timeoutMs = 1000);
// The windows in a GET_TREE reply.
QList<Window> parseTree(const QByteArray& json);
// The one window of the tree with this app id and title; nothing when none or several are.
const Window* soleMatch(const QList<Window>& tree, const QString& appId, const QString& title);
// The PID of the process at the other end of a connected Unix socket; 0 when unknown.
pid_t peerPid(int fd);

} // namespace SwayIpc
