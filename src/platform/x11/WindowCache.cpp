#include "WindowCache.h"

#include "X11Connection.h"

#include <QLoggingCategory>

#include <xcb/res.h>

#include <utility>
#include <vector>

namespace {
Q_LOGGING_CATEGORY(lcCache, "com.Idlewatch.Idlewatch.X11Workspace", QtInfoMsg)
} // namespace

WindowCache::WindowCache(X11Connection& connection)
    : m_x(connection) {}

void WindowCache::start() {
    const uint32_t rootMask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    m_x.sent(xcb_change_window_attributes(m_x.xcb(), m_x.root(), XCB_CW_EVENT_MASK, &rootMask));
    m_clientListDirty = true;
    m_activeDirty = true;
}

const WindowState* WindowCache::window(WindowId id) const {
    auto it = m_windows.constFind(id);
    return it == m_windows.constEnd() ? nullptr : &*it;
}

WindowCache::Changes WindowCache::update(bool readSocket) {
    if (m_broken)
        return {};
    xcb_connection_t* c = m_x.xcb();
    for (;;) {
        while (xcb_generic_event_t* event =
                   readSocket ? xcb_poll_for_event(c) : xcb_poll_for_queued_event(c)) {
            handleEvent(event);
            std::free(event);
        }
        if (m_x.hasError()) {
            m_broken = true;
            for (auto it = m_windows.cbegin(); it != m_windows.cend(); ++it)
                m_changes.removed.insert(it.key());
            m_changes.updated.clear();
            m_changes.clientList = true;
            m_clientList.clear();
            m_windows.clear();
            m_activeWindow = XCB_NONE;
            break;
        }
        if (!m_clientListDirty && !m_activeDirty && m_windowsToLoad.isEmpty() &&
            m_dirtyProperties.isEmpty())
            break;
        fetchDirty();
        // Replies were read from the socket together with any events behind them.
        readSocket = false;
    }
    return std::exchange(m_changes, {});
}

void WindowCache::handleEvent(xcb_generic_event_t* event) {
    switch (event->response_type & 0x7f) {
    case 0: {
        // A window that vanished before our request reached it; ordinary churn.
        const auto* e = reinterpret_cast<xcb_generic_error_t*>(event);
        qCDebug(lcCache) << "X error" << e->error_code << "for resource" << e->resource_id;
        break;
    }
    case XCB_PROPERTY_NOTIFY: {
        const auto* e = reinterpret_cast<xcb_property_notify_event_t*>(event);
        if (e->window == m_x.root()) {
            if (e->atom == m_x.atoms()._NET_CLIENT_LIST)
                m_clientListDirty = true;
            else if (e->atom == m_x.atoms()._NET_ACTIVE_WINDOW)
                m_activeDirty = true;
        } else if (m_windows.contains(e->window) && m_x.isTracked(e->atom)) {
            // Busy properties (user time, frame extents) are none of our business.
            m_dirtyProperties[e->window].insert(e->atom);
        }
        break;
    }
    case XCB_CREATE_NOTIFY: {
        // A new window with a remembered id: the old one is gone, whatever we missed.
        const auto* e = reinterpret_cast<xcb_create_notify_event_t*>(event);
        if (m_windows.contains(e->window))
            forgetWindow(e->window);
        break;
    }
    case XCB_DESTROY_NOTIFY: {
        const auto* e = reinterpret_cast<xcb_destroy_notify_event_t*>(event);
        if (m_windows.contains(e->window))
            forgetWindow(e->window);
        break;
    }
    case XCB_MAP_NOTIFY: {
        const auto* e = reinterpret_cast<xcb_map_notify_event_t*>(event);
        if (auto it = m_windows.find(e->window); it != m_windows.end()) {
            it->mapped = it->everMapped = true;
            markUpdated(e->window);
        }
        break;
    }
    case XCB_UNMAP_NOTIFY: {
        const auto* e = reinterpret_cast<xcb_unmap_notify_event_t*>(event);
        if (auto it = m_windows.find(e->window); it != m_windows.end()) {
            it->mapped = false;
            markUpdated(e->window);
        }
        break;
    }
    default:
        break;
    }
}

void WindowCache::markUpdated(WindowId id) {
    m_changes.updated.insert(id);
}

void WindowCache::forgetWindow(WindowId id) {
    m_windows.remove(id);
    if (m_clientList.removeAll(id))
        m_changes.clientList = true;
    m_windowsToLoad.remove(id);
    m_dirtyProperties.remove(id);
    m_changes.updated.remove(id);
    m_changes.removed.insert(id);
}

