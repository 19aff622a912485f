#include "DesktopNotifier.h"

#include "preferences/AppIdentity.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLoggingCategory>
#include <QTimer>

Q_LOGGING_CATEGORY(lcNotifier, "com.Idlewatch.Idlewatch.DesktopNotifier", QtInfoMsg)

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
} // namespace

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , m_bus(bus) {
    if (!m_bus.isConnected())
        return;
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(serverInvokedAction(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(serverClosed(uint, uint)));
}

void DesktopNotifier::notify(const Notice& notice, Done done) {
    if (!done)
        done = [](std::optional<uint>) {};
    if (!m_bus.isConnected()) {
        // Heard after the call returns, as from a server.
        QTimer::singleShot(0, this, [done] { done(std::nullopt); });
        return;
    }
    if (m_capabilities) {
        send(notice, done);
        return;
    }
    const QDBusMessage ask = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                            QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, notice, done](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<QStringList> reply = *w;
                if (reply.isError()) {
                    qCDebug(lcNotifier) << "No notification server:" << reply.error().message();
                    done(std::nullopt);
                    return;
                }
                m_capabilities = reply.value();
                send(notice, done);
            });
}

void DesktopNotifier::send(const Notice& notice, const Done& done) {
    QStringList actions;
    QString body = notice.body;
    if (m_capabilities->contains(QStringLiteral("actions"))) {
        for (const Action& action : notice.actions)
            actions << action.key << action.label;
    } else if (!notice.withoutActions.isEmpty()) {
        body += (body.isEmpty() ? QString() : QStringLiteral(" ")) + notice.withoutActions;
    }
    // Bodies are plain text: a name such as "Tom & Jerry <beta>" must not read as markup.
    if (m_capabilities->contains(QStringLiteral("body-markup")))
        body = body.toHtmlEscaped();
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QString id = QString::fromLatin1(kAppIdentifier);
    call << QString::fromLatin1(kAppDisplayName) << notice.replaces << id << notice.summary << body
         << actions << QVariantMap{{QStringLiteral("desktop-entry"), id}} << notice.timeoutMs;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, done](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<uint> reply = *w;
                if (reply.isError()) {
                    qCWarning(lcNotifier) << "Notification not shown:" << reply.error().message();
                    done(std::nullopt);
                    return;
                }
                m_ours.insert(reply.value());
                done(reply.value());
            });
}

void DesktopNotifier::close(uint id) {
    if (!m_bus.isConnected() || !m_ours.contains(id))
        return;
    m_bus.asyncCall(QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                   QStringLiteral("CloseNotification"))
                    << id);
}

void DesktopNotifier::serverInvokedAction(uint id, const QString& key) {
    if (m_ours.contains(id))
        emit actionInvoked(id, key);
}

void DesktopNotifier::serverClosed(uint id, uint reason) {
    if (m_ours.remove(id))
        emit closed(id, reason);
}
