#include "ExcludedApp.h"

#include "Workspace.h"

#include <QFileInfo>
#include <QJsonValue>

namespace {

// An information value counts only when it is text; other types fall through.
std::optional<QString> textValue(const QVariantMap& info, const char* key) {
    const auto it = info.constFind(QString::fromLatin1(key));
    if (it == info.cend() || it->typeId() != QMetaType::QString)
        return std::nullopt;
    return it->toString();
}

} // namespace

std::optional<ExcludedApp> ExcludedApp::fromPath(const QString& path, const Workspace& workspace) {
    // A trailing slash (a bundle folder picked as a directory) does not hide the extension.
    QString location = path;
    while (location.size() > 1 && location.endsWith(QLatin1Char('/')))
        location.chop(1);
    const QFileInfo info(location);
    if (info.suffix().compare(workspace.applicationBundleExtension(), Qt::CaseInsensitive) != 0)
        return std::nullopt;

    const std::optional<BundleInfo> bundle = workspace.bundleAt(path);
    if (!bundle)
        return std::nullopt;
    // An empty identifier would match every application that has none: treat it as absent.
    if (!bundle->bundleIdentifier || bundle->bundleIdentifier->isEmpty())
        return std::nullopt;

    ExcludedApp app;
    app.bundleIdentifier = *bundle->bundleIdentifier;
    if (auto display = textValue(bundle->infoDictionary, "CFBundleDisplayName"))
        app.name = *display;
    else if (auto name = textValue(bundle->infoDictionary, "CFBundleName"))
        app.name = *name;
    else
        app.name = info.completeBaseName();
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
