#pragma once

#include <QByteArray>
#include <QString>

// The one way Idlewatch reads a file it does not control (its settings, the autostart
// entry, desktop entries): never blocks on a FIFO or device, never reads without end.
namespace SafeFile {

// No file Idlewatch reads comes near this.
inline constexpr qint64 kMaxSize = 1024 * 1024;

struct Contents {
    enum class Status {
        Read,       // `bytes` holds the whole file
        Missing,    // nothing at the path
        Unreadable, // present but not read; `error` says why
    };
    Status status = Status::Missing;
    QByteArray bytes;
    QString error;

    bool isRead() const { return status == Status::Read; }
};

// Opens without waiting (O_NONBLOCK), accepts only a regular file (a symbolic link is
// followed) of at most `maxSize` bytes and reads it once.
Contents read(const QString& path, qint64 maxSize = kMaxSize);

} // namespace SafeFile
