#include "ExcludedApp.h"

#include "Workspace.h"

#include <QFileInfo>
#include <QJsonValue>

std::optional<ExcludedApp> ExcludedApp::fromPath(const QString& path, const Workspace& workspace) {
    // A trailing slash (a folder picked as a directory) does not hide the extension.
    QString location = path;
    while (location.size() > 1 && location.endsWith(QLatin1Char('/')))
        location.chop(1);
    const QFileInfo info(location);
    if (info.suffix().compare(workspace.entryFileSuffix(), Qt::CaseInsensitive) != 0)
        return std::nullopt;

    const std::optional<ApplicationEntry> entry = workspace.entryAt(path);
    // An empty identifier would match every application that has none: treat it as absent.
    if (!entry || entry->applicationId.isEmpty())
        return std::nullopt;

    ExcludedApp app;
    app.bundleIdentifier = entry->applicationId;
    app.name = entry->name.isEmpty() ? info.completeBaseName() : entry->name;
    app.path = path;
    return app;
}

QJsonObject ExcludedApp::toJson() const {
    return QJsonObject{{QStringLiteral("bundleIdentifier"), bundleIdentifier},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("path"), path}};
}

std::optional<ExcludedApp> ExcludedApp::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue identifier = object.value(QLatin1String("bundleIdentifier"));
    const QJsonValue name = object.value(QLatin1String("name"));
    const QJsonValue path = object.value(QLatin1String("path"));
    if (!identifier.isString() || !name.isString() || !path.isString())
        return std::nullopt;
    return ExcludedApp{identifier.toString(), name.toString(), path.toString()};
}
