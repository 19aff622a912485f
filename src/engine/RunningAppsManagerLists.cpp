// The engine's two stored lists: the per-application toggles and the exclusions, each
// loaded from and saved to its JSON form in the store, and the exclusions' effect on the
// registry. The sweep itself is in RunningAppsManager.cpp.

#include "RunningAppsManager.h"

#include "StoredCollections.h"

#include "preferences/UserDefaults.h"

#include <QCollator>
#include <QLoggingCategory>

#include <algorithm>
#include <cmath>
#include <utility>

Q_DECLARE_LOGGING_CATEGORY(lcEngine)

namespace {

// Exclusions are listed by name, ignoring case, in the user's locale; equal names keep
// their previous order.
QList<ExcludedApp> sortedByName(QList<ExcludedApp> apps) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(apps.begin(), apps.end(), [&](const ExcludedApp& a, const ExcludedApp& b) {
        return collator.compare(a.name, b.name) < 0;
    });
    return apps;
}

} // namespace

// ---------------------------------------------------------------- following the store

void RunningAppsManager::followStore() {
    // The store is the truth: a hand edit, another session's write or the store making
    // room shows here as it will after a restart.
    connect(m_defaults, &UserDefaults::changed, this, [this](const QString& key) {
        if (key == QLatin1String(Keys::toggleStatus.name))
            syncToggleStatus();
        else if (key == QLatin1String(Keys::excludedApps.name))
            syncExcludedApps();
        else if (key == QLatin1String(Keys::appTimeouts.name))
            syncAppTimeouts();
    });
    connect(this, &RunningAppsManager::runningAppsChanged, this,
            &RunningAppsManager::noteSeenNames);
}

void RunningAppsManager::noteSeenNames() {
    const qint64 today = static_cast<qint64>(std::floor(m_clock->now() / 86400));
    if (today != m_seenDay) {
        m_seenDay = today;
        m_seenToday.clear();
    }
    QStringList unseen;
    for (auto it = m_runningApps.cbegin(); it != m_runningApps.cend(); ++it) {
        const QString name = it.key().displayName().value_or(QString());
        if (m_toggleStatus.contains(name) && !m_seenToday.contains(name))
            unseen << name;
    }
    if (unseen.isEmpty())
        return;
    const Preference<QByteArray> stored(*m_defaults, Keys::toggleLastSeen);
    QHash<QString, qint64> days = StoredCollections::decodeLastSeen(stored.value());
    for (const QString& name : std::as_const(unseen)) {
        days.insert(name, today);
        m_seenToday.insert(name);
    }
    stored.set(StoredCollections::encodeLastSeen(days));
}

// ---------------------------------------------------------------- toggles

void RunningAppsManager::syncToggleStatus() {
    // What cannot be read stays out, and is kept aside at the next save.
    auto [toggles, unreadable] = StoredCollections::decodeToggleStatus(
        Preference<QByteArray>(*m_defaults, Keys::toggleStatus).value());
    m_toggleStatusUnreadable = unreadable;
    if (toggles != m_toggleStatus)
        setToggleStatus(std::move(toggles));
}

void RunningAppsManager::saveToggleStatus() {
    keepUnreadableCollection(Keys::toggleStatus.name, m_toggleStatusUnreadable);
    Preference<QByteArray>(*m_defaults, Keys::toggleStatus)
        .set(StoredCollections::encodeToggleStatus(m_toggleStatus));
}

void RunningAppsManager::clearPerAppToggles() {
    setToggleStatus({});
    saveToggleStatus();
    // Tracked apps keep no entry and follow "newAppsEnabled" from now on.
    addCurrentRunningApps();
}

// ---------------------------------------------------------------- own timeouts

std::optional<qint64> RunningAppsManager::appTimeout(const QString& name) const {
    const auto it = m_appTimeouts.constFind(name);
    return it != m_appTimeouts.cend() ? std::optional(*it) : std::nullopt;
}

void RunningAppsManager::setAppTimeout(const QString& name, std::optional<qint64> minutes) {
    if (minutes) {
        // The stored collection is bounded; a name beyond it keeps the default.
        if (!m_appTimeouts.contains(name) &&
            m_appTimeouts.size() >= StoredCollections::kMaxAppTimeouts)
            return;
        m_appTimeouts.insert(name, Keys::appTimeoutRange.clamp(*minutes));
    } else if (!m_appTimeouts.remove(name)) {
        return;
    }
    emit appTimeoutsChanged();
    saveAppTimeouts();
    // Countdowns on screen follow at once.
    emit runningAppsChanged();
}

