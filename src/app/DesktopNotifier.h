#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Desktop notifications (org.freedesktop.Notifications) on the session bus. It asks the
// server for its capabilities once, leaves actions out where the server has none (the
// notice's plain text says what to do instead), and never blocks: without a bus or a server
// nothing is shown and the caller hears so.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    struct Action {
        QString key; // "default" is the click on the notice itself
        QString label;
    };
    struct Notice {
        QString summary;
        QString body; // plain text, escaped for servers that read markup
        QList<Action> actions;
        // Added to the body where the server shows no actions.
        QString withoutActions;
        int timeoutMs = -1; // the server's choice
        uint replaces = 0;  // a notice of ours to replace
    };
    // Called once: the notice's id, or nothing when no server showed it.
    using Done = std::function<void(std::optional<uint>)>;

    explicit DesktopNotifier(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                             QObject* parent = nullptr);

    void notify(const Notice& notice, Done done = {});
    void close(uint id);

signals:
    // For notices of ours only.
    void actionInvoked(uint id, const QString& key);
    void closed(uint id, uint reason);

private slots:
    void serverInvokedAction(uint id, const QString& key);
    void serverClosed(uint id, uint reason);

private:
    void send(const Notice& notice, const Done& done);

    QDBusConnection m_bus;
    std::optional<QStringList> m_capabilities;
    QSet<uint> m_ours;
};
