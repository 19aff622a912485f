#include "StatusReport.h"

#include "engine/RunningAppsManager.h"
#include "settings/SettingsView.h"
#include "settings/SettingsWindowController.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWidget>

#include <algorithm>
#include <optional>

namespace StatusReport {

QString state(const RunningAppsManager& manager, const RunningApplication& app) {
    using State = RunningAppsManager::AppState;
    switch (manager.appState(app)) {
    case State::WaitingForYou:
        return QStringLiteral("waitingForYou");
    case State::SwitchedOff:
        return QStringLiteral("off");
    case State::CannotQuit:
        return QStringLiteral("cantClose");
    case State::PlayingAudio:
        return QStringLiteral("playingAudio");
    case State::Busy:
        return QStringLiteral("busy");
    case State::HeldUntilAway:
        return QStringLiteral("heldUntilAway");
    case State::Counting:
        break;
    }
    return manager.quittingEnabled().value() ? QStringLiteral("counting")
                                             : QStringLiteral("paused");
}

QByteArray json(const RunningAppsManager& manager, const SettingsWindowController& settings) {
    struct Row {
        std::optional<qint64> secondsLeft; // none for an application that is not counting
        QJsonObject object;
    };
    QList<Row> rows;
    const auto& apps = manager.runningApps();
    for (auto it = apps.cbegin(); it != apps.cend(); ++it) {
        const RunningApplication& app = it.key();
        const QString name = app.displayName().value_or(QString());
        const QString appState = state(manager, app);
        const std::optional<qint64> left =
            appState == QLatin1String("counting")
                ? std::optional<qint64>(manager.secondsUntilQuit(app))
                : std::nullopt;
        QJsonObject o;
        o.insert(QStringLiteral("name"), name);
        o.insert(QStringLiteral("id"),
                 app.applicationId() ? QJsonValue(*app.applicationId()) : QJsonValue());
        o.insert(QStringLiteral("state"), appState);
        // JSON numbers are doubles: beyond 2^53 seconds the value is rounded, never wrapped.
        o.insert(QStringLiteral("secondsLeft"), left ? QJsonValue(double(*left)) : QJsonValue());
        o.insert(QStringLiteral("enabled"), manager.toggleValue(name));
        o.insert(QStringLiteral("timeoutMinutes"),
                 double(manager.appTimeout(name).value_or(manager.minutesUntilClose().value())));
        rows.append({left, o});
    }
    // Counting down first, the soonest first; the others after them by name.
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        if (!a.secondsLeft || !b.secondsLeft)
            return a.secondsLeft   ? true
                   : b.secondsLeft ? false
                                   : a.object["name"].toString() < b.object["name"].toString();
        return *a.secondsLeft < *b.secondsLeft;
    });
    QJsonArray list;
    for (const Row& row : std::as_const(rows))
        list.append(row.object);

    QJsonObject toggles;
    const auto& toggleStatus = manager.toggleStatus();
    for (auto it = toggleStatus.cbegin(); it != toggleStatus.cend(); ++it)
        toggles.insert(it.key(), it.value());

    QJsonObject timeouts;
    const auto& appTimeouts = manager.appTimeouts();
    for (auto it = appTimeouts.cbegin(); it != appTimeouts.cend(); ++it)
        timeouts.insert(it.key(), double(it.value()));

    QJsonArray exclusions;
    for (const ExcludedApp& app : manager.excludedApps())
        exclusions.append(QJsonObject{{QStringLiteral("id"), app.id()},
                                      {QStringLiteral("name"), app.name},
                                      {QStringLiteral("path"), app.path}});

    QJsonObject root;
    root.insert(QStringLiteral("quittingEnabled"), manager.quittingEnabled().value());
    root.insert(QStringLiteral("apps"), list);
    root.insert(QStringLiteral("toggles"), toggles);
    root.insert(QStringLiteral("appTimeouts"), timeouts);
    root.insert(QStringLiteral("exclusions"), exclusions);

    const QWidget* window = settings.window(); // null until first opened
    root.insert(QStringLiteral("settingsPane"),
                window && window->isVisible()
                    ? QJsonValue(SettingsPanes::rawValue(settings.view()->selectedPane()))
                    : QJsonValue());
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

} // namespace StatusReport
