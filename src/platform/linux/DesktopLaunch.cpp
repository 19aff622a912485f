#include "DesktopLaunch.h"

#include "DesktopEntryFile.h"

#include <QDir>
#include <QLoggingCategory>
#include <QProcess>

#include <optional>

Q_LOGGING_CATEGORY(lcLaunch, "com.Idlewatch.Idlewatch.DesktopLaunch", QtInfoMsg)

namespace {

std::optional<DesktopEntryFile> launchable(const QString& path) {
    if (path.isEmpty())
        return std::nullopt;
    std::optional<DesktopEntryFile> entry = DesktopEntryFile::load(path);
    // A Hidden entry counts as deleted.
    if (!entry || !entry->isApplication() || entry->isHidden() ||
        entry->launchArguments(path).isEmpty())
        return std::nullopt;
    return entry;
}

} // namespace

bool canLaunchDesktopEntry(const QString& path) {
    return launchable(path).has_value();
}

bool launchDesktopEntry(const QString& path) {
    const std::optional<DesktopEntryFile> entry = launchable(path);
    if (!entry)
        return false;
    QStringList args = entry->launchArguments(path);
    const QString program = args.takeFirst();
    QString folder = entry->string(QStringLiteral("Path"));
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    qint64 pid = 0;
    if (!QProcess::startDetached(program, args, folder, &pid)) {
        qCWarning(lcLaunch) << "Cannot start" << program << "of" << path;
        return false;
    }
    qCInfo(lcLaunch) << "Started" << program << "of" << path << "as" << pid;
    return true;
}
