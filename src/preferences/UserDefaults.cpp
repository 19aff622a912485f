#include "UserDefaults.h"

#include "AppIdentity.h"
#include "DefaultsFile.h"
#include "PreferenceKeys.h"
#include "platform/linux/FileLock.h"
#include "platform/linux/SafeFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLoggingCategory>
#include <QTimer>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcUserDefaults, "com.Idlewatch.Idlewatch.UserDefaults", QtInfoMsg)

namespace {

// A writer holds the lock for a few milliseconds, a slow disk's for a second or two; one
// that holds it longer (stopped, say) is not waited for: the write goes ahead without.
constexpr int kLockWaitMs = 3000;
// Editors write in bursts (truncate, write, rename): the file is read once they settle.
constexpr int kSettleMs = 200;

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

UserDefaults::Stamp stampOf(const struct stat& st) {
    return {qint64(st.st_dev), qint64(st.st_ino), qint64(st.st_size),
            qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::optional<UserDefaults::Stamp> stampOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return stampOf(st);
}

// Replaces `target` with `bytes` through a temporary file in the same folder. Every step
// is checked: on any failure the temporary file is removed and `target` is untouched.
bool replaceFile(const QString& target, const QByteArray& bytes,
                 const std::function<void()>& beforeSync, UserDefaults::Stamp* stamp,
                 QString* why) {
    QByteArray temporary = QFile::encodeName(target) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        *why = QStringLiteral("cannot create a temporary file: %1").arg(systemError(errno));
        return false;
    }
    bool open = true;
    auto fail = [&](const QString& step, int error) {
        if (open)
            ::close(fd);
        ::unlink(temporary.constData());
        *why = QStringLiteral("%1: %2").arg(step, systemError(error));
        return false;
    };
    // The replacement keeps the permissions of the file it replaces.
    struct stat old {};
    if (::stat(QFile::encodeName(target).constData(), &old) == 0)
        (void)::fchmod(fd, old.st_mode & 07777);

    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(QStringLiteral("writing"), n < 0 ? errno : ENOSPC);
        done += n;
    }
    if (beforeSync)
        beforeSync();
    // A full disk may only show when the data is flushed.
    if (::fsync(fd) != 0 && errno != EINVAL)
        return fail(QStringLiteral("flushing to disk"), errno);
    struct stat written {};
    if (::fstat(fd, &written) != 0)
        return fail(QStringLiteral("checking the written file"), errno);
    if (written.st_size != bytes.size())
        return fail(QStringLiteral("checking the written file"), EIO);
    *stamp = stampOf(written);
    open = false;
    if (::close(fd) != 0)
        return fail(QStringLiteral("closing"), errno);
    if (::rename(temporary.constData(), QFile::encodeName(target).constData()) != 0)
        return fail(QStringLiteral("replacing the file"), errno);
    return true;
}

enum class Load { Loaded, Missing, Unreadable };

// Reads and parses the file; on Unreadable, `why` says why.
Load readDocument(const QString& path, UserDefaults::Document& out, QString* why) {
    SafeFile::Contents contents = SafeFile::read(path);
    switch (contents.status) {
    case SafeFile::Contents::Status::Missing:
        return Load::Missing;
    case SafeFile::Contents::Status::Unreadable:
        *why = contents.error;
        return Load::Unreadable;
    case SafeFile::Contents::Status::Read:
        break;
    }
    std::optional<UserDefaults::Document> document = DefaultsFile::parse(contents.bytes, why);
    if (!document)
        return Load::Unreadable;
    out = std::move(*document);
    return Load::Loaded;
}

// Moves the file aside as it is, next to itself; false (with `why`) when it cannot.
bool keepAsideUnreadableFile(const QString& path, QString* why) {
    qCWarning(lcUserDefaults, "Cannot read %s (%s)", qUtf8Printable(path), qUtf8Printable(*why));
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    const QString base = path + QStringLiteral(".unreadable-") + stamp;
    QString aside = base;
    struct stat st {};
    for (int n = 1; ::lstat(QFile::encodeName(aside).constData(), &st) == 0; ++n)
        aside = base + QLatin1Char('-') + QString::number(n);
    // rename(2) itself: it moves a FIFO, a device or a link as the entry it is, never by
    // copying what it holds.
    if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) != 0) {
        *why = systemError(errno);
        qCWarning(lcUserDefaults,
                  "Could not move %s aside (%s): it is left as it is and not written during "
                  "this run; settings are kept in memory only",
                  qUtf8Printable(path), qUtf8Printable(*why));
        return false;
    }
    qCWarning(lcUserDefaults,
              "Kept the unreadable settings file as %s and started with empty "
              "defaults",
              qUtf8Printable(aside));
    return true;
}

