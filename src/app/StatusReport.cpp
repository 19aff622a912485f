#include "StatusReport.h"

#include "engine/RunningAppsManager.h"
#include "settings/SettingsView.h"
#include "settings/SettingsWindowController.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWidget>

#include <algorithm>

namespace StatusReport {

QByteArray json(const RunningAppsManager& manager, const SettingsWindowController& settings) {
    struct Row {
        qint64 secondsLeft;
        QJsonObject object;
    };
    QList<Row> rows;
    const auto& apps = manager.runningApps();
    for (auto it = apps.cbegin(); it != apps.cend(); ++it) {
        const RunningApplication& app = it.key();
        const QString name = app.displayName().value_or(QString());
        const qint64 left = manager.secondsUntilQuit(app);
        QJsonObject o;
        o.insert(QStringLiteral("name"), name);
        o.insert(QStringLiteral("id"),
                 app.applicationId() ? QJsonValue(*app.applicationId()) : QJsonValue());
        // JSON numbers are doubles: beyond 2^53 seconds the value is rounded, never wrapped.
        o.insert(QStringLiteral("secondsLeft"), double(left));
        o.insert(QStringLiteral("enabled"), manager.toggleValue(name));
        o.insert(QStringLiteral("waitingForYou"), manager.isWaitingForUser(app));
        o.insert(QStringLiteral("cantClose"), manager.cannotQuit(app));
        rows.append({left, o});
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.secondsLeft < b.secondsLeft; });
    QJsonArray list;
    for (const Row& row : std::as_const(rows))
        list.append(row.object);

    QJsonObject toggles;
    const auto& toggleStatus = manager.toggleStatus();
    for (auto it = toggleStatus.cbegin(); it != toggleStatus.cend(); ++it)
        toggles.insert(it.key(), it.value());

    QJsonArray exclusions;
    for (const ExcludedApp& app : manager.excludedApps())
        exclusions.append(QJsonObject{{QStringLiteral("id"), app.id()},
                                      {QStringLiteral("name"), app.name},
                                      {QStringLiteral("path"), app.path}});

    QJsonObject root;
    root.insert(QStringLiteral("quittingEnabled"), manager.quittingEnabled().value());
    root.insert(QStringLiteral("apps"), list);
    root.insert(QStringLiteral("toggles"), toggles);
    root.insert(QStringLiteral("exclusions"), exclusions);

    const QWidget* window = settings.window(); // null until first opened
    root.insert(QStringLiteral("settingsPane"),
                window && window->isVisible()
                    ? QJsonValue(SettingsPanes::rawValue(settings.view()->selectedPane()))
                    : QJsonValue());
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

} // namespace StatusReport
