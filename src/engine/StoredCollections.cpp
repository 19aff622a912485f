#include "StoredCollections.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace StoredCollections {

std::optional<QHash<QString, bool>> decodeToggleStatus(const QByteArray& blob) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(blob, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    QHash<QString, bool> toggles;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it->isBool())
            return std::nullopt;
        toggles.insert(it.key(), it->toBool());
    }
    return toggles;
}

QByteArray encodeToggleStatus(const QHash<QString, bool>& toggles) {
    QJsonObject object;
    for (auto it = toggles.cbegin(); it != toggles.cend(); ++it)
        object.insert(it.key(), it.value());
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<QList<ExcludedApp>> decodeExcludedApps(const QByteArray& blob) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(blob, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<ExcludedApp> apps;
    const QJsonArray array = document.array();
    for (const auto& element : array) {
        std::optional<ExcludedApp> app = ExcludedApp::fromJson(element);
        if (!app)
            return std::nullopt;
        apps.append(std::move(*app));
    }
    return apps;
}

QByteArray encodeExcludedApps(const QList<ExcludedApp>& apps) {
    QJsonArray array;
    for (const ExcludedApp& app : apps)
        array.append(app.toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

} // namespace StoredCollections