// The file's own folder, or the nearest one above it that exists, to see it appear.
QString nearestExistingFolder(QString folder) {
    while (!QFileInfo(folder).isDir() && folder != QDir::rootPath())
        folder = QFileInfo(folder).path();
    return folder;
}

} // namespace

// ---------------------------------------------------------------- the writing thread

// Everything one write needs, handed from the store's thread to the writer.
struct UserDefaults::Batch {
    Changes changes;
    Entries memory; // written whole when the file is missing or was set aside
    QJsonValue version;
    QJsonObject others;
    std::function<void()> beforeSync;
};

struct UserDefaults::Result {
    bool saved = false;
    bool keptOffDisk = false;
    // What the file holds now: as written, or as found when it was not written.
    std::optional<Document> document;
    std::optional<Stamp> stamp;
};

// One thread that writes one batch at a time; the store hands it the next batch once
// the previous one has finished, so changes made meanwhile are written together.
class UserDefaults::Writer {
public:
    Writer(QString path, UserDefaults* owner)
        : m_path(std::move(path))
        , m_owner(owner) {}
    ~Writer() {
        if (!m_thread.joinable())
            return;
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    void submit(Batch batch) {
        {
            const std::lock_guard lock(m_mutex);
            m_batch = std::move(batch);
        }
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        m_wake.notify_all();
    }
    Result wait() {
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [this] { return m_result.has_value(); });
        return *std::exchange(m_result, std::nullopt);
    }
    std::optional<Result> take() {
        const std::lock_guard lock(m_mutex);
        return std::exchange(m_result, std::nullopt);
    }

private:
    void run() {
        for (;;) {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || m_batch; });
            if (!m_batch)
                return;
            Batch batch = *std::exchange(m_batch, std::nullopt);
            lock.unlock();
            Result result = write(batch);
            lock.lock();
            m_result = std::move(result);
            lock.unlock();
            m_done.notify_all();
            QMetaObject::invokeMethod(
                m_owner, [owner = m_owner] { owner->takeFinishedWrite(); }, Qt::QueuedConnection);
        }
    }

    Result write(const Batch& batch) {
        Result result;
        QDir().mkpath(QFileInfo(m_path).absolutePath()); // a failure shows on writing
        FileLock lock(m_path + QStringLiteral(".lock"));
        const bool locked = lock.lock(kLockWaitMs) == FileLock::Result::Locked;
        if (!locked && !m_lockFailing)
            qCWarning(lcUserDefaults, "Writing the settings without the store's lock: %s",
                      qUtf8Printable(lock.errorString()));
        m_lockFailing = !locked;

        // Start from what is on disk so that keys written by another process survive,
        // then apply every change of ours; a collection takes only the entries we changed.
        Document next{batch.memory, batch.version, batch.others};
        QString why;
        switch (readDocument(m_path, next, &why)) {
        case Load::Loaded:
            result.document = next;
            for (auto it = batch.changes.cbegin(); it != batch.changes.cend(); ++it) {
                const auto found = next.entries.constFind(it.key());
                const std::optional<Value> onDisk =
                    found != next.entries.cend() ? std::optional(*found) : std::nullopt;
                next.entries.insert(it.key(), onDisk == it->base || !it->delta
                                                  ? it->value
                                                  : mergedOnto(it.key(), *it->delta, onDisk));
            }
            break;
        case Load::Missing:
            break;
        case Load::Unreadable:
            next = Document{batch.memory, batch.version, batch.others};
            if (!keepAsideUnreadableFile(m_path, &why)) {
                result.keptOffDisk = true;
                return result;
            }
            break;
        }
        result.saved = writeWithinBounds(next, batch.beforeSync, &result.stamp, &why);
        if (result.saved) {
            result.document = std::move(next);
            if (m_writeFailing)
                qCInfo(lcUserDefaults, "Saved the settings to %s again", qUtf8Printable(m_path));
        } else if (!m_writeFailing) {
            qCWarning(lcUserDefaults,
                      "Could not save the settings to %s (%s); changes are kept in memory and "
                      "saved with the next change",
                      qUtf8Printable(m_path), qUtf8Printable(why));
        }
        m_writeFailing = !result.saved;
        return result;
    }

    static Value mergedOnto(const QString& key, const StoredEntries::Delta& delta,
                            const std::optional<Value>& onDisk) {
        const QByteArray* bytes = onDisk ? std::get_if<QByteArray>(&*onDisk) : nullptr;
        return StoredEntries::apply(Keys::mergeOf(key), delta, bytes ? *bytes : QByteArray());
    }

    // Never a file the store would refuse to read: the least missed names go first.
    bool writeWithinBounds(Document& document, const std::function<void()>& beforeSync,
                           std::optional<Stamp>* stamp, QString* why) const {
        QByteArray bytes = DefaultsFile::serialize(document);
        for (int step = 0; bytes.size() > SafeFile::kMaxSize && step < StoredEntries::kForgetSteps;
             ++step) {
            if (const int forgotten = StoredEntries::forget(document.entries, step)) {
                qCInfo(lcUserDefaults, "The settings grew past %lld bytes: forgot %d %s",
                       SafeFile::kMaxSize, forgotten,
                       step == 0 ? "per-application switches that equal the default"
                                 : "application names unseen for a long time");
                bytes = DefaultsFile::serialize(document);
            }
        }
        if (bytes.size() > SafeFile::kMaxSize) {
            *why = QStringLiteral("%1 bytes, more than the %2 it would read back; the file is "
                                  "kept as it was")
                       .arg(bytes.size())
                       .arg(SafeFile::kMaxSize);
            return false;
        }
        // A link (a dotfile manager's) is written through: the file it points to is replaced.
        QString target = m_path;
        if (const QFileInfo info(m_path); info.isSymLink()) {
            if (const QString resolved = info.canonicalFilePath(); !resolved.isEmpty())
                target = resolved;
        }
        Stamp written;
        if (!replaceFile(target, bytes, beforeSync, &written, why))
            return false;
        *stamp = written;
        return true;
    }

    const QString m_path;
    UserDefaults* const m_owner;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake, m_done;
    std::optional<Batch> m_batch;
    std::optional<Result> m_result;
    bool m_stop = false;
    // Each trouble is logged once when it starts, not on every write (writer thread only).
    bool m_writeFailing = false;
    bool m_lockFailing = false;
};

