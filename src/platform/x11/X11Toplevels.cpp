#include "X11Toplevels.h"

X11Toplevels::X11Toplevels(std::unique_ptr<X11Connection> connection)
    : m_x(std::move(connection))
    , m_cache(*m_x) {
    m_cache.start();
}

void X11Toplevels::update(ToplevelSink& sink, bool readSocket) {
    WindowCache::Changes changes = m_cache.update(readSocket);
    // Removed first: an id in both sets belongs to a new window.
    for (WindowId id : std::as_const(changes.removed))
        sink.toplevelClosed(id);
    if (!m_cache.window(m_active))
        m_active = XCB_NONE;
    if (changes.activeWindow && m_cache.window(m_cache.activeWindow()) &&
        m_cache.activeWindow() != m_active) {
        changes.updated << m_active << m_cache.activeWindow();
        m_active = m_cache.activeWindow();
    }
    for (WindowId id : std::as_const(changes.updated))
        if (const WindowState* w = m_cache.window(id))
            sink.toplevelChanged(toplevel(id, *w));
}

Toplevel X11Toplevels::toplevel(WindowId id, const WindowState& w) const {
    Toplevel t;
    t.id = id;
    t.appId = w.gtkApplicationId;
    t.desktopEntry = w.kdeDesktopFile;
    t.wmClass = w.wmClass;
    t.wmInstance = w.wmInstance;
    t.title = w.title.isEmpty() ? w.wmName : w.title;
    if (w.resPid > 0) {
        t.pid = w.resPid;
        t.pidSource = PidSource::Proven;
    } else if (w.netWmPid > 0) {
        // A remote client, or a server without X-Resource.
        t.pid = w.netWmPid;
        t.pidSource = PidSource::Claimed;
        t.host = w.clientMachine;
    }
    t.client = id & ~m_x->resourceMask();
    switch (w.type) {
    case WindowType::Dialog:
        t.kind = ToplevelKind::Dialog;
        break;
    case WindowType::Utility:
    case WindowType::Other:
        t.kind = ToplevelKind::Utility;
        break;
    case WindowType::Dock:
    case WindowType::Desktop:
        t.kind = ToplevelKind::DesktopPart;
        break;
    default:
        break;
    }
    // "Transient for the desktop" is a main window.
    t.hasParent = w.transientFor != XCB_NONE && w.transientFor != m_x->root();
    t.modal = w.modal;
    t.skipTaskbar = w.skipTaskbar;
    t.active = id == m_active;
    t.minimized = w.hidden;
    t.fullscreen = w.fullscreen;
    // A minimised window is unmapped, but its application has long finished launching.
    t.shown = w.everMapped || w.hidden;
    // Without WM_DELETE_WINDOW a window manager answers a close request by killing the client.
    t.closeable = w.deleteWindowProtocol;
    return t;
}

bool X11Toplevels::requestClose(const QList<ToplevelId>& toplevels) {
    // All in one batch, flushed: a request left in the buffer is lost.
    for (ToplevelId id : toplevels)
        m_x->requestClose(xcb_window_t(id));
    return m_x->flush();
}

bool X11Toplevels::forceClose(const QList<ToplevelId>& toplevels) {
    // The server closes exactly the connection that made each window: Xlib, GTK, Qt and
    // Electron clients end with it, and no other process can be reached.
    for (ToplevelId id : toplevels)
        m_x->killClient(xcb_window_t(id));
    return m_x->flush();
}
