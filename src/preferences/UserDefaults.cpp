#include "UserDefaults.h"

#include "AppIdentity.h"
#include "DefaultsFile.h"
#include "platform/linux/FileLock.h"
#include "platform/linux/SafeFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcUserDefaults, "com.Idlewatch.Idlewatch.UserDefaults", QtInfoMsg)

namespace {

// A writer holds the lock for a few milliseconds; one that holds it longer (stopped, or
// stuck on a slow disk) is not waited for on the UI thread: the write goes ahead without.
constexpr int kLockWaitMs = 250;

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Replaces `target` with `bytes` through a temporary file in the same folder. Every step
// is checked: on any failure the temporary file is removed and `target` is untouched.
bool replaceFile(const QString& target, const QByteArray& bytes, QString* why) {
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
    // A full disk may only show when the data is flushed.
    if (::fsync(fd) != 0 && errno != EINVAL)
        return fail(QStringLiteral("flushing to disk"), errno);
    struct stat written {};
    if (::fstat(fd, &written) != 0)
        return fail(QStringLiteral("checking the written file"), errno);
    if (written.st_size != bytes.size())
        return fail(QStringLiteral("checking the written file"), EIO);
    open = false;
    if (::close(fd) != 0)
        return fail(QStringLiteral("closing"), errno);
    if (::rename(temporary.constData(), QFile::encodeName(target).constData()) != 0)
        return fail(QStringLiteral("replacing the file"), errno);
    return true;
}

} // namespace

UserDefaults::UserDefaults(QString filePath, QObject* parent)
    : QObject(parent)
    , m_filePath(std::move(filePath)) {
    if (std::optional<Document> loaded = loadFromDisk())
        m_entries = std::move(loaded->entries);
}

UserDefaults::~UserDefaults() = default;

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

QString UserDefaults::keepCopy(const QString& key, const QString& sideKey) {
    const auto it = m_entries.constFind(key);
    if (it == m_entries.cend())
        return {};
    // A copy: write() below changes m_entries.
    const Value value = *it; // NOLINT(performance-unnecessary-copy-initialization)
    QString name = sideKey;
    for (int n = 2;; ++n) {
        const auto side = m_entries.constFind(name);
        if (side == m_entries.cend())
            break;
        if (*side == value)
            return name;
        name = sideKey + QLatin1Char('-') + QString::number(n);
    }
    write(name, value);
    return name;
}

void UserDefaults::write(const QString& key, const Value& value) {
    m_unsaved.insert(key);
    Entries next = m_entries;
    std::optional<FileLock> lock;
    if (!m_keptOffDisk) {
        QDir().mkpath(QFileInfo(m_filePath).absolutePath()); // a failure shows on writing
        lock.emplace(m_filePath + QStringLiteral(".lock"));
        const bool locked = lock->lock(kLockWaitMs) == FileLock::Result::Locked;
        if (!locked && !m_lockFailing)
            qCWarning(lcUserDefaults, "Writing the settings without the store's lock: %s",
                      qUtf8Printable(lock->errorString()));
        m_lockFailing = !locked;

        // Start from what is on disk so that keys written by another process survive,
        // then apply every change of ours that has not reached the file yet.
        if (std::optional<Document> disk = loadFromDisk())
            next = withUnsavedChanges(std::move(disk->entries));
    }
    next.insert(key, value);
    QString why;
    const bool saved = !m_keptOffDisk && writeFile(Document{next, m_version, m_others}, &why);
    lock.reset();

    m_lastWriteSucceeded = saved;
    if (saved) {
        m_unsaved.clear();
        if (m_writeFailing)
            qCInfo(lcUserDefaults, "Saved the settings to %s again", qUtf8Printable(m_filePath));
    } else if (!m_writeFailing && !m_keptOffDisk) {
        qCWarning(lcUserDefaults,
                  "Could not save the settings to %s (%s); changes are kept in memory and "
                  "saved with the next change",
                  qUtf8Printable(m_filePath), qUtf8Printable(why));
    }
    m_writeFailing = !saved;
    replaceEntries(std::move(next), key);
}

void UserDefaults::reload() {
    if (std::optional<Document> loaded = loadFromDisk())
        replaceEntries(withUnsavedChanges(std::move(loaded->entries)), QString());
}

