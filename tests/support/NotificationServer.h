#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// A notification server (org.freedesktop.Notifications) for tests, on a bus of their own:
// it records every notice and can click one of its actions as a user would.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notice {
        uint id;
        QString summary, body;
        QStringList actions; // key, label, key, label ...
    };

    explicit NotificationServer(QStringList capabilities)
        : m_capabilities(std::move(capabilities)) {}
    // Takes the server's name on `bus`; false when it cannot.
    bool serveOn(QDBusConnection bus) {
        return bus.registerObject("/org/freedesktop/Notifications", this,
                                  QDBusConnection::ExportAllSlots |
                                      QDBusConnection::ExportAllSignals) &&
               bus.registerService("org.freedesktop.Notifications");
    }

    QList<Notice> notices() const { return m_notices; }
    void invokeAction(uint id, const QString& key) { emit ActionInvoked(id, key); }

public slots:
    QStringList GetCapabilities() const { return m_capabilities; }
    uint Notify(const QString&, uint replacesId, const QString&, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap&, int) {
        m_notices.append(
            {replacesId ? replacesId : uint(m_notices.size() + 1), summary, body, actions});
        return m_notices.last().id;
    }
    void CloseNotification(uint id) { emit NotificationClosed(id, 3); }

signals:
    void NotificationClosed(uint id, uint reason);
    void ActionInvoked(uint id, const QString& actionKey);

private:
    QStringList m_capabilities;
    QList<Notice> m_notices;
};
