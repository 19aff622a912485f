#pragma once

#include "engine/Workspace.h"

#include <QByteArray>
#include <QString>

#include <memory>

class DesktopEntryIndex;
struct X11WorkspaceCore;

// The workspace of an X11 desktop with an EWMH window manager, over its own xcb
// connection. It drives the parts of the backend:
//   X11Connection    the connection, its atoms and property decoding
//   WindowCache      the managed windows, kept current from events (no round trip in the
//                    steady state)
//   ProcessTable     windows grouped into applications, and the rules read off them
//   X11Application   each RunningApplication's behaviour: identity and the quit requests
// Every query first hands what the cache saw since the last one to the table.
class X11Workspace : public Workspace {
    Q_OBJECT
public:
    // Connects to `display` (empty: $DISPLAY). Nothing, with `error` set to one line for
    // the user, when no X server can be reached. `index` must outlive the workspace.
    static std::unique_ptr<X11Workspace> connect(const QByteArray& display, QString* error,
                                                 DesktopEntryIndex& index);
    ~X11Workspace() override;

    QList<RunningApplication> runningApplications() const override;
    RunningApplication frontmostApplication() const override;
    std::optional<QString> ownApplicationId() const override;
    bool ownWindowIsActive() const override;
    std::optional<ApplicationEntry> entryAt(const QString& path) const override;
    QString entryFileSuffix() const override { return QStringLiteral("desktop"); }
    // Asks again the way a taskbar does: window managers that prevent focus stealing may
    // refuse a window the user just asked for from the tray.
    void activateOwnWindow(QWindow* window) override;

    QString iconNameForEntry(const QString& path) const override;
    QString applicationsFolder() const override;
    QList<InstalledApplication> installedApplications() const override;

    // X requests sent since the connection opened (for the steady-state checks).
    quint64 requestCount() const;

private:
    X11Workspace() = default;
    std::shared_ptr<X11WorkspaceCore> d;
};