// ---------------------------------------------------------------- the store

UserDefaults::UserDefaults(QString filePath, QObject* parent)
    : QObject(parent)
    , m_filePath(std::move(filePath))
    , m_writer(std::make_unique<Writer>(m_filePath, this)) {
    m_stamp = stampOf(m_filePath);
    Document loaded;
    QString why;
    switch (readDocument(m_filePath, loaded, &why)) {
    case Load::Loaded:
        noteNewer(loaded);
        m_entries = std::move(loaded.entries);
        m_version = loaded.version;
        m_others = loaded.others;
        break;
    case Load::Missing:
        break;
    case Load::Unreadable:
        m_keptOffDisk = !keepAsideUnreadableFile(m_filePath, &why);
        m_stamp.reset();
        break;
    }
    // Once this object's thread runs its events: a store made elsewhere and moved there
    // watches from there.
    QMetaObject::invokeMethod(this, &UserDefaults::watch, Qt::QueuedConnection);
}

UserDefaults::~UserDefaults() {
    const QSignalBlocker quiet(this);
    flush();
}

QString UserDefaults::standardFilePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Idlewatch/defaults.json");
}

bool UserDefaults::contains(const QString& key) const {
    return m_entries.contains(key);
}

std::optional<UserDefaults::Type> UserDefaults::typeOf(const QString& key) const {
    auto it = m_entries.constFind(key);
    if (it == m_entries.cend())
        return std::nullopt;
    switch (it->index()) {
    case 0:
        return Type::Integer;
    case 1:
        return Type::Boolean;
    case 2:
        return Type::Text;
    case 3:
        return Type::Data;
    default:
        return std::nullopt;
    }
}

