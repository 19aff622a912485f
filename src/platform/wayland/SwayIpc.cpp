#include "SwayIpc.h"

#include "platform/linux/FdWait.h"
#include "platform/linux/UniqueFd.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace SwayIpc {

namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr quint32 kGetTree = 4;
constexpr size_t kHeaderSize = sizeof(kMagic) + 2 * sizeof(quint32);
// A tree of a few hundred windows is well under this; anything larger is not sway.
constexpr quint32 kMaxReply = 64 * 1024 * 1024;

bool readExactly(int fd, char* data, size_t size, const QDeadlineTimer& deadline) {
    while (size > 0) {
        if (!waitForFd(fd, POLLIN, deadline))
            return false;
        const ssize_t n = ::read(fd, data, size);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
            return false;
        if (n > 0) {
            data += n;
            size -= size_t(n);
        }
    }
    return true;
}

void collect(const QJsonObject& node, bool floating, QList<Window>* out) {
    if (node.contains(QLatin1String("pid"))) {
        const QJsonValue appId = node.value(QLatin1String("app_id"));
        Window w;
        w.appId = appId.isString() ? appId.toString()
                                   : node.value(QLatin1String("window_properties"))
                                         .toObject()
                                         .value(QLatin1String("class"))
                                         .toString();
        w.title = node.value(QLatin1String("name")).toString();
        w.pid = node.value(QLatin1String("pid")).toInteger();
        w.floating = floating;
        out->append(w);
    }
    for (const auto& child : node.value(QLatin1String("nodes")).toArray())
        collect(child.toObject(), floating, out);
    for (const auto& child : node.value(QLatin1String("floating_nodes")).toArray())
        collect(child.toObject(), true, out);
}

} // namespace

pid_t peerPid(int fd) {
    ucred cred{};
    socklen_t size = sizeof cred;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 ? cred.pid : 0;
}

QList<Window> parseTree(const QByteArray& json) {
    QList<Window> out;
    collect(QJsonDocument::fromJson(json).object(), false, &out);
    return out;
}

const Window* soleMatch(const QList<Window>& tree, const QString& appId, const QString& title) {
    const Window* found = nullptr;
    for (const Window& w : tree) {
        if (w.appId != appId || w.title != title)
            continue;
        if (found)
            return nullptr;
        found = &w;
    }
    return found;
}

std::optional<QList<Window>> windows(const QByteArray& path, pid_t compositorPid, int timeoutMs) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof address.sun_path || compositorPid <= 0)
        return std::nullopt;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.fd < 0 ||
        ::connect(fd.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        peerPid(fd.fd) != compositorPid)
        return std::nullopt;

    const QDeadlineTimer deadline(timeoutMs);
    char header[kHeaderSize];
    std::memcpy(header, kMagic, sizeof kMagic);
    const quint32 request[2] = {0, kGetTree}; // payload length, message type; host order
    std::memcpy(header + sizeof kMagic, request, sizeof request);
    if (!waitForFd(fd.fd, POLLOUT, deadline) ||
        ::send(fd.fd, header, sizeof header, MSG_NOSIGNAL) != ssize_t(sizeof header))
        return std::nullopt;

    quint32 reply[2];
    if (!readExactly(fd.fd, header, sizeof header, deadline) ||
        std::memcmp(header, kMagic, sizeof kMagic) != 0)
        return std::nullopt;
    std::memcpy(reply, header + sizeof kMagic, sizeof reply);
    if (reply[1] != kGetTree || reply[0] > kMaxReply)
        return std::nullopt;
    const auto length = qsizetype(reply[0]);
    QByteArray json(length, Qt::Uninitialized);
    if (!readExactly(fd.fd, json.data(), size_t(json.size()), deadline))
        return std::nullopt;
    return parseTree(json);
}

} // namespace SwayIpc
