#include "UserDefaults.h"

#include "AppIdentity.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QStandardPaths>

Q_LOGGING_CATEGORY(lcUserDefaults, "com.Idlewatch.Idlewatch.UserDefaults", QtInfoMsg)

namespace {

constexpr char kFormatName[] = "com.Idlewatch.defaults";
constexpr int kFormatVersion = 1;
// A writer holds the lock for a few milliseconds. A lock whose owner died is taken over at
// once when its PID is readable; one left empty (the owner died creating it) is taken over
// once older than this, and no write waits longer than kLockWaitMs on the UI thread.
constexpr int kStaleLockMs = 3000;
constexpr int kLockWaitMs = 2000;

} // namespace

UserDefaults::UserDefaults(QString filePath, QObject* parent)
    : QObject(parent)
    , m_filePath(std::move(filePath)) {
    Entries loaded;
    switch (readFile(loaded)) {
    case LoadResult::Loaded:
        m_entries = std::move(loaded);
        break;
    case LoadResult::Missing:
        break;
    case LoadResult::Unreadable:
        keepAsideUnreadableFile();
        break;
    }
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
    Entries base;
    switch (readFile(base)) {
    case LoadResult::Loaded:
        break;
    case LoadResult::Missing:
        base = m_entries;
        break;
    case LoadResult::Unreadable:
        keepAsideUnreadableFile();
        base = m_entries;
        break;
    }
    base.insert(key, std::move(value));
    m_lastWriteSucceeded = writeFile(base);
    if (!m_lastWriteSucceeded)
        qCWarning(lcUserDefaults) << "Could not save" << key << "to" << m_filePath;
    if (locked)
        lock.unlock();

    replaceEntries(std::move(base), key);
}

void UserDefaults::reload() {
    Entries loaded;
    switch (readFile(loaded)) {
    case LoadResult::Loaded:
        replaceEntries(std::move(loaded), QString());
        break;
    case LoadResult::Missing:
        break;
    case LoadResult::Unreadable:
        keepAsideUnreadableFile();
        break;
    }
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
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        qCWarning(lcUserDefaults) << "Cannot parse" << m_filePath << error.errorString();
        return LoadResult::Unreadable;
    }
    const QJsonObject root = doc.object();
    const QJsonValue values = root.value(QStringLiteral("values"));
    if (root.value(QStringLiteral("format")).toString() != QLatin1String(kFormatName) ||
        !values.isObject()) {
        qCWarning(lcUserDefaults) << m_filePath << "is not an Idlewatch defaults file";
        return LoadResult::Unreadable;
    }
    const QJsonObject object = values.toObject();
    Entries entries;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (auto value = decode(it.value()))
            entries.insert(it.key(), std::move(*value));
    }
    out = std::move(entries);
    return LoadResult::Loaded;
}

bool UserDefaults::writeFile(const Entries& entries) const {
    QJsonObject values;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        values.insert(it.key(), encode(it.value()));
    QJsonObject root;
    root.insert(QStringLiteral("format"), QLatin1String(kFormatName));
    root.insert(QStringLiteral("version"), kFormatVersion);
    root.insert(QStringLiteral("values"), values);

    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcUserDefaults) << "Cannot write" << m_filePath << file.errorString();
        return false;
    }
    file.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
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

// Stored form of one value: {"integer": "480"}, {"boolean": true}, {"text": "name"},
// {"data": "<base64>"}. Integers are written as decimal text so that every 64-bit value
// survives JSON readers that use doubles; a plain JSON integer is accepted on reading.
std::optional<UserDefaults::Value> UserDefaults::decode(const QJsonValue& json) {
    if (!json.isObject())
        return Value(json);
    const QJsonObject object = json.toObject();
    if (object.size() != 1)
        return Value(json);
    const QString tag = object.begin().key();
    const QJsonValue v = object.begin().value();
    if (tag == QLatin1String("integer")) {
        if (v.isString()) {
            bool ok = false;
            const qint64 n = v.toString().toLongLong(&ok);
            if (ok)
                return Value(n);
        } else if (v.isDouble()) {
            const double d = v.toDouble();
            if (d >= -9007199254740992.0 && d <= 9007199254740992.0 && d == qint64(d))
                return Value(qint64(d));
        }
    } else if (tag == QLatin1String("boolean") && v.isBool()) {
        return Value(v.toBool());
    } else if (tag == QLatin1String("text") && v.isString()) {
        return Value(v.toString());
    } else if (tag == QLatin1String("data") && v.isString()) {
        auto decoded = QByteArray::fromBase64Encoding(v.toString().toLatin1(),
                                                      QByteArray::AbortOnBase64DecodingErrors);
        if (decoded)
            return Value(*decoded);
    }
    return Value(json);
}

QJsonValue UserDefaults::encode(const Value& value) {
    struct Encoder {
        QJsonValue operator()(qint64 n) const {
            return QJsonObject{{QStringLiteral("integer"), QString::number(n)}};
        }
        QJsonValue operator()(bool b) const { return QJsonObject{{QStringLiteral("boolean"), b}}; }
        QJsonValue operator()(const QString& s) const {
            return QJsonObject{{QStringLiteral("text"), s}};
        }
        QJsonValue operator()(const QByteArray& d) const {
            return QJsonObject{{QStringLiteral("data"), QString::fromLatin1(d.toBase64())}};
        }
        QJsonValue operator()(const QJsonValue& raw) const { return raw; }
    };
    return std::visit(Encoder{}, value);
}
