#include "X11Connection.h"

#include "platform/x11/SessionCheck.h"

#include <xcb/res.h>

#include <cstring>

std::unique_ptr<X11Connection> X11Connection::open(const QByteArray& display, QString* error) {
    const QByteArray name = display.isEmpty() ? qgetenv("DISPLAY") : display;
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return nullptr;
    };
    if (name.isEmpty())
        return fail(x11DisplayError(name));
    std::unique_ptr<X11Connection> x(new X11Connection());
    x->m_c = xcb_connect(name.constData(), &x->m_screenNumber);
    if (x->hasError())
        return fail(x11DisplayError(name));

    const xcb_setup_t* setup = xcb_get_setup(x->m_c);
    x->m_resourceMask = setup->resource_id_mask;
    auto screens = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < x->m_screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return fail(QStringLiteral("Idlewatch needs an X11 display; \"%1\" has no screen %2.")
                        .arg(QString::fromLocal8Bit(name))
                        .arg(x->m_screenNumber));
    x->m_root = screens.data->root;

    xcb_connection_t* c = x->m_c;
    xcb_intern_atom_cookie_t* ewmhCookies = xcb_ewmh_init_atoms(c, &x->m_ewmh);
    auto intern = [&](const char* atomName) {
        return x->sent(xcb_intern_atom(c, 0, uint16_t(strlen(atomName)), atomName));
    };
    const auto gtkCookie = intern("_GTK_APPLICATION_ID");
    const auto kdeCookie = intern("_KDE_NET_WM_DESKTOP_FILE");
    const auto deleteCookie = intern("WM_DELETE_WINDOW");
    x->m_ewmhReady = xcb_ewmh_init_atoms_replies(&x->m_ewmh, ewmhCookies, nullptr);
    auto atomOf = [&](xcb_intern_atom_cookie_t cookie) -> xcb_atom_t {
        XcbReply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(c, cookie, nullptr));
        return r ? r->atom : XCB_NONE;
    };
    x->m_gtkApplicationId = atomOf(gtkCookie);
    x->m_kdeDesktopFile = atomOf(kdeCookie);
    x->m_wmDeleteWindow = atomOf(deleteCookie);
    if (!x->m_ewmhReady)
        return fail(QStringLiteral("Idlewatch could not read the EWMH atoms of display \"%1\".")
                        .arg(QString::fromLocal8Bit(name)));
    const xcb_ewmh_connection_t& e = x->m_ewmh;
    for (xcb_atom_t atom :
         {e._NET_WM_PID, xcb_atom_t(XCB_ATOM_WM_CLASS), xcb_atom_t(XCB_ATOM_WM_CLIENT_MACHINE),
          e._NET_WM_WINDOW_TYPE, e._NET_WM_STATE, e.WM_PROTOCOLS,
          xcb_atom_t(XCB_ATOM_WM_TRANSIENT_FOR), x->m_gtkApplicationId, x->m_kdeDesktopFile,
          e._NET_WM_NAME, xcb_atom_t(XCB_ATOM_WM_NAME)})
        if (atom != XCB_NONE)
            x->m_trackedAtoms.append(atom);

    const xcb_query_extension_reply_t* res = xcb_get_extension_data(c, &xcb_res_id);
    x->m_hasRes = res && res->present;
    if (x->m_hasRes) {
        XcbReply<xcb_res_query_version_reply_t> v(
            xcb_res_query_version_reply(c, x->sent(xcb_res_query_version(c, 1, 2)), nullptr));
        x->m_hasRes = v && (v->server_major > 1 || (v->server_major == 1 && v->server_minor >= 2));
    }
    return x;
}

X11Connection::~X11Connection() {
    if (m_ewmhReady)
        xcb_ewmh_connection_wipe(&m_ewmh);
    if (m_c)
        xcb_disconnect(m_c);
}

void X11Connection::requestClose(xcb_window_t window) {
    sent(xcb_ewmh_request_close_window(&m_ewmh, m_screenNumber, window, XCB_CURRENT_TIME,
                                       XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER));
}

void X11Connection::killClient(xcb_window_t window) {
    sent(xcb_kill_client(m_c, window));
}

void X11Connection::requestActivation(xcb_window_t window) {
    sent(xcb_ewmh_request_change_active_window(&m_ewmh, m_screenNumber, window,
                                               XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, XCB_CURRENT_TIME,
                                               XCB_NONE));
    flush();
}

QString propertyText(xcb_get_property_reply_t* reply) {
    if (!reply || reply->format != 8)
        return {};
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply));
    int len = xcb_get_property_value_length(reply);
    while (len > 0 && data[len - 1] == '\0')
        --len;
    return QString::fromUtf8(data, len);
}

QList<QByteArray> propertyStrings(xcb_get_property_reply_t* reply) {
    if (!reply || reply->format != 8)
        return {};
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply));
    const int len = xcb_get_property_value_length(reply);
    return QByteArray(data, len).split('\0');
}

QList<uint32_t> property32(xcb_get_property_reply_t* reply) {
    if (!reply || reply->format != 32)
        return {};
    const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply));
    const int count = xcb_get_property_value_length(reply) / 4;
    return QList<uint32_t>(data, data + count);
}
