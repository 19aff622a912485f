#include "StoredEntries.h"

#include "PreferenceKeys.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace StoredEntries {

namespace {

using Form = EntryMerge::Form;

// A collection as entries by name, in stored order; nothing when the bytes are not one.
std::optional<QList<std::pair<QString, QJsonValue>>> entriesOf(const EntryMerge& merge,
                                                               const QByteArray& bytes) {
    QList<std::pair<QString, QJsonValue>> out;
    if (bytes.isEmpty())
        return out;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return std::nullopt;
    if (merge.form == Form::Members && document.isObject()) {
        const QJsonObject object = document.object();
        for (auto it = object.begin(); it != object.end(); ++it)
            out.append({it.key(), it.value()});
        return out;
    }
    if (merge.form == Form::Elements && document.isArray()) {
        const QJsonArray array = document.array();
        for (const auto& element : array) {
            // An element without its identifier is an entry of its own, known by its text.
            const QJsonValue id = element.toObject().value(QLatin1String(merge.elementId));
            const QString name =
                id.isString()
                    ? QLatin1Char('#') + id.toString()
                    : QLatin1Char('=') +
                          QString::fromUtf8(
                              QJsonDocument(QJsonArray{element}).toJson(QJsonDocument::Compact));
            out.append({name, element});
        }
        return out;
    }
    return std::nullopt;
}

QByteArray encode(const EntryMerge& merge, const QList<std::pair<QString, QJsonValue>>& entries) {
    if (merge.form == Form::Members) {
        QJsonObject object;
        for (const auto& [name, value] : entries)
            object.insert(name, value);
        return QJsonDocument(object).toJson(QJsonDocument::Compact);
    }
    QJsonArray array;
    for (const auto& entry : entries)
        array.append(entry.second);
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QJsonObject> objectOf(const DefaultsFile::Entries& entries, const char* key) {
    const auto it = entries.constFind(QString::fromLatin1(key));
    const QByteArray* bytes = it != entries.cend() ? std::get_if<QByteArray>(&*it) : nullptr;
    if (!bytes)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(*bytes);
    return document.isObject() ? std::optional(document.object()) : std::nullopt;
}

void store(DefaultsFile::Entries& entries, const char* key, const QJsonObject& object) {
    entries.insert(QString::fromLatin1(key), QJsonDocument(object).toJson(QJsonDocument::Compact));
}

} // namespace

std::optional<Delta> delta(const EntryMerge& merge, const QByteArray& before,
                           const QByteArray& after) {
    const auto old = entriesOf(merge, before);
    const auto now = entriesOf(merge, after);
    if (!old || !now)
        return std::nullopt;
    QMap<QString, QJsonValue> remaining;
    for (const auto& [name, value] : *old)
        remaining.insert(name, value);
    Delta out;
    for (const auto& [name, value] : *now) {
        const auto was = remaining.constFind(name);
        if (was == remaining.cend() || *was != value)
            out.insert(name, value);
        remaining.remove(name);
    }
    for (auto it = remaining.cbegin(); it != remaining.cend(); ++it)
        out.insert(it.key(), std::nullopt);
    return out;
}

QByteArray apply(const EntryMerge& merge, const Delta& delta, const QByteArray& onto) {
    QList<std::pair<QString, QJsonValue>> entries =
        entriesOf(merge, onto).value_or(QList<std::pair<QString, QJsonValue>>());
    Delta pending = delta;
    QList<std::pair<QString, QJsonValue>> out;
    for (auto& [name, value] : entries) {
        const auto change = delta.constFind(name);
        if (change == delta.cend()) {
            out.append({name, value});
        } else if (pending.remove(name) && *change) {
            out.append({name, **change}); // in its place, once
        }
    }
    for (auto it = pending.cbegin(); it != pending.cend(); ++it) {
        if (*it)
            out.append({it.key(), **it});
    }
    return encode(merge, out);
}

int forget(DefaultsFile::Entries& entries, int step) {
    std::optional<QJsonObject> toggles = objectOf(entries, Keys::toggleStatus.name);
    std::optional<QJsonObject> seen = objectOf(entries, Keys::toggleLastSeen.name);
    QStringList names;
    if (step == 0 && toggles) {
        const auto found = entries.constFind(QString::fromLatin1(Keys::newAppsEnabled.name));
        const bool* stored = found != entries.cend() ? std::get_if<bool>(&*found) : nullptr;
        const bool fallback = stored ? *stored : Keys::newAppsEnabled.defaultValue;
        for (auto it = toggles->begin(); it != toggles->end(); ++it) {
            if (it->isBool() && it->toBool() == fallback)
                names << it.key();
        }
    } else if (step == 1 && seen) {
        qint64 newest = 0;
        for (const auto& day : std::as_const(*seen))
            newest = std::max(newest, day.toInteger());
        for (auto it = seen->begin(); it != seen->end(); ++it) {
            if (it->toInteger() < newest - kForgetAfterDays)
                names << it.key();
        }
    }
    for (const QString& name : std::as_const(names)) {
        if (toggles)
            toggles->remove(name);
    }
    // A day is kept only for a name the switches still hold.
    if (seen && toggles) {
        for (const QString& name : seen->keys()) {
            if (!toggles->contains(name))
                names << name, seen->remove(name);
        }
    }
    if (names.isEmpty())
        return 0;
    if (toggles)
        store(entries, Keys::toggleStatus.name, *toggles);
    if (seen)
        store(entries, Keys::toggleLastSeen.name, *seen);
    names.removeDuplicates();
    return int(names.size());
}

} // namespace StoredEntries
