#include "UnixSockets.h"
#include "UniqueFd.h"

#include <QDir>

#include <cerrno>
#include <charconv>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace UnixSockets {

namespace {

void parseMessage(const unix_diag_msg* msg, int length, Table& out) {
    Socket socket;
    socket.inode = msg->udiag_ino;
    int left = length - int(NLMSG_ALIGN(sizeof *msg));
    auto* attr = reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(msg) +
                                                 NLMSG_ALIGN(sizeof *msg));
    for (; RTA_OK(attr, left); attr = RTA_NEXT(attr, left)) {
        const auto* data = static_cast<const char*>(RTA_DATA(attr));
        const int size = int(RTA_PAYLOAD(attr));
        if (attr->rta_type == UNIX_DIAG_NAME) {
            socket.name = QByteArray(data, size);
            // A path may be bound with its terminating zeros; an abstract name starts with one.
            if (!socket.name.startsWith('\0'))
                socket.name.truncate(qsizetype(qstrnlen(data, uint(size))));
        } else if (attr->rta_type == UNIX_DIAG_PEER && size >= int(sizeof(quint32)))
            socket.peer = *reinterpret_cast<const quint32*>(data);
    }
    out.insert(socket.inode, socket);
}

} // namespace

std::optional<Table> table() {
    const UniqueFd nl(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (nl.fd < 0)
        return std::nullopt;
    struct {
        nlmsghdr header;
        unix_diag_req request;
    } query{};
    query.header.nlmsg_len = sizeof query;
    query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    query.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    query.request.sdiag_family = AF_UNIX;
    query.request.udiag_states = ~0u;
    query.request.udiag_show = UDIAG_SHOW_NAME | UDIAG_SHOW_PEER;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(nl.fd, &query, sizeof query, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) < 0)
        return std::nullopt;

    Table out;
    alignas(nlmsghdr) char buffer[32768];
    for (;;) {
        const ssize_t n = ::recv(nl.fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        // NLMSG_OK and NLMSG_NEXT, with the lengths compared as signed numbers.
        qint64 left = n;
        const auto fits = [&left](const nlmsghdr* h) {
            return left >= qint64(sizeof(nlmsghdr)) && h->nlmsg_len >= sizeof(nlmsghdr) &&
                   qint64(h->nlmsg_len) <= left;
        };
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); fits(h);
             left -= qint64(NLMSG_ALIGN(h->nlmsg_len)),
                   h = reinterpret_cast<nlmsghdr*>(reinterpret_cast<char*>(h) +
                                                   NLMSG_ALIGN(h->nlmsg_len))) {
            if (h->nlmsg_type == NLMSG_DONE)
                return out;
            if (h->nlmsg_type == NLMSG_ERROR)
                return std::nullopt;
            if (h->nlmsg_len < NLMSG_LENGTH(sizeof(unix_diag_msg)))
                continue;
            parseMessage(static_cast<const unix_diag_msg*>(NLMSG_DATA(h)),
                         int(h->nlmsg_len - NLMSG_LENGTH(0)), out);
        }
    }
}

std::optional<quint64> inodeOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode))
        return std::nullopt;
    return quint64(st.st_ino);
}

std::optional<quint64> parseSocketLink(const QByteArray& link) {
    if (!link.startsWith("socket:[") || !link.endsWith(']'))
        return std::nullopt;
    const char* begin = link.constData() + 8;
    const char* end = link.constData() + link.size() - 1;
    quint64 value = 0;
    const auto [stop, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || stop != end || begin == end)
        return std::nullopt;
    return value;
}

std::optional<QList<quint64>> socketsOf(pid_t pid) {
    if (pid <= 0)
        return std::nullopt;
    const QByteArray folder = "/proc/" + QByteArray::number(pid) + "/fd";
    QDir dir(QString::fromLatin1(folder));
    if (!dir.exists())
        return std::nullopt;
    const QStringList names = dir.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    if (names.isEmpty() && !dir.isReadable())
        return std::nullopt;
    QList<quint64> inodes;
    char target[64];
    for (const QString& name : names) {
        const QByteArray path = folder + '/' + name.toLatin1();
        const ssize_t n = ::readlink(path.constData(), target, sizeof target);
        if (n <= 0 || n == sizeof target)
            continue;
        if (const auto inode = parseSocketLink(QByteArray(target, n)))
            inodes.append(*inode);
    }
    return inodes;
}

} // namespace UnixSockets
