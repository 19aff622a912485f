#pragma once

#include <QFile>
#include <QString>

#include <chrono>
#include <functional>
#include <future>

#include <fcntl.h>
#include <unistd.h>

// Runs `work` on another thread. False when it did not return within a second; then
// whatever is stuck opening the FIFO `fifo` is woken, so that a test fails instead of
// hanging.
inline bool returnsWithinASecond(const std::function<void()>& work, const QString& fifo = {}) {
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(std::chrono::seconds(1)) == std::future_status::ready)
        return true;
    for (int i = 0; i < 600 && !fifo.isEmpty(); ++i) {
        ::close(::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK)); // -1 is harmless
        if (done.wait_for(std::chrono::milliseconds(100)) == std::future_status::ready)
            break;
    }
    done.wait();
    return false;
}
