// The engine's two stored lists: the per-application toggles and the exclusions, each
// loaded from and saved to its JSON form in the store, and the exclusions' effect on the
// registry. The sweep itself is in RunningAppsManager.cpp.

#include "RunningAppsManager.h"

#include "StoredCollections.h"

#include "preferences/UserDefaults.h"

#include <QCollator>
#include <QLoggingCategory>

#include <algorithm>
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

// ---------------------------------------------------------------- toggles

void RunningAppsManager::syncToggleStatus() {
    // Anything unreadable leaves the map as it is (empty at creation).
    const Preference<QByteArray> stored(*m_defaults, Keys::toggleStatus);
    if (std::optional<ToggleMap> toggles = StoredCollections::decodeToggleStatus(stored.value()))
        setToggleStatus(std::move(*toggles));
    else
        m_toggleStatusUnreadable = stored.isStored();
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

void RunningAppsManager::keepUnreadableCollection(const char* key, bool& unreadable) {
    if (!std::exchange(unreadable, false))
        return;
    const QString name = QString::fromLatin1(key);
    const QString kept = m_defaults->keepCopy(name, name + QStringLiteral(".unreadable"));
    if (!kept.isEmpty())
        qCWarning(lcEngine, "The stored %s could not be read and loaded as empty; kept it as %s",
                  key, qUtf8Printable(kept));
}

// ---------------------------------------------------------------- exclusions

void RunningAppsManager::syncExcludedApps() {
    // One bad element makes the whole list unreadable; it then stays as it is.
    const Preference<QByteArray> stored(*m_defaults, Keys::excludedApps);
    if (std::optional<QList<ExcludedApp>> apps =
            StoredCollections::decodeExcludedApps(stored.value()))
        setExcludedApps(sortedByName(std::move(*apps)));
    else
        m_excludedAppsUnreadable = stored.isStored();
}

void RunningAppsManager::saveExcludedApps() {
    keepUnreadableCollection(Keys::excludedApps.name, m_excludedAppsUnreadable);
    setExcludedApps(sortedByName(m_excludedApps));
    Preference<QByteArray>(*m_defaults, Keys::excludedApps)
        .set(StoredCollections::encodeExcludedApps(m_excludedApps));
}

std::optional<ExcludedApp> RunningAppsManager::addExcludedApp(const QString& path) {
    std::optional<ExcludedApp> record = ExcludedApp::fromPath(path, *m_workspace);
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
