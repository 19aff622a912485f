#pragma once

#include "engine/UserPresence.h"

#include <QByteArray>

#include <memory>

struct xcb_connection_t;

// The X server's idle counter (MIT-SCREEN-SAVER) over a connection of its own: away after
// `awayAfterSeconds` without keyboard or pointer input, or while the screen saver (or a
// locker that drives it) is on. One round trip per question.
class X11UserPresence final : public UserPresence {
public:
    // Nothing when the display cannot be reached or lacks the extension.
    static std::unique_ptr<X11UserPresence> connect(const QByteArray& display,
                                                    int awayAfterSeconds = kAwayAfterSeconds);
    ~X11UserPresence() override;
    State state() override;

private:
    X11UserPresence(xcb_connection_t* connection, quint32 root, int awayAfterSeconds);

    xcb_connection_t* m_connection;
    quint32 m_root;
    quint32 m_awayAfterMs;
};
