#pragma once

#include "ProcessTable.h"
#include "WindowCache.h"
#include "X11Connection.h"

#include "engine/RunningApplication.h"
#include "platform/linux/DesktopEntryIndex.h"

#include <QHash>
#include <QSocketNotifier>

#include <memory>
#include <optional>

class X11Application;
class X11Workspace;

// What X11Workspace and its application handles share. Handles hold it weakly: a handle
// kept in an engine map after the workspace is gone reports an ended application.
struct X11WorkspaceCore : std::enable_shared_from_this<X11WorkspaceCore> {
    X11WorkspaceCore(X11Workspace* workspace, std::unique_ptr<X11Connection> connection,
                     DesktopEntryIndex& entries);

    // Brings the cache up to date and feeds the table from it; posts a deactivation when
    // the owner of the active window changed. `readSocket`: read what the server sent too.
    void refresh(bool readSocket);
    bool isBroken() const { return cache.isBroken(); }

    RunningApplication handleFor(const ProcessKey& key);
    // The desktop entry of a running application, worked out again only when its windows,
    // their hints or the installed entries changed.
    const std::optional<DesktopApplication>& entryFor(const ProcessKey& key);
    // Changes whenever an application's identity may have: its windows, their hints, or the
    // installed desktop entries.
    quint64 identityGeneration() const { return table.generation() + entriesGeneration; }
    DesktopEntryIndex& desktopIndex() const { return entries; }

    X11Workspace* const q;
    const std::unique_ptr<X11Connection> connection;
    WindowCache cache;
    ProcessTable table;
    DesktopEntryIndex& entries;
    quint64 entriesGeneration = 0;
    // Declared after the connection, so that it goes before the socket it watches closes.
    std::unique_ptr<QSocketNotifier> notifier;

private:
    void updateActiveOwner();

    // Per running application: its handle (so handles keep their remembered identity) and
    // its desktop entry match.
    struct Slot {
        std::shared_ptr<X11Application> handle;
        quint64 matchGeneration = ~quint64(0);
        std::optional<DesktopApplication> entry;
    };
    QHash<ProcessKey, Slot> m_slots;
    std::optional<ProcessKey> m_activeOwner;
};
