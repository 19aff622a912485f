#include "FileLock.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}
} // namespace

FileLock::FileLock(QString path)
    : m_path(std::move(path)) {}

FileLock::~FileLock() {
    if (m_fd >= 0)
        ::close(m_fd); // drops the lock too
}

FileLock::Result FileLock::lock(int waitMs) {
    if (m_locked)
        return Result::Locked;
    if (m_fd < 0) {
        const QByteArray path = QFile::encodeName(m_path);
        // O_NONBLOCK: a FIFO at the path must not hold us up.
        constexpr int flags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
        m_fd = ::open(path.constData(), O_RDWR | O_CREAT | flags, 0600);
        if (m_fd < 0 && errno == EACCES) // a lock file we may only read locks as well
            m_fd = ::open(path.constData(), O_RDONLY | flags);
        if (m_fd < 0) {
            m_error = systemError(errno);
            return Result::Unavailable;
        }
        struct stat st {};
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            m_error = QStringLiteral("%1 is not a regular file").arg(m_path);
            ::close(m_fd);
            m_fd = -1;
            return Result::Unavailable;
        }
    }
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
            m_locked = true;
            m_error.clear();
            return Result::Locked;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error != EWOULDBLOCK) {
            m_error = systemError(error);
            return Result::Unavailable;
        }
        if (waited.elapsed() >= waitMs) {
            m_error = QStringLiteral("%1 is held by another process").arg(m_path);
            return Result::HeldElsewhere;
        }
        ::usleep(2000);
    }
}

void FileLock::unlock() {
    if (m_locked)
        ::flock(m_fd, LOCK_UN);
    m_locked = false;
}
