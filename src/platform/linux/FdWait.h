#pragma once

#include <QDeadlineTimer>

#include <cerrno>
#include <poll.h>

// Waits for `events` on `fd` until the deadline, through interrupted calls; false when the
// deadline passed or the wait failed.
inline bool waitForFd(int fd, short events, const QDeadlineTimer& deadline) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = ::poll(&p, 1, int(deadline.remainingTime()));
        if (r > 0)
            return true;
        if (r == 0 || errno != EINTR)
            return false;
    }
}
