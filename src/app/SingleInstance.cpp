#include "SingleInstance.h"

#include "preferences/AppIdentity.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QStandardPaths>

#include <unistd.h>

namespace {
constexpr char kShow[] = "show\n";
constexpr char kShown[] = "ok\n";
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

bool SingleInstance::askRunningInstanceToShow(int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kShow);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    return socket.readLine() == kShown;
}

SingleInstance::ListenResult SingleInstance::listen() {
    // Listening replaces whatever file holds the name, a live instance's socket included:
    // ask first, and only a name nobody answers on is taken over.
    if (askRunningInstanceToShow(500))
        return ListenResult::OtherInstance;
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
                    if (client->readLine() == kShow) {
                        emit showRequested();
                        client->write(kShown);
                        client->flush();
                    }
                }
            });
        }
    });
    return ListenResult::Listening;
}
