#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class FileLock;
struct UniqueFd;

// One Idlewatch per user and display. Ownership is a lock (flock) on a file beside the
// socket, held for the life of the running instance: the kernel drops it when the process
// dies, never while it is merely stopped. The socket only carries messages: a later launch
// asks the owner to show its popover and exits. This is also how a desktop without a tray
// reaches Idlewatch.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // Per user (the runtime folder is private to the user) and per display, so each X
    // session of one user gets its own instance.
    static QString socketName();

    explicit SingleInstance(QString name = socketName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // Sends one command to the running instance: "show" (its popover), "settings" (its
    // settings window) or "status" (one line of JSON). Its one-line answer without the line
    // end, or nothing when no instance answered in time.
    std::optional<QByteArray> ask(const QByteArray& command, int timeoutMs = 2000) const;
    // Asks a running instance to show its popover. True only when it confirmed.
    bool askRunningInstanceToShow(int timeoutMs = 2000) const;
    // What the owner answers to "status".
    void setStatusProvider(std::function<QByteArray()> provider) { m_status = std::move(provider); }
    enum class ListenResult {
        Listening,
        OtherInstance, // another instance answers on the name; it was asked to show
        Unresponsive,  // another instance owns the name but did not answer in time
        Failed,
    };
    // Takes ownership and starts listening; replaces a socket file left behind by a dead
    // instance. When another process owns the name it is asked to show instead.
    ListenResult listen();

signals:
    void showRequested();
    void settingsRequested();

private:
    class Client;
    // The one-line answer to a command.
    QByteArray answer(const QByteArray& command);

    QString m_name;
    std::unique_ptr<FileLock> m_ownership;
    std::unique_ptr<UniqueFd> m_listener;
    std::function<QByteArray()> m_status;
};