void RunningAppsManager::syncAppTimeouts() {
    auto [timeouts, unreadable] = StoredCollections::decodeAppTimeouts(
        Preference<QByteArray>(*m_defaults, Keys::appTimeouts).value());
    m_appTimeoutsUnreadable = unreadable;
    if (timeouts != m_appTimeouts) {
        m_appTimeouts = std::move(timeouts);
        emit appTimeoutsChanged();
    }
}

void RunningAppsManager::saveAppTimeouts() {
    keepUnreadableCollection(Keys::appTimeouts.name, m_appTimeoutsUnreadable);
    Preference<QByteArray>(*m_defaults, Keys::appTimeouts)
        .set(StoredCollections::encodeAppTimeouts(m_appTimeouts));
}

void RunningAppsManager::keepUnreadableCollection(const char* key, QByteArray& unreadable) {
    if (unreadable.isEmpty())
        return;
    const QString name = QString::fromLatin1(key);
    const QString kept =
        m_defaults->keepAside(name + QStringLiteral(".unreadable"), std::exchange(unreadable, {}));
    qCWarning(lcEngine,
              "Entries of the stored %s could not be read and were left out; kept them as %s", key,
              qUtf8Printable(kept));
}

// ---------------------------------------------------------------- exclusions

void RunningAppsManager::syncExcludedApps() {
    auto [apps, unreadable] = StoredCollections::decodeExcludedApps(
        Preference<QByteArray>(*m_defaults, Keys::excludedApps).value());
    m_excludedAppsUnreadable = unreadable;
    apps = sortedByName(std::move(apps));
    if (apps != m_excludedApps)
        setExcludedApps(std::move(apps));
}

void RunningAppsManager::saveExcludedApps() {
    keepUnreadableCollection(Keys::excludedApps.name, m_excludedAppsUnreadable);
    setExcludedApps(sortedByName(m_excludedApps));
    Preference<QByteArray>(*m_defaults, Keys::excludedApps)
        .set(StoredCollections::encodeExcludedApps(m_excludedApps));
}

std::optional<ExcludedApp> RunningAppsManager::addExcludedApp(const QString& path) {
    return putExcludedApp(ExcludedApp::fromPath(path, *m_workspace));
}

std::optional<ExcludedApp> RunningAppsManager::excludeApplication(const RunningApplication& app) {
    const std::optional<QString> identifier = app.applicationId();
    if (!identifier)
        return std::nullopt;
    // Without a desktop entry the record keeps the executable, as the stored form's path.
    return putExcludedApp(
        ExcludedApp{*identifier, app.displayName().value_or(*identifier),
                    app.entryPath().value_or(app.executablePath().value_or(QString()))});
}

std::optional<ExcludedApp>
RunningAppsManager::putExcludedApp(const std::optional<ExcludedApp>& record) {
    if (!record)
        return std::nullopt;
    QList<ExcludedApp> apps = m_excludedApps;
    const auto same = std::find_if(apps.begin(), apps.end(), [&](const ExcludedApp& app) {
        return app.bundleIdentifier == record->bundleIdentifier;
    });
    // A second copy of a listed entry refreshes its record rather than adding one.
    if (same != apps.end())
        *same = *record;
    else
        apps.append(*record);
    setExcludedApps(std::move(apps));
    removeExcludedAppsFromRunningList();
    saveExcludedApps();
    return record;
}

void RunningAppsManager::removeExcludedApp(const QString& applicationId) {
    QList<ExcludedApp> apps = m_excludedApps;
    apps.removeIf([&](const ExcludedApp& app) { return app.bundleIdentifier == applicationId; });
    setExcludedApps(std::move(apps));
    saveExcludedApps();
    // Running copies of the application come back at once, with fresh stamps.
    addCurrentRunningApps();
}

void RunningAppsManager::removeExcludedAppsFromRunningList() {
    bool removed = false;
    for (auto it = m_runningApps.begin(); it != m_runningApps.end();) {
        const std::optional<QString> identifier = it.key().applicationId();
        if (identifier && m_excludedIdentifiers.contains(*identifier)) {
            m_firstSeenApps.remove(it.key());
            it = m_runningApps.erase(it);
            removed = true;
        } else {
            ++it;
        }
    }
    if (removed)
        emit runningAppsChanged();
}

QList<ExcludedApp> RunningAppsManager::activeExcludedApps() const {
    return m_excludedApps;
}

QSet<QString> RunningAppsManager::activeExcludedIdentifiers() const {
    return m_excludedIdentifiers;
}
