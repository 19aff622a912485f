#include "X11UserPresence.h"

#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include <cstdlib>

std::unique_ptr<X11UserPresence> X11UserPresence::connect(const QByteArray& display,
                                                          int awayAfterSeconds) {
    xcb_connection_t* c = xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr);
    const xcb_query_extension_reply_t* extension =
        xcb_connection_has_error(c) ? nullptr : xcb_get_extension_data(c, &xcb_screensaver_id);
    if (!extension || !extension->present) {
        xcb_disconnect(c);
        return nullptr;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    return std::unique_ptr<X11UserPresence>(new X11UserPresence(c, root, awayAfterSeconds));
}

X11UserPresence::X11UserPresence(xcb_connection_t* connection, quint32 root, int awayAfterSeconds)
    : m_connection(connection)
    , m_root(root)
    , m_awayAfterMs(quint32(awayAfterSeconds) * 1000) {}

X11UserPresence::~X11UserPresence() {
    xcb_disconnect(m_connection);
}

UserPresence::State X11UserPresence::state() {
    xcb_screensaver_query_info_reply_t* info = xcb_screensaver_query_info_reply(
        m_connection, xcb_screensaver_query_info(m_connection, m_root), nullptr);
    if (!info)
        return State::Unknown;
    const bool away =
        info->state == XCB_SCREENSAVER_STATE_ON || info->ms_since_user_input >= m_awayAfterMs;
    free(info);
    return away ? State::Away : State::Present;
}
