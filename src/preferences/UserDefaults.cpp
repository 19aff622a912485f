#include "UserDefaults.h"

#include "AppIdentity.h"
#include "DefaultsFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QStandardPaths>

Q_LOGGING_CATEGORY(lcUserDefaults, "com.Idlewatch.Idlewatch.UserDefaults", QtInfoMsg)

namespace {

// A writer holds the lock for a few milliseconds. A lock whose owner died is taken over at
// once when its PID is readable; one left empty (the owner died creating it) is taken over
// once older than this, and no write waits longer than kLockWaitMs on the UI thread.
constexpr int kStaleLockMs = 3000;
constexpr int kLockWaitMs = 2000;

} // namespace

UserDefaults::UserDefaults(QString filePath, QObject* parent)
    : QObject(parent)
    , m_filePath(std::move(filePath)) {
    if (std::optional<Entries> loaded = loadFromDisk())
        m_entries = std::move(*loaded);
}

UserDefaults::~UserDefaults() = default;

QString UserDefaults::standardFilePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Idlewatch/defaults.json");
}

UserDefaults& UserDefaults::standard() {
    // Lives until the process ends; never torn down during a run.
    static UserDefaults* store = new UserDefaults(standardFilePath());
    return *store;
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

void UserDefaults::write(const QString& key, Value value) {
    QFileInfo info(m_filePath);
    if (!QDir().mkpath(info.absolutePath()))
        qCWarning(lcUserDefaults) << "Cannot create the folder" << info.absolutePath();

    QLockFile lock(m_filePath + QStringLiteral(".lock"));
    lock.setStaleLockTime(kStaleLockMs);
    const bool locked = lock.tryLock(kLockWaitMs);
    if (!locked)
        qCWarning(lcUserDefaults) << "Writing" << key
                                  << "without the store's lock:" << lock.error();

    // Start from what is on disk so that keys written by another process survive.
    Entries base = loadFromDisk().value_or(m_entries);
    base.insert(key, std::move(value));
    m_lastWriteSucceeded = writeFile(base);
    if (!m_lastWriteSucceeded)
        qCWarning(lcUserDefaults) << "Could not save" << key << "to" << m_filePath;
    if (locked)
        lock.unlock();

    replaceEntries(std::move(base), key);
}

void UserDefaults::reload() {
    if (std::optional<Entries> loaded = loadFromDisk())
        replaceEntries(std::move(*loaded), QString());
}

std::optional<UserDefaults::Entries> UserDefaults::loadFromDisk() const {
    Entries loaded;
    switch (readFile(loaded)) {
    case LoadResult::Loaded:
        return loaded;
    case LoadResult::Missing:
        return std::nullopt;
    case LoadResult::Unreadable:
        keepAsideUnreadableFile();
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

UserDefaults::LoadResult UserDefaults::readFile(Entries& out) const {
    QFile file(m_filePath);
    if (!file.exists())
        return LoadResult::Missing;
    if (!file.open(QIODevice::ReadOnly)) {
        // Present but unreadable to us: leave it in place, use memory.
        qCWarning(lcUserDefaults) << "Cannot read" << m_filePath << file.errorString();
        return LoadResult::Missing;
    }
    QString error;
    std::optional<DefaultsFile::Entries> entries = DefaultsFile::parse(file.readAll(), &error);
    if (!entries) {
        qCWarning(lcUserDefaults) << "Cannot read" << m_filePath << error;
        return LoadResult::Unreadable;
    }
    out = std::move(*entries);
    return LoadResult::Loaded;
}

bool UserDefaults::writeFile(const Entries& entries) const {
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcUserDefaults) << "Cannot write" << m_filePath << file.errorString();
        return false;
    }
    file.write(DefaultsFile::serialize(entries));
    return file.commit();
}

void UserDefaults::keepAsideUnreadableFile() const {
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString aside = m_filePath + QStringLiteral(".unreadable-") + stamp;
    for (int n = 1; QFile::exists(aside); ++n)
        aside = m_filePath + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') +
                QString::number(n);
    if (QFile::rename(m_filePath, aside))
        qCWarning(lcUserDefaults) << "Kept the unreadable defaults file as" << aside
                                  << "and started with empty defaults";
    else
        qCWarning(lcUserDefaults) << "Could not move the unreadable defaults file" << m_filePath
                                  << "aside";
}
