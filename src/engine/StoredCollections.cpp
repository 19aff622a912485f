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
} // namespace

Decoded<QHash<QString, bool>> decodeToggleStatus(const QByteArray& blob) {
    Decoded<QHash<QString, bool>> out;
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
        if (it->isBool())
            out.values.insert(it.key(), it->toBool());
        else
            bad.insert(it.key(), it.value());
    }
    if (!bad.isEmpty())
        out.unreadable = compact(QJsonDocument(bad));
    return out;
}

QByteArray encodeToggleStatus(const QHash<QString, bool>& toggles) {
    QJsonObject object;
    for (auto it = toggles.cbegin(); it != toggles.cend(); ++it)
        object.insert(it.key(), it.value());
    return compact(QJsonDocument(object));
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
    Decoded<QHash<QString, qint64>> out;
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
        const double minutes = it->toDouble(std::nan(""));
        if (std::isnan(minutes) || out.values.size() >= kMaxAppTimeouts) {
            bad.insert(it.key(), it.value());
            continue;
        }
        // Clamped as a double first: a huge number written by hand must not overflow.
        const IntRange& range = Keys::appTimeoutRange;
        out.values.insert(it.key(), static_cast<qint64>(std::clamp(minutes, double(range.minimum),
                                                                   double(range.maximum))));
    }
    if (!bad.isEmpty())
        out.unreadable = compact(QJsonDocument(bad));
    return out;
}

QByteArray encodeAppTimeouts(const QHash<QString, qint64>& minutes) {
    QJsonObject object;
    for (auto it = minutes.cbegin(); it != minutes.cend(); ++it)
        object.insert(it.key(), it.value());
    return compact(QJsonDocument(object));
}

QHash<QString, qint64> decodeLastSeen(const QByteArray& blob) {
    QHash<QString, qint64> days;
    const QJsonObject object = QJsonDocument::fromJson(blob).object();
    for (auto it = object.begin(); it != object.end(); ++it)
        days.insert(it.key(), it->toInteger());
    return days;
}

QByteArray encodeLastSeen(const QHash<QString, qint64>& days) {
    QJsonObject object;
    for (auto it = days.cbegin(); it != days.cend(); ++it)
        object.insert(it.key(), it.value());
    return compact(QJsonDocument(object));
}

} // namespace StoredCollections