void WindowCache::fetchDirty() {
    xcb_connection_t* c = m_x.xcb();
    const xcb_ewmh_connection_t& ewmh = m_x.atoms();
    const bool wantList = std::exchange(m_clientListDirty, false);
    const bool wantActive = std::exchange(m_activeDirty, false);
    xcb_get_property_cookie_t listCookie{}, activeCookie{};
    if (wantList)
        listCookie = m_x.sent(xcb_get_property(c, 0, m_x.root(), ewmh._NET_CLIENT_LIST,
                                               XCB_ATOM_WINDOW, 0, 1u << 16));
    if (wantActive)
        activeCookie = m_x.sent(
            xcb_get_property(c, 0, m_x.root(), ewmh._NET_ACTIVE_WINDOW, XCB_ATOM_WINDOW, 0, 1));

    if (wantList) {
        XcbReply<xcb_get_property_reply_t> r(xcb_get_property_reply(c, listCookie, nullptr));
        QList<WindowId> list;
        for (uint32_t id : property32(r.get()))
            if (!list.contains(id))
                list.append(id);
        const QSet<WindowId> now(list.cbegin(), list.cend());
        // A window that left the list may be destroyed and its id reused at any moment.
        const QList<WindowId> known = m_windows.keys();
        for (WindowId id : known)
            if (!now.contains(id))
                forgetWindow(id);
        for (WindowId id : std::as_const(list))
            if (!m_windows.contains(id))
                m_windowsToLoad.insert(id);
        m_clientList = list;
        m_changes.clientList = true;
    }
    if (wantActive) {
        XcbReply<xcb_get_property_reply_t> r(xcb_get_property_reply(c, activeCookie, nullptr));
        const QList<uint32_t> value = property32(r.get());
        m_activeWindow = value.isEmpty() ? XCB_NONE : value.first();
        m_changes.activeWindow = true;
    }

    const QList<WindowId> load(m_windowsToLoad.cbegin(), m_windowsToLoad.cend());
    m_windowsToLoad.clear();
    const auto properties = std::exchange(m_dirtyProperties, {});
    qCDebug(lcCache) << "refresh: client list" << wantList << "active window" << wantActive
                     << "new windows" << load.size() << "changed windows" << properties.size();
    if (!load.isEmpty() || !properties.isEmpty())
        loadWindows(load, properties);
}

void WindowCache::loadWindows(const QList<WindowId>& ids,
                              const QHash<WindowId, QSet<xcb_atom_t>>& dirty) {
    xcb_connection_t* c = m_x.xcb();
    struct PropertyRequest {
        WindowId window;
        xcb_atom_t atom;
        xcb_get_property_cookie_t cookie;
    };
    struct WindowRequest {
        WindowId window;
        xcb_get_window_attributes_cookie_t attributes;
        xcb_res_query_client_ids_cookie_t clientIds;
    };
    std::vector<PropertyRequest> propertyRequests;
    std::vector<WindowRequest> windowRequests;
    auto requestProperty = [&](WindowId id, xcb_atom_t atom) {
        propertyRequests.push_back(
            {id, atom,
             m_x.sent(xcb_get_property(c, 0, id, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024))});
    };

    // Everything is sent before the first reply is read: one round trip for the batch.
    for (WindowId id : ids) {
        // Subscribe before reading, so no change between the two is missed.
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        m_x.sent(xcb_change_window_attributes(c, id, XCB_CW_EVENT_MASK, &mask));
        WindowRequest request{id, m_x.sent(xcb_get_window_attributes(c, id)), {}};
        if (m_x.hasXResource()) {
            xcb_res_client_id_spec_t spec{id, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
            request.clientIds = m_x.sent(xcb_res_query_client_ids(c, 1, &spec));
        }
        windowRequests.push_back(request);
        for (xcb_atom_t atom : m_x.trackedAtoms())
            requestProperty(id, atom);
    }
    for (auto it = dirty.cbegin(); it != dirty.cend(); ++it)
        for (xcb_atom_t atom : it.value())
            requestProperty(it.key(), atom);

    QSet<WindowId> gone;
    QHash<WindowId, WindowState> fresh;
    for (const WindowRequest& request : windowRequests) {
        xcb_generic_error_t* error = nullptr;
        XcbReply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, request.attributes, &error));
        std::free(error);
        WindowState w;
        if (!attributes) {
            gone.insert(request.window);
        } else {
            w.mapped = attributes->map_state != XCB_MAP_STATE_UNMAPPED;
            w.everMapped = w.mapped;
        }
        if (m_x.hasXResource()) {
            XcbReply<xcb_res_query_client_ids_reply_t> clientIds(
                xcb_res_query_client_ids_reply(c, request.clientIds, nullptr));
            if (clientIds) {
                for (auto it = xcb_res_query_client_ids_ids_iterator(clientIds.get()); it.rem;
                     xcb_res_client_id_value_next(&it)) {
                    if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
                        xcb_res_client_id_value_value_length(it.data) >= 1)
                        w.resPid = *xcb_res_client_id_value_value(it.data);
                }
            }
        }
        fresh.insert(request.window, w);
    }
    for (const PropertyRequest& request : propertyRequests) {
        xcb_generic_error_t* error = nullptr;
        XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, request.cookie, &error));
        if (error) {
            if (error->error_code == XCB_WINDOW)
                gone.insert(request.window);
            std::free(error);
            continue;
        }
        WindowState* w = nullptr;
        if (auto it = fresh.find(request.window); it != fresh.end())
            w = &*it;
        else if (auto known = m_windows.find(request.window); known != m_windows.end())
            w = &*known;
        if (w)
            applyProperty(*w, request.atom, reply.get());
    }

    for (auto it = fresh.cbegin(); it != fresh.cend(); ++it) {
        if (gone.contains(it.key()) || !m_clientList.contains(it.key()))
            continue;
        m_windows.insert(it.key(), *it);
        markUpdated(it.key());
    }
    for (WindowId id : std::as_const(gone))
        if (m_windows.contains(id))
            forgetWindow(id);
    for (auto it = dirty.cbegin(); it != dirty.cend(); ++it)
        if (m_windows.contains(it.key()))
            markUpdated(it.key());
}

