#pragma once

#include "WindowState.h"

#include <QHash>
#include <QList>
#include <QSet>

#include <xcb/xcb.h>

class X11Connection;

// A mirror of the managed top-level windows, kept current from PropertyNotify,
// CreateNotify, DestroyNotify, MapNotify and UnmapNotify and from changes of the root's
// client list and active window. New and changed windows are read in one pipelined batch;
// in the steady state nothing is asked of the server.
class WindowCache {
public:
    // What one update changed. A window id may be both removed and updated: the old window
    // went and a new one took its id.
    struct Changes {
        bool clientList = false;   // windows joined, left or moved in the client list
        bool activeWindow = false; // _NET_ACTIVE_WINDOW was read again
        QSet<WindowId> updated;    // loaded, or a mirrored property or the map state changed
        QSet<WindowId> removed;    // destroyed, or no longer managed
    };

    explicit WindowCache(X11Connection& connection);

    // Subscribes to the root window's changes; the next update reads everything.
    void start();
    // Handles the events received (read from the socket first when `readSocket`), loads
    // what they announced, and repeats until nothing is left to load. After a lost
    // connection the cache is empty and stays so.
    Changes update(bool readSocket);
    bool isBroken() const { return m_broken; }

    const QList<WindowId>& clientList() const { return m_clientList; }
    WindowId activeWindow() const { return m_activeWindow; }
    const WindowState* window(WindowId id) const;

private:
    void handleEvent(xcb_generic_event_t* event);
    void forgetWindow(WindowId id);
    void fetchDirty();
    void loadWindows(const QList<WindowId>& ids, const QHash<WindowId, QSet<xcb_atom_t>>& dirty);
    void applyProperty(WindowState& w, xcb_atom_t atom, xcb_get_property_reply_t* reply) const;
    void markUpdated(WindowId id);

    X11Connection& m_x;
    bool m_broken = false;

    QList<WindowId> m_clientList;
    QHash<WindowId, WindowState> m_windows;
    WindowId m_activeWindow = XCB_NONE;

    // Work found while reading events.
    bool m_clientListDirty = false;
    bool m_activeDirty = false;
    QSet<WindowId> m_windowsToLoad;
    QHash<WindowId, QSet<xcb_atom_t>> m_dirtyProperties;

    Changes m_changes;
};
