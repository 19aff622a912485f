#pragma once

// Sending, reading and dispatching on a Wayland connection without ever waiting, for every
// Wayland client of the backends. Header-only: only targets that link wayland-client use it.

#include <poll.h>
#include <wayland-client.h>

#include <cerrno>

namespace WaylandPump {

// A full socket keeps the rest buffered for the next flush: still on its way.
inline bool flush(wl_display* display) {
    return wl_display_flush(display) >= 0 || errno == EAGAIN;
}

// Dispatches what is queued, sends what is buffered, reads what has arrived (when
// `readSocket`, and only if something has) and dispatches that too. False once the
// connection has failed.
inline bool pump(wl_display* display, bool readSocket = true) {
    while (wl_display_prepare_read(display) != 0)
        if (wl_display_dispatch_pending(display) < 0)
            return false;
    flush(display);
    pollfd p{wl_display_get_fd(display), POLLIN, 0};
    if (readSocket && ::poll(&p, 1, 0) > 0) {
        if (wl_display_read_events(display) < 0)
            return false;
    } else {
        wl_display_cancel_read(display);
    }
    return wl_display_dispatch_pending(display) >= 0;
}

} // namespace WaylandPump