void WindowCache::applyProperty(WindowState& w, xcb_atom_t atom,
                                xcb_get_property_reply_t* reply) const {
    const xcb_ewmh_connection_t& ewmh = m_x.atoms();
    const bool empty = !reply || reply->type == XCB_NONE;
    if (atom == ewmh._NET_WM_PID) {
        const QList<uint32_t> v = property32(reply);
        w.netWmPid = empty || v.isEmpty() ? 0 : qint64(v.first());
    } else if (atom == XCB_ATOM_WM_CLASS) {
        const QList<QByteArray> parts = propertyStrings(reply);
        w.wmInstance = parts.size() > 0 ? QString::fromLocal8Bit(parts[0]) : QString();
        w.wmClass = parts.size() > 1 ? QString::fromLocal8Bit(parts[1]) : QString();
    } else if (atom == XCB_ATOM_WM_CLIENT_MACHINE) {
        const QList<QByteArray> parts = propertyStrings(reply);
        w.clientMachine = parts.isEmpty() ? QByteArray() : parts.first();
    } else if (atom == ewmh._NET_WM_WINDOW_TYPE) {
        w.type = WindowType::Untyped;
        // The first type this code understands wins; later ones are fallbacks.
        for (uint32_t t : property32(reply)) {
            if (t == ewmh._NET_WM_WINDOW_TYPE_NORMAL)
                w.type = WindowType::Normal;
            else if (t == ewmh._NET_WM_WINDOW_TYPE_DIALOG)
                w.type = WindowType::Dialog;
            else if (t == ewmh._NET_WM_WINDOW_TYPE_UTILITY ||
                     t == ewmh._NET_WM_WINDOW_TYPE_TOOLBAR || t == ewmh._NET_WM_WINDOW_TYPE_MENU)
                w.type = WindowType::Utility;
            else if (t == ewmh._NET_WM_WINDOW_TYPE_DOCK)
                w.type = WindowType::Dock;
            else if (t == ewmh._NET_WM_WINDOW_TYPE_DESKTOP)
                w.type = WindowType::Desktop;
            else if (t == ewmh._NET_WM_WINDOW_TYPE_SPLASH ||
                     t == ewmh._NET_WM_WINDOW_TYPE_NOTIFICATION)
                w.type = WindowType::Other;
            else
                continue;
            break;
        }
    } else if (atom == ewmh._NET_WM_STATE) {
        const QList<uint32_t> states = property32(reply);
        w.hidden = states.contains(ewmh._NET_WM_STATE_HIDDEN);
        w.modal = states.contains(ewmh._NET_WM_STATE_MODAL);
        w.skipTaskbar = states.contains(ewmh._NET_WM_STATE_SKIP_TASKBAR);
        w.fullscreen = states.contains(ewmh._NET_WM_STATE_FULLSCREEN);
    } else if (atom == ewmh.WM_PROTOCOLS) {
        w.deleteWindowProtocol = property32(reply).contains(m_x.wmDeleteWindow());
    } else if (atom == XCB_ATOM_WM_TRANSIENT_FOR) {
        const QList<uint32_t> v = property32(reply);
        w.transientFor = v.isEmpty() ? XCB_NONE : WindowId(v.first());
    } else if (atom == m_x.gtkApplicationId()) {
        w.gtkApplicationId = propertyText(reply);
    } else if (atom == m_x.kdeDesktopFile()) {
        w.kdeDesktopFile = propertyText(reply);
    } else if (atom == ewmh._NET_WM_NAME || atom == XCB_ATOM_WM_NAME) {
        (atom == XCB_ATOM_WM_NAME ? w.wmName : w.title) = propertyText(reply);
    }
}
