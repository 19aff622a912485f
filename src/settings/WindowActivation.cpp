#include "WindowActivation.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>

namespace WindowActivation {

namespace {

// _NET_ACTIVE_WINDOW with source indication 2 (a pager or taskbar): the user asked for it.
void requestActivationAsPager(QWidget* window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t* connection = x11->connection();
    static constexpr char name[] = "_NET_ACTIVE_WINDOW";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, sizeof(name) - 1, name), nullptr);
    if (!atom)
        return;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;

    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(window->winId());
    event.type = atom->atom;
    event.data.data32[0] = 2;
    event.data.data32[1] = XCB_CURRENT_TIME;
    std::free(atom);
    xcb_send_event(connection, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    // A request left in the output buffer is simply lost.
    xcb_flush(connection);
}

// A window manager acts only on a mapped window: wait for its first exposure.
class ActivateWhenExposed : public QObject {
public:
    explicit ActivateWhenExposed(QWidget* widget)
        : QObject(widget->windowHandle())
        , m_widget(widget) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose && m_widget && m_widget->windowHandle() == watched &&
            m_widget->windowHandle()->isExposed()) {
            requestActivationAsPager(m_widget);
            deleteLater();
        }
        return false;
    }

private:
    QPointer<QWidget> m_widget;
};

} // namespace

void bringToFront(QWidget* window) {
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    QWindow* handle = window->windowHandle();
    if (!handle)
        return;
    if (handle->isExposed())
        requestActivationAsPager(window);
    else
        handle->installEventFilter(new ActivateWhenExposed(window));
}

} // namespace WindowActivation
