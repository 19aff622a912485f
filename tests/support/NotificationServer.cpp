#include "NotificationServer.h"

bool NotificationServer::serveOn(QDBusConnection bus) {
    return bus.registerObject("/org/freedesktop/Notifications", this,
                              QDBusConnection::ExportAllSlots |
                                  QDBusConnection::ExportAllSignals) &&
           bus.registerService("org.freedesktop.Notifications");
}

uint NotificationServer::Notify(const QString& appName, uint replacesId, const QString& icon,
                                const QString& summary, const QString& body,
                                const QStringList& actions, const QVariantMap& hints, int timeout) {
    const uint id = replacesId ? replacesId : uint(m_notices.size() + 1);
    m_notices.append({id, appName, icon, summary, body, actions, hints, timeout});
    return id;
}
