#pragma once

#include <QString>

// An advisory lock (flock) on a file. The kernel drops it when the holder exits or dies,
// so a crashed holder never leaves a stale lock; a stopped holder keeps it.
class FileLock {
public:
    explicit FileLock(QString path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    enum class Result {
        Locked,
        HeldElsewhere, // another open file, in this or another process, holds it
        Unavailable,   // the lock file cannot be opened or is no regular file
    };
    // Waits at most `waitMs` for another holder to let go; answers at once when the lock
    // file itself is unusable. The file is created when missing and never removed.
    Result lock(int waitMs = 0);
    void unlock();
    bool isLocked() const { return m_locked; }
    QString errorString() const { return m_error; }

private:
    QString m_path;
    QString m_error;
    int m_fd = -1;
    bool m_locked = false;
};
