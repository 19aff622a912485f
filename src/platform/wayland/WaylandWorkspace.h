#pragma once

#include "engine/Workspace.h"

#include <QByteArray>
#include <QString>

#include <memory>

class DesktopEntryIndex;

// The workspace of a wlroots compositor (sway, Hyprland, labwc, wayfire, river ...) over its
// own Wayland connection and zwlr_foreign_toplevel_manager_v1. An application is the set of
// toplevels sharing an app_id. A per-toplevel cache, fed by the protocol's events, answers
// every query without a round trip. The protocol names no process: only on sway, whose IPC
// tree ($SWAYSOCK) names each window's process, can an application be forced to quit.
class WaylandWorkspace : public Workspace {
    Q_OBJECT
public:
    // Connects to `display` (empty: $WAYLAND_DISPLAY). Nothing, with `error` set to one line
    // for the user, when no compositor answers or it does not offer the toplevel list.
    // `index` must outlive the workspace.
    static std::unique_ptr<WaylandWorkspace> connect(const QByteArray& display, QString* error,
                                                     DesktopEntryIndex& index);
    // Whether the compositor at `display` (empty: $WAYLAND_DISPLAY) offers the toplevel list.
    // Opens and closes a bare connection and creates nothing else, so it is safe before the
    // application object exists.
    static bool available(const QByteArray& display);
    ~WaylandWorkspace() override;

    QList<RunningApplication> runningApplications() const override;
    RunningApplication frontmostApplication() const override;
    std::optional<QString> ownApplicationId() const override;
    bool ownWindowIsActive() const override;
    std::optional<ApplicationEntry> entryAt(const QString& path) const override;
    QString entryFileSuffix() const override { return QStringLiteral("desktop"); }
    bool canForceQuit() const override;
    QString iconNameForEntry(const QString& path) const override;
    QString applicationsFolder() const override;
    QList<InstalledApplication> installedApplications() const override;

private:
    explicit WaylandWorkspace(DesktopEntryIndex& index);
    struct Private;
    std::unique_ptr<Private> d;
};
