#pragma once

#include "platform/core/ToplevelSource.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>

#include <memory>

// The windows GNOME Shell shows, as Idlewatch's own Shell extension exports them on the
// session bus (GNOME offers no protocol for this). The extension answers only Idlewatch's
// executable and sends its signals to it alone. Each signal only marks the list stale; the
// next update reads it whole and reports the difference. A window is withheld until it has a
// class (some clients show a nameless one for a moment).
class GnomeToplevels final : public QObject, public ToplevelSource {
    Q_OBJECT
public:
    static constexpr char kService[] = "com.Idlewatch.Idlewatch.Shell";
    static constexpr char kPath[] = "/com/Idlewatch/Idlewatch/Shell";
    static constexpr char kInterface[] = "com.Idlewatch.Idlewatch.Shell1";
    static constexpr char kExtension[] = "idlewatch@idlewatch.app";

    // Nothing, with `error` set to one line for the user, when the extension is not on `bus`
    // or refuses this program.
    static std::unique_ptr<GnomeToplevels> open(const QDBusConnection& bus, QString* error);
    // Whether the extension's name is on `bus`.
    static bool extensionRunning(const QDBusConnection& bus);
    ~GnomeToplevels() override;

    int fileDescriptor() const override { return m_wake; }
    void update(ToplevelSink& sink, bool readSocket) override;
    bool isBroken() const override { return m_broken; }
    bool requestClose(const QList<ToplevelId>& toplevels) override;

private slots:
    void windowEvent(quint64 id);
    void shellLeft();

private:
    explicit GnomeToplevels(const QDBusConnection& bus);
    // The extension's list, each window in the core's terms; nothing when the call failed.
    std::optional<QList<Toplevel>> list(QString* error = nullptr);
    // Whether an XWayland window takes WM_DELETE_WINDOW: without it, a close request is
    // turned into killing its client.
    bool x11Closeable(const QString& description);

    QDBusConnection m_bus;
    int m_wake = -1; // an eventfd, readable once a signal came
    bool m_stale = true;
    bool m_gone = false; // the extension's name left the bus
    bool m_broken = false;
    QHash<ToplevelId, Toplevel> m_known;
    QHash<ToplevelId, bool> m_x11Closeable;
};