QStringList UserDefaults::keys() const {
    return m_entries.keys();
}

namespace {
template <typename T, typename Map>
std::optional<T> lookup(const Map& entries, const QString& key) {
    auto it = entries.constFind(key);
    if (it == entries.cend())
        return std::nullopt;
    if (const T* value = std::get_if<T>(&*it))
        return *value;
    return std::nullopt;
}
} // namespace

std::optional<qint64> UserDefaults::integer(const QString& key) const {
    return lookup<qint64>(m_entries, key);
}
std::optional<bool> UserDefaults::boolean(const QString& key) const {
    return lookup<bool>(m_entries, key);
}
std::optional<QString> UserDefaults::text(const QString& key) const {
    return lookup<QString>(m_entries, key);
}
std::optional<QByteArray> UserDefaults::data(const QString& key) const {
    return lookup<QByteArray>(m_entries, key);
}

void UserDefaults::setInteger(const QString& key, qint64 value) {
    write(key, value);
}
void UserDefaults::setBoolean(const QString& key, bool value) {
    write(key, value);
}
void UserDefaults::setText(const QString& key, const QString& value) {
    write(key, value);
}
void UserDefaults::setData(const QString& key, const QByteArray& value) {
    write(key, value);
}

QString UserDefaults::keepAside(const QString& sideKey, const QByteArray& value) {
    QString name = sideKey;
    for (int n = 2;; ++n) {
        const auto side = m_entries.constFind(name);
        if (side == m_entries.cend())
            break;
        if (*side == Value(value))
            return name;
        name = sideKey + QLatin1Char('-') + QString::number(n);
    }
    write(name, value);
    return name;
}

void UserDefaults::write(const QString& key, const Value& value) {
    const auto old = m_entries.constFind(key);
    Pending change{value, old != m_entries.cend() ? std::optional(*old) : std::nullopt, {}};
    // A collection records which of its entries changed; a value of another form is
    // written whole.
    const EntryMerge merge = Keys::mergeOf(key);
    const QByteArray* before = change.base ? std::get_if<QByteArray>(&*change.base) : nullptr;
    const QByteArray* after = std::get_if<QByteArray>(&value);
    if (merge.form != EntryMerge::Form::Whole && after && (before || !change.base))
        change.delta = StoredEntries::delta(merge, before ? *before : QByteArray(), *after);
    if (const auto earlier = m_pending.constFind(key); earlier != m_pending.cend()) {
        change.base = earlier->base;
        change.delta = combined(earlier->delta, change.delta);
    }
    m_pending.insert(key, change);
    m_entries.insert(key, value);
    emit changed(key);
    startWriting();
}

std::optional<StoredEntries::Delta>
UserDefaults::combined(const std::optional<StoredEntries::Delta>& earlier,
                       const std::optional<StoredEntries::Delta>& later) {
    if (!earlier || !later)
        return std::nullopt;
    StoredEntries::Delta out = *earlier;
    out.insert(*later);
    return out;
}

void UserDefaults::startWriting() {
    if (m_keptOffDisk)
        m_lastWriteSucceeded = false;
    if (m_writing || m_pending.isEmpty() || m_keptOffDisk)
        return;
    m_writing = std::exchange(m_pending, {});
    m_writer->submit(Batch{*m_writing, m_entries, m_version, m_others, m_beforeSync});
}

void UserDefaults::takeFinishedWrite() {
    if (std::optional<Result> result = m_writer->take())
        finishWrite(std::move(*result));
}

void UserDefaults::finishWrite(Result result) {
    const Changes sent = *std::exchange(m_writing, std::nullopt);
    const bool newer = !m_pending.isEmpty();
    m_keptOffDisk = m_keptOffDisk || result.keptOffDisk;
    m_lastWriteSucceeded = result.saved;
    if (!result.saved) {
        // Back in line, under the changes made since.
        for (auto it = sent.cbegin(); it != sent.cend(); ++it) {
            const auto later = m_pending.find(it.key());
            if (later == m_pending.end()) {
                m_pending.insert(it.key(), *it);
            } else {
                later->base = it->base;
                later->delta = combined(it->delta, later->delta);
            }
        }
    }
    if (result.document)
        adopt(*result.document, result.stamp);
    if (m_reloadWhenWritten || stampOf(m_filePath) != m_stamp)
        reload();
    // A failed write is tried again with the next change, not in a loop.
    if (result.saved || newer)
        startWriting();
}

