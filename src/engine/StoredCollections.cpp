#include "StoredCollections.h"

#include "preferences/PreferenceKeys.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace StoredCollections {

namespace {
QByteArray compact(const QJsonDocument& document) {
    return document.toJson(QJsonDocument::Compact);
}

// A JSON object of names to values; `read` gives an element's value, or nothing for a bad
// element, which is kept aside with the others so that a hand edit is never lost.
template <typename T, typename Read>
Decoded<QHash<QString, T>> decodeObject(const QByteArray& blob, Read read) {
    Decoded<QHash<QString, T>> out;
    if (blob.isEmpty())
        return out;
    const QJsonDocument document = QJsonDocument::fromJson(blob);
    if (!document.isObject()) {
        out.unreadable = blob;
        return out;
    }
    const QJsonObject object = document.object();
    QJsonObject bad;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (std::optional<T> value = read(it.value(), out.values.size()))
            out.values.insert(it.key(), *value);
        else
            bad.insert(it.key(), it.value());
    }
    if (!bad.isEmpty())
        out.unreadable = compact(QJsonDocument(bad));
    return out;
}

template <typename T> QByteArray encodeObject(const QHash<QString, T>& values) {
    QJsonObject object;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        object.insert(it.key(), it.value());
    return compact(QJsonDocument(object));
}
} // namespace

Decoded<QHash<QString, bool>> decodeToggleStatus(const QByteArray& blob) {
    return decodeObject<bool>(blob, [](const QJsonValue& value, qsizetype) -> std::optional<bool> {
        if (value.isBool())
            return value.toBool();
        return std::nullopt;
    });
}

QByteArray encodeToggleStatus(const QHash<QString, bool>& toggles) {
    return encodeObject(toggles);
}

Decoded<QList<ExcludedApp>> decodeExcludedApps(const QByteArray& blob) {
    Decoded<QList<ExcludedApp>> out;
    if (blob.isEmpty())
        return out;
    const QJsonDocument document = QJsonDocument::fromJson(blob);
    if (!document.isArray()) {
        out.unreadable = blob;
        return out;
    }
    const QJsonArray array = document.array();
    QJsonArray bad;
    for (const auto& element : array) {
        if (std::optional<ExcludedApp> app = ExcludedApp::fromJson(element))
            out.values.append(std::move(*app));
        else
            bad.append(element);
    }
    if (!bad.isEmpty())
        out.unreadable = compact(QJsonDocument(bad));
    return out;
}

QByteArray encodeExcludedApps(const QList<ExcludedApp>& apps) {
    QJsonArray array;
    for (const ExcludedApp& app : apps)
        array.append(app.toJson());
    return compact(QJsonDocument(array));
}

Decoded<QHash<QString, qint64>> decodeAppTimeouts(const QByteArray& blob) {
    return decodeObject<qint64>(
        blob, [](const QJsonValue& value, qsizetype kept) -> std::optional<qint64> {
            const double minutes = value.toDouble(std::nan(""));
            if (std::isnan(minutes) || kept >= kMaxAppTimeouts)
                return std::nullopt;
            // Clamped as a double first: a huge number written by hand must not overflow.
            const IntRange& range = Keys::appTimeoutRange;
            return static_cast<qint64>(
                std::clamp(minutes, double(range.minimum), double(range.maximum)));
        });
}

QByteArray encodeAppTimeouts(const QHash<QString, qint64>& minutes) {
    return encodeObject(minutes);
}

QHash<QString, qint64> decodeLastSeen(const QByteArray& blob) {
    QHash<QString, qint64> days;
    const QJsonObject object = QJsonDocument::fromJson(blob).object();
    for (auto it = object.begin(); it != object.end(); ++it)
        days.insert(it.key(), it->toInteger());
    return days;
}

QByteArray encodeLastSeen(const QHash<QString, qint64>& days) {
    return encodeObject(days);
}

} // namespace StoredCollections
