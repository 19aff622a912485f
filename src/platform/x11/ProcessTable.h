#pragma once

#include "WindowState.h"

#include "engine/RunningApplication.h"
#include "platform/linux/DesktopEntryIndex.h"

#include <QHash>
#include <QList>

#include <functional>
#include <optional>
#include <vector>

// The managed windows grouped into running applications, and the rules that read one
// application off its windows. Plain data in, plain data out: the workspace feeds it what
// the window cache saw, and it never talks to the X server.
class ProcessTable {
public:
    struct Application {
        ProcessKey key;
        QList<WindowId> windows; // in client-list order
    };
    // The start time of a local process (/proc/PID/stat field 22); nothing once it ended.
    using StartTimeLookup = std::function<std::optional<quint64>(qint64 pid)>;

    // `resourceMask` is the connection setup's resource id mask; `ownPid` is this process.
    ProcessTable(WindowId root, quint32 resourceMask, qint64 ownPid,
                 StartTimeLookup startTime = {});

    // ---- fed from the window cache
    // The managed windows in the window manager's order.
    void setClientList(const QList<WindowId>& windows);
    // A window loaded or changed. A window the table has not seen before is a new one: its
    // process identity is read afresh.
    void setWindow(WindowId id, const WindowState& state);
    void removeWindow(WindowId id);
    // Groups the windows into applications again if anything fed since needs it; true when
    // it did.
    bool regroup();

    // ---- what it says
    // One application per process, in the client-list order of its first window.
    const std::vector<Application>& applications() const { return m_apps; }
    const Application* application(const ProcessKey& key) const;
    // The process holding a window the table knows.
    std::optional<ProcessKey> owner(WindowId id) const;
    const WindowState* window(WindowId id) const;
    // Changes whenever the grouping or a window's identity hints change.
    quint64 generation() const { return m_generation; }

    // Only a key from the server's own PID names a local process that may be read or
    // signalled.
    static bool isLocalProcess(const ProcessKey& key) { return key.domain == 0 && key.pid > 0; }
    // This program itself. A client claiming our PID is taken for us too: it is then left
    // alone, never quit.
    bool isOwnProcess(const ProcessKey& key) const;

    // ---- rules for one application; an unknown key has no windows
    AppRole role(const ProcessKey& key) const;
    bool isHidden(const ProcessKey& key) const;
    bool hasStarted(const ProcessKey& key) const;
    // The windows a polite quit goes to: all but the secondary ones.
    QList<WindowId> mainWindows(const ProcessKey& key) const;
    bool acceptsPoliteQuit(const ProcessKey& key) const;
    bool isAskingUser(const ProcessKey& key) const;
    bool hasModalWindow(const ProcessKey& key) const;
    // What its windows say for matching a desktop entry; the executable name is left to
    // the caller, who may read /proc.
    WindowHints hints(const ProcessKey& key) const;
    // The WM_CLASS class of its first window that has one.
    QString windowClass(const ProcessKey& key) const;

    static bool isNormalWindow(const WindowState& w);
    // A window that asks the user something on behalf of another.
    bool isSecondaryWindow(const WindowState& w) const;

private:
    struct Entry {
        WindowState state;
        ProcessKey key;
    };
    ProcessKey deriveKey(WindowId id, const WindowState& w, const ProcessKey* previous) const;
    template <class F> bool anyWindow(const ProcessKey& key, F f) const;

    WindowId m_root;
    quint32 m_resourceMask;
    qint64 m_ownPid;
    StartTimeLookup m_startTime;

    QList<WindowId> m_clientList;
    QHash<WindowId, Entry> m_windows;
    std::vector<Application> m_apps;
    QHash<ProcessKey, qsizetype> m_appIndex;
    bool m_dirty = false;
    quint64 m_generation = 0;
};