void UserDefaults::flush() {
    startWriting();
    while (m_writing)
        finishWrite(m_writer->wait());
}

void UserDefaults::reload() {
    if (m_writing) {
        m_reloadWhenWritten = true;
        return;
    }
    m_reloadWhenWritten = false;
    const std::optional<Stamp> stamp = stampOf(m_filePath);
    Document loaded;
    QString why;
    switch (readDocument(m_filePath, loaded, &why)) {
    case Load::Loaded:
        noteNewer(loaded);
        adopt(loaded, stamp);
        break;
    case Load::Missing:
        m_stamp.reset();
        break;
    case Load::Unreadable:
        // Perhaps caught halfway through an edit; the next write sets it aside if it
        // stays so.
        if (m_unreadableNoted != stamp)
            qCWarning(lcUserDefaults, "Cannot read %s (%s); the settings in memory stay",
                      qUtf8Printable(m_filePath), qUtf8Printable(why));
        m_unreadableNoted = stamp;
        m_stamp = stamp;
        break;
    }
}

void UserDefaults::noteNewer(const Document& loaded) {
    if (!loaded.isNewer() || std::exchange(m_newerNoted, true))
        return;
    qCInfo(lcUserDefaults,
           "%s was written by a newer Idlewatch (format version %s): it is read as far as this "
           "version understands it, and its version and everything else in it are kept",
           qUtf8Printable(m_filePath), qUtf8Printable(loaded.version.toVariant().toString()));
}

void UserDefaults::adopt(const Document& document, std::optional<Stamp> stamp) {
    m_version = document.version;
    m_others = document.others;
    m_stamp = stamp;
    Entries next = document.entries;
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        const auto found = next.constFind(it.key());
        const std::optional<Value> onDisk =
            found != next.cend() ? std::optional(*found) : std::nullopt;
        if (it->delta && onDisk != it->base) {
            const QByteArray* bytes = onDisk ? std::get_if<QByteArray>(&*onDisk) : nullptr;
            it->value = StoredEntries::apply(Keys::mergeOf(it.key()), *it->delta,
                                             bytes ? *bytes : QByteArray());
            it->base = onDisk;
        }
        next.insert(it.key(), it->value);
    }
    replaceEntries(std::move(next));
}

void UserDefaults::replaceEntries(Entries entries) {
    QStringList differing;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        auto old = m_entries.constFind(it.key());
        if (old == m_entries.cend() || !(*old == it.value()))
            differing << it.key();
    }
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (!entries.contains(it.key()))
            differing << it.key();
    }
    m_entries = std::move(entries);
    for (const QString& key : std::as_const(differing))
        emit changed(key);
}

void UserDefaults::watch() {
    if (!m_watcher) {
        m_watcher = new QFileSystemWatcher(this);
        m_settle = new QTimer(this);
        m_settle->setSingleShot(true);
        m_settle->setInterval(kSettleMs);
        connect(m_settle, &QTimer::timeout, this, &UserDefaults::fileMayHaveChanged);
        connect(m_watcher, &QFileSystemWatcher::fileChanged, m_settle, qOverload<>(&QTimer::start));
        connect(m_watcher, &QFileSystemWatcher::directoryChanged, m_settle,
                qOverload<>(&QTimer::start));
    }
    // A file replaced by a rename is a new file to watch; a folder made later, a new
    // folder.
    QStringList wanted{nearestExistingFolder(QFileInfo(m_filePath).absolutePath())};
    if (QFileInfo::exists(m_filePath))
        wanted << m_filePath;
    const QStringList watched = m_watcher->files() + m_watcher->directories();
    for (const QString& path : watched) {
        if (!wanted.contains(path))
            m_watcher->removePath(path);
    }
    for (const QString& path : std::as_const(wanted)) {
        if (!watched.contains(path))
            m_watcher->addPath(path);
    }
}

void UserDefaults::fileMayHaveChanged() {
    watch();
    if (stampOf(m_filePath) != m_stamp)
        reload();
}
