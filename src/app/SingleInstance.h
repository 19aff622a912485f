#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One Idlewatch per user and display. The first instance listens on a local socket in the
// user's runtime folder; a later launch asks it to show its popover and exits. This is
// also how a desktop without a tray reaches Idlewatch.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // Per user (the runtime folder is private to the user) and per display, so each X
    // session of one user gets its own instance.
    static QString socketName();

    explicit SingleInstance(QString name = socketName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // Asks a running instance to show its popover. True only when it confirmed.
    bool askRunningInstanceToShow(int timeoutMs = 2000) const;
    enum class ListenResult {
        Listening,
        OtherInstance, // another instance answers on the name; it was asked to show
        Failed,
    };
    // Starts listening; replaces a socket file left behind by a crashed instance.
    ListenResult listen();

signals:
    void showRequested();

private:
    QString m_name;
    QLocalServer* m_server = nullptr;
};
