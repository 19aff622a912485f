#include "SafeFile.h"
#include "UniqueFd.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SafeFile {

namespace {

Contents unreadable(const QString& why) {
    return Contents{Contents::Status::Unreadable, {}, why};
}

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

Contents read(const QString& path, qint64 maxSize) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer. O_NOCTTY: a
    // terminal at the path must not become ours.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT)
            return Contents{Contents::Status::Missing, {}, {}};
        return unreadable(systemError(error));
    }
    const UniqueFd closer(fd);

    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return unreadable(systemError(errno));
    if (!S_ISREG(st.st_mode))
        return unreadable(QStringLiteral("not a regular file"));
    if (st.st_size > maxSize)
        return unreadable(QStringLiteral("larger than %1 bytes").arg(maxSize));

    // One byte past the limit tells a file that grew since fstat.
    QByteArray bytes(qsizetype(st.st_size) + 1, Qt::Uninitialized);
    qsizetype filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (bytes.size() > maxSize)
                return unreadable(QStringLiteral("larger than %1 bytes").arg(maxSize));
            bytes.resize(qMin<qint64>(maxSize + 1, bytes.size() * 2 + 4096));
        }
        const ssize_t n = ::read(fd, bytes.data() + filled, size_t(bytes.size() - filled));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return unreadable(systemError(errno));
        }
        if (n == 0)
            break;
        filled += n;
    }
    if (filled > maxSize)
        return unreadable(QStringLiteral("larger than %1 bytes").arg(maxSize));
    bytes.truncate(filled);
    return Contents{Contents::Status::Read, std::move(bytes), {}};
}

} // namespace SafeFile