UserDefaults::Entries UserDefaults::withUnsavedChanges(Entries entries) const {
    for (const QString& key : m_unsaved) {
        if (const auto mine = m_entries.constFind(key); mine != m_entries.cend())
            entries.insert(key, *mine);
    }
    return entries;
}

std::optional<UserDefaults::Document> UserDefaults::loadFromDisk() {
    if (m_keptOffDisk)
        return std::nullopt;
    Document loaded;
    QString why;
    switch (readFile(loaded, &why)) {
    case LoadResult::Loaded:
        if (loaded.isNewer() && !m_newerNoted) {
            m_newerNoted = true;
            qCInfo(lcUserDefaults,
                   "%s was written by a newer Idlewatch (format version %s): it is read as far "
                   "as this version understands it, and its version and everything else in it "
                   "are kept",
                   qUtf8Printable(m_filePath),
                   qUtf8Printable(loaded.version.toVariant().toString()));
        }
        m_version = loaded.version;
        m_others = loaded.others;
        return loaded;
    case LoadResult::Missing:
        return std::nullopt;
    case LoadResult::Unreadable:
        qCWarning(lcUserDefaults, "Cannot read %s (%s)", qUtf8Printable(m_filePath),
                  qUtf8Printable(why));
        if (!keepAsideUnreadableFile(&why)) {
            m_keptOffDisk = true;
            qCWarning(lcUserDefaults,
                      "Could not move %s aside (%s): it is left as it is and not written "
                      "during this run; settings are kept in memory only",
                      qUtf8Printable(m_filePath), qUtf8Printable(why));
        }
        return std::nullopt;
    }
    return std::nullopt;
}

void UserDefaults::replaceEntries(Entries entries, const QString& writtenKey) {
    QStringList differing;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        if (it.key() == writtenKey)
            continue;
        auto old = m_entries.constFind(it.key());
        if (old == m_entries.cend() || !(*old == it.value()))
            differing << it.key();
    }
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (it.key() != writtenKey && !entries.contains(it.key()))
            differing << it.key();
    }
    m_entries = std::move(entries);
    if (!writtenKey.isNull())
        emit changed(writtenKey);
    for (const QString& key : std::as_const(differing))
        emit changed(key);
}

UserDefaults::LoadResult UserDefaults::readFile(Document& out, QString* why) const {
    SafeFile::Contents contents = SafeFile::read(m_filePath);
    switch (contents.status) {
    case SafeFile::Contents::Status::Missing:
        return LoadResult::Missing;
    case SafeFile::Contents::Status::Unreadable:
        *why = contents.error;
        return LoadResult::Unreadable;
    case SafeFile::Contents::Status::Read:
        break;
    }
    std::optional<Document> document = DefaultsFile::parse(contents.bytes, why);
    if (!document)
        return LoadResult::Unreadable;
    out = std::move(*document);
    return LoadResult::Loaded;
}

bool UserDefaults::writeFile(const Document& document, QString* why) const {
    // A link (a dotfile manager's) is written through: the file it points to is replaced.
    QString target = m_filePath;
    if (const QFileInfo info(m_filePath); info.isSymLink()) {
        if (const QString resolved = info.canonicalFilePath(); !resolved.isEmpty())
            target = resolved;
    }
    return replaceFile(target, DefaultsFile::serialize(document), why);
}

bool UserDefaults::keepAsideUnreadableFile(QString* why) const {
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    const QString base = m_filePath + QStringLiteral(".unreadable-") + stamp;
    QString aside = base;
    struct stat st {};
    for (int n = 1; ::lstat(QFile::encodeName(aside).constData(), &st) == 0; ++n)
        aside = base + QLatin1Char('-') + QString::number(n);
    // rename(2) itself: it moves a FIFO, a device or a link as the entry it is, never by
    // copying what it holds.
    if (::rename(QFile::encodeName(m_filePath).constData(), QFile::encodeName(aside).constData()) !=
        0) {
        *why = systemError(errno);
        return false;
    }
    qCWarning(lcUserDefaults,
              "Kept the unreadable settings file as %s and started with empty "
              "defaults",
              qUtf8Printable(aside));
    return true;
}
