#include "SingleInstance.h"

#include "platform/linux/FdWait.h"
#include "platform/linux/FileLock.h"
#include "platform/linux/UniqueFd.h"
#include "preferences/AppIdentity.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcSingleInstance, "com.Idlewatch.Idlewatch.SingleInstance", QtInfoMsg)

// Plain Unix sockets rather than QLocalSocket: QtNetwork would cost every run a megabyte
// and a half of resident libraries for a few lines a day.
namespace {
constexpr char kDone[] = "ok";
// How long a live owner may take to answer, start-up included.
constexpr int kOwnerAnswerMs = 2000;
// A command is one short word; anything longer is no client of ours.
constexpr qsizetype kMaxCommand = 256;

std::optional<sockaddr_un> addressOf(const QString& name) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(name);
    if (path.isEmpty() || size_t(path.size()) >= sizeof(address.sun_path))
        return std::nullopt;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return address;
}

// Writes all of `bytes`, waiting while the peer's buffer is full, until the deadline.
bool writeAll(int fd, QByteArray bytes, const QDeadlineTimer& deadline) {
    while (!bytes.isEmpty()) {
        const ssize_t n = ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
        if (n > 0) {
            bytes.remove(0, n);
            continue;
        }
        if (n == 0 || !(errno == EINTR || (errno == EAGAIN && waitForFd(fd, POLLOUT, deadline))))
            return false;
    }
    return true;
}
} // namespace

// One connected client of the running instance: it sends command lines, each answered
// with one line.
class SingleInstance::Client : public QObject {
public:
    Client(int fd, SingleInstance* owner)
        : QObject(owner)
        , m_fd(fd)
        , m_owner(owner)
        , m_notifier(fd, QSocketNotifier::Read, this) {
        connect(&m_notifier, &QSocketNotifier::activated, this, &Client::read);
    }

private:
    void read() {
        char chunk[512];
        const ssize_t n = ::recv(m_fd.fd, chunk, sizeof chunk, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0 || m_buffer.size() + n > kMaxCommand) {
            m_notifier.setEnabled(false);
            deleteLater(); // gone, or not one of ours
            return;
        }
        m_buffer.append(chunk, n);
        for (qsizetype end; (end = m_buffer.indexOf('\n')) >= 0;) {
            const QByteArray command = m_buffer.left(end).trimmed();
            m_buffer.remove(0, end + 1);
            writeAll(m_fd.fd, m_owner->answer(command) + '\n', QDeadlineTimer(kOwnerAnswerMs));
        }
    }

    UniqueFd m_fd;
    SingleInstance* m_owner;
    QSocketNotifier m_notifier;
    QByteArray m_buffer;
};

QString SingleInstance::socketName() {
    QString display = qEnvironmentVariable("DISPLAY");
    for (QChar& c : display)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'.' && c != u'_' && c != u'-')
            c = u'_';
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QStringLiteral("%1/%2-%3-%4.socket")
        .arg(folder, QString::fromLatin1(kAppIdentifier))
        .arg(getuid())
        .arg(display);
}

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent)
    , m_name(std::move(name)) {}

SingleInstance::~SingleInstance() {
    // The notifiers go before the sockets they watch; the name goes with its owner.
    qDeleteAll(findChildren<QObject*>(Qt::FindDirectChildrenOnly));
    if (m_listener)
        ::unlink(QFile::encodeName(m_name).constData());
}

std::optional<QByteArray> SingleInstance::ask(const QByteArray& command, int timeoutMs) const {
    const QDeadlineTimer deadline(timeoutMs);
    const std::optional<sockaddr_un> address = addressOf(m_name);
    const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!address || socket.fd < 0)
        return std::nullopt;
    if (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
        // A full backlog: the owner is there but not accepting yet.
        if (errno != EAGAIN && errno != EINPROGRESS)
            return std::nullopt;
        int error = 0;
        socklen_t length = sizeof error;
        if (!waitForFd(socket.fd, POLLOUT, deadline) ||
            ::getsockopt(socket.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
            return std::nullopt;
    }
    if (!writeAll(socket.fd, command + '\n', deadline))
        return std::nullopt;
    QByteArray reply;
    while (!reply.contains('\n')) {
        char chunk[4096];
        const ssize_t n = ::recv(socket.fd, chunk, sizeof chunk, 0);
        if (n > 0) {
            reply.append(chunk, n);
            continue;
        }
        if (n == 0 ||
            !(errno == EINTR || (errno == EAGAIN && waitForFd(socket.fd, POLLIN, deadline))))
            return std::nullopt;
    }
    return reply.left(reply.indexOf('\n')).trimmed();
}

bool SingleInstance::askRunningInstanceToShow(int timeoutMs) const {
    return ask("show", timeoutMs) == kDone;
}

SingleInstance::ListenResult SingleInstance::listen() {
    m_ownership = std::make_unique<FileLock>(m_name + QStringLiteral(".lock"));
    switch (m_ownership->lock()) {
    case FileLock::Result::Locked:
        break; // whatever socket holds the name was left by an owner that is gone
    case FileLock::Result::HeldElsewhere:
        // A live owner, perhaps still starting; one that cannot answer (stopped, hung) is
        // never replaced.
        m_ownership.reset();
        return askRunningInstanceToShow(kOwnerAnswerMs) ? ListenResult::OtherInstance
                                                        : ListenResult::Unresponsive;
    case FileLock::Result::Unavailable:
        // Without a usable lock file only the socket tells: a name nobody answers on is
        // taken over.
        qCWarning(lcSingleInstance,
                  "Cannot take %s (%s); telling instances apart by their "
                  "socket alone",
                  qUtf8Printable(m_name + QStringLiteral(".lock")),
                  qUtf8Printable(m_ownership->errorString()));
        m_ownership.reset();
        if (askRunningInstanceToShow(500))
            return ListenResult::OtherInstance;
        break;
    }
    // A socket left by an owner that is gone, or by one that could not lock.
    ::unlink(QFile::encodeName(m_name).constData());
    const std::optional<sockaddr_un> address = addressOf(m_name);
    auto listener = std::make_unique<UniqueFd>(
        ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    // Only this user may connect: the folder is usually private, the socket is in any case.
    const mode_t mask = ::umask(0077);
    const bool bound =
        address && listener->fd >= 0 &&
        ::bind(listener->fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0;
    ::umask(mask);
    if (!bound || ::listen(listener->fd, 16) != 0)
        return ListenResult::Failed;
    m_listener = std::move(listener);
    auto* notifier = new QSocketNotifier(m_listener->fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        int fd;
        while ((fd = ::accept4(m_listener->fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >=
               0)
            new Client(fd, this);
    });
    return ListenResult::Listening;
}

QByteArray SingleInstance::answer(const QByteArray& command) {
    // Confirmed first, done after: building a window the first time may take longer than
    // the asking launch waits.
    if (command == "show")
        QMetaObject::invokeMethod(
            this, [this] { emit showRequested(); }, Qt::QueuedConnection);
    else if (command == "settings")
        QMetaObject::invokeMethod(
            this, [this] { emit settingsRequested(); }, Qt::QueuedConnection);
    else if (command == "status" && m_status)
        return m_status();
    else
        return "error: unknown command " + command.left(40);
    return kDone;
}
