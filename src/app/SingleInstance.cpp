#include "SingleInstance.h"

#include "platform/linux/FileLock.h"
#include "preferences/AppIdentity.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QStandardPaths>

#include <unistd.h>

Q_LOGGING_CATEGORY(lcSingleInstance, "com.Idlewatch.Idlewatch.SingleInstance", QtInfoMsg)

namespace {
constexpr char kDone[] = "ok";
// How long a live owner may take to answer, start-up included.
constexpr int kOwnerAnswerMs = 2000;
} // namespace

QString SingleInstance::socketName() {
    QString display = qEnvironmentVariable("DISPLAY");
    display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
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

SingleInstance::~SingleInstance() = default;

std::optional<QByteArray> SingleInstance::ask(const QByteArray& command, int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return std::nullopt;
    socket.write(command + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return std::nullopt;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs))
            return std::nullopt;
    }
    return socket.readLine().trimmed();
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
    QLocalServer::removeServer(m_name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name))
        return ListenResult::Failed;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                while (client->canReadLine()) {
                    const QByteArray command = client->readLine().trimmed();
                    QByteArray answer = kDone;
                    if (command == "show")
                        emit showRequested();
                    else if (command == "settings")
                        emit settingsRequested();
                    else if (command == "status" && m_status)
                        answer = m_status();
                    else
                        answer = "error: unknown command " + command.left(40);
                    client->write(answer + '\n');
                    client->flush();
                }
            });
        }
    });
    return ListenResult::Listening;
}
