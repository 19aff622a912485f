#pragma once

#include <QHashFunctions>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

class Workspace;

// An application the user excluded permanently. Its identity is bundleIdentifier.
struct ExcludedApp {
    QString bundleIdentifier;
    QString name;
    QString path;

    QString id() const { return bundleIdentifier; }

    // A record made from an application entry location; nothing when the location is not
    // an application entry (by the platform's extension, any case), cannot be read, or
    // has no identifier.
    static std::optional<ExcludedApp> fromPath(const QString& path, const Workspace& workspace);

    QJsonObject toJson() const;
    // Nothing unless all three members are present and text.
    static std::optional<ExcludedApp> fromJson(const QJsonValue& value);

    friend bool operator==(const ExcludedApp&, const ExcludedApp&) = default;
};

inline size_t qHash(const ExcludedApp& app, size_t seed = 0) noexcept {
    return qHashMulti(seed, app.bundleIdentifier, app.name, app.path);
}
