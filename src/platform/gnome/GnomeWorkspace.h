#pragma once

#include "platform/core/ToplevelWorkspace.h"

#include "engine/UserPresence.h"

#include <QDBusConnection>
#include <QProcessEnvironment>
#include <QString>

#include <memory>

class DesktopEntryIndex;

// The workspace of GNOME Shell under Wayland: the core fed by GnomeToplevels, which reads
// the windows from Idlewatch's Shell extension. No application can be forced to quit.
class GnomeWorkspace final : public ToplevelWorkspace {
    Q_OBJECT
public:
    // Nothing, with `error` set to one line for the user, when the extension does not answer
    // on `bus`. `index` must outlive the workspace.
    static std::unique_ptr<GnomeWorkspace> connect(const QDBusConnection& bus, QString* error,
                                                   DesktopEntryIndex& index);
    // Whether the extension is running on `bus`.
    static bool available(const QDBusConnection& bus);
    // For a GNOME session under Wayland without the extension running: what to do, for
    // stderr and the popover. Empty elsewhere.
    static QString setupAdvice(const QProcessEnvironment& env, bool extensionRunning);

private:
    using ToplevelWorkspace::ToplevelWorkspace;
};

// Mutter's idle counter (org.gnome.Mutter.IdleMonitor), and GNOME's lock screen.
class GnomeUserPresence final : public UserPresence {
public:
    // Nothing when Mutter's idle monitor is not on `bus`.
    static std::unique_ptr<GnomeUserPresence> connect(const QDBusConnection& bus,
                                                      int awayAfterSeconds = kAwayAfterSeconds);
    State state() override;

private:
    GnomeUserPresence(const QDBusConnection& bus, int awayAfterSeconds)
        : m_bus(bus)
        , m_awayAfterMs(quint64(awayAfterSeconds) * 1000) {}
    QDBusConnection m_bus;
    quint64 m_awayAfterMs;
};
