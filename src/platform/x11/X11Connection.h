#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
// A reply or event xcb allocated for us.
template <class T> using XcbReply = std::unique_ptr<T, FreeDeleter>;

// The backend's own connection to the X server (not Qt's) with the atoms it reads. Every
// request goes out through sent(), which keeps the count the steady-state checks read.
class X11Connection {
public:
    // Nothing, with `error` set to one line for the user, when `display` (empty: $DISPLAY)
    // cannot be reached or lacks what an EWMH desktop offers.
    static std::unique_ptr<X11Connection> open(const QByteArray& display, QString* error);
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    xcb_connection_t* xcb() const { return m_c; }
    xcb_ewmh_connection_t* ewmh() { return &m_ewmh; }
    const xcb_ewmh_connection_t& atoms() const { return m_ewmh; }
    xcb_window_t root() const { return m_root; }
    // The bits of a resource id that vary within one client's connection.
    uint32_t resourceMask() const { return m_resourceMask; }
    // Whether the server names each window's local client PID (X-Resource 1.2).
    bool hasXResource() const { return m_hasRes; }
    bool hasError() const { return xcb_connection_has_error(m_c) != 0; }
    int fileDescriptor() const { return xcb_get_file_descriptor(m_c); }

    xcb_atom_t gtkApplicationId() const { return m_gtkApplicationId; }
    xcb_atom_t kdeDesktopFile() const { return m_kdeDesktopFile; }
    xcb_atom_t wmDeleteWindow() const { return m_wmDeleteWindow; }

    // The window properties the cache mirrors: the ones loaded for a new window and the
    // only ones whose changes are followed.
    const QList<xcb_atom_t>& trackedAtoms() const { return m_trackedAtoms; }
    bool isTracked(xcb_atom_t atom) const {
        return atom != XCB_NONE && m_trackedAtoms.contains(atom);
    }

    template <class Cookie> Cookie sent(Cookie cookie) {
        m_lastSequence = std::max<quint64>(m_lastSequence, cookie.sequence);
        return cookie;
    }
    quint64 requestCount() const { return m_lastSequence; }
    // Unflushed, a request waits in the buffer and is lost if nothing else follows.
    bool flush() { return xcb_flush(m_c) > 0; }

    // _NET_CLOSE_WINDOW, exactly as a click on the window's close button.
    void requestClose(xcb_window_t window);
    // The server closes the connection that created `window`.
    void killClient(xcb_window_t window);
    // _NET_ACTIVE_WINDOW sent as a taskbar sends it: the user asked for the window.
    void requestActivation(xcb_window_t window);

private:
    X11Connection() = default;

    xcb_connection_t* m_c = nullptr;
    xcb_ewmh_connection_t m_ewmh{};
    bool m_ewmhReady = false;
    int m_screenNumber = 0;
    xcb_window_t m_root = XCB_NONE;
    uint32_t m_resourceMask = 0;
    bool m_hasRes = false;
    xcb_atom_t m_gtkApplicationId = XCB_NONE;
    xcb_atom_t m_kdeDesktopFile = XCB_NONE;
    xcb_atom_t m_wmDeleteWindow = XCB_NONE;
    QList<xcb_atom_t> m_trackedAtoms;
    quint64 m_lastSequence = 0;
};

// Property values; empty for a missing property or one of another format.
QString propertyText(xcb_get_property_reply_t* reply);
QList<QByteArray> propertyStrings(xcb_get_property_reply_t* reply);
QList<uint32_t> property32(xcb_get_property_reply_t* reply);
