#pragma once

#include "Clock.h"
#include "ExcludedApp.h"
#include "RunningApplication.h"
#include "Workspace.h"

#include "preferences/PreferenceKeys.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <optional>

class UserDefaults;

// The quit engine. It tracks every regular running application with the time it last
// left the foreground, runs a one-second tick that sweeps at the scan interval, and asks
// every application idle past the timeout to quit. It owns the per-application toggles and
// the exclusion list and stores both on every change.
//
// Everything runs on the main thread. Each published collection has a changed signal
// emitted on every assignment; views re-read the engine and keep no copies.
//
// RunningAppsManager.cpp opens with the path of one deactivation, from the workspace
// signal to the quit request; Workspace.h is the only view of the platform it has.
class RunningAppsManager : public QObject {
    Q_OBJECT
public:
    // Application handle -> last-deactivation time (wall-clock seconds).
    using AppTimes = QHash<RunningApplication, double>;
    // Localized application name (empty when it has none) -> may be quit.
    using ToggleMap = QHash<QString, bool>;

    // Creation: sync toggles, sync exclusions, register the running applications, "Init",
    // subscribe to deactivations, start the one-second timer. The program has run the
    // idle-time migration before.
    RunningAppsManager(Workspace& workspace, UserDefaults& defaults, Clock& clock,
                       QObject* parent = nullptr);
    ~RunningAppsManager() override;

    // --- published state
    const AppTimes& runningApps() const { return m_runningApps; }
    void setRunningApps(AppTimes apps);
    // Stores `time` for one application (the row's restart button), publishing the map.
    void setLastDeactivation(const RunningApplication& app, double time);

    const ToggleMap& toggleStatus() const { return m_toggleStatus; }
    void setToggleStatus(ToggleMap toggles);
    // The reading rule shared by the sweep and the row checkbox: the stored toggle for the
    // name, otherwise the current "newAppsEnabled".
    bool toggleValue(const QString& name) const;
    // Stores a toggle under the name and saves the map.
    void setToggle(const QString& name, bool on);

    const QList<ExcludedApp>& excludedApps() const { return m_excludedApps; }
    void setExcludedApps(QList<ExcludedApp> apps);

    const AppTimes& firstSeenApps() const { return m_firstSeenApps; }
    double lastOpenAppsCheck() const { return m_lastOpenAppsCheck; }
    // The repeating one-second timer whose action is tick().
    const QTimer* timer() const { return m_timer; }

    // --- registry and events
    void addCurrentRunningApps();
    bool isBlockedApp(const RunningApplication& app) const;

    // --- when an application is asked to quit
    // The one rule, read by the sweep and by every countdown on screen: an application is due
    // once its idle time exceeds the timeout (never under a minute) and its launch grace
    // (none when negative) has ended.
    struct QuitRule {
        qint64 timeoutSeconds = 0;
        qint64 graceSeconds = 0;
        bool isDue(double last, double graceReference, double now) const;
        // Whole seconds until due, truncated toward zero; zero or less once due.
        qint64 secondsLeft(double last, double graceReference, double now) const;
    };
    QuitRule quitRule() const;
    // Seconds left for a tracked application by that rule, at the current time.
    qint64 secondsUntilQuit(const RunningApplication& app) const;

    // --- countdown and sweep
    // The action of the one-second timer; public so tests can drive it.
    void tick();
    void checkOpenApps();
    void resetAllTimers();

    // --- quit requests
    // The one way an application is asked to quit: no request at all while it is waiting
    // for its user, otherwise the polite one. The sweep then sends the forced one when the
    // polite one was not delivered and "forceQuitIfTerminateFails" is on, and stops tracking
    // an application that counts as quit; the user's quit-now button sends the polite one
    // alone and leaves the registry to the next sweep. True when a request was delivered.
    enum class Requester { Sweep, User };
    bool requestQuit(const RunningApplication& app, Requester requester);
    // It shows a modal window, or a question that appeared after we asked it to quit: it is
    // sent nothing until the user has answered.
    bool isWaitingForUser(const RunningApplication& app) const;
    // Neither a polite request nor, as configured, a forced one can reach it; its countdown
    // would end in nothing.
    bool cannotQuit(const RunningApplication& app) const;

    // --- toggles and exclusions (RunningAppsManagerLists.cpp)
    void syncToggleStatus();
    void saveToggleStatus();
    void syncExcludedApps();
    void saveExcludedApps();
    std::optional<ExcludedApp> addExcludedApp(const QString& path);
    // Removes every exclusion with this identifier, saves, and registers running
    // applications again.
    void removeExcludedApp(const QString& applicationId);
    void removeExcludedAppsFromRunningList();
    void clearPerAppToggles();
    QList<ExcludedApp> activeExcludedApps() const;
    QSet<QString> activeExcludedIdentifiers() const;

    // --- collaborators
    Workspace& workspace() const { return *m_workspace; }
    UserDefaults& defaults() const { return *m_defaults; }
    const Clock& clock() const { return *m_clock; }

    // Live preference bindings, read from the store at every use.
    Preference<qint64> minutesUntilClose() const { return {*m_defaults, Keys::minutesUntilClose}; }
    Preference<bool> quittingEnabled() const { return {*m_defaults, Keys::quittingEnabled}; }
    Preference<qint64> openAppsRefreshSeconds() const {
        return {*m_defaults, Keys::openAppsRefreshSeconds};
    }
    Preference<qint64> launchGraceMinutes() const {
        return {*m_defaults, Keys::launchGraceMinutes};
    }
    Preference<bool> ignoreHiddenApps() const { return {*m_defaults, Keys::ignoreHiddenApps}; }
    Preference<bool> newAppsEnabled() const { return {*m_defaults, Keys::newAppsEnabled}; }
    Preference<bool> forceQuitIfTerminateFails() const {
        return {*m_defaults, Keys::forceQuitIfTerminateFails};
    }

signals:
    void runningAppsChanged();
    void toggleStatusChanged();
    void excludedAppsChanged();

private:
    // The inputs of the blocked rule that come from the store and the workspace, read once
    // per sweep or registration walk rather than once per application.
    struct BlockRules {
        bool ignoreHidden;
        std::optional<QString> ownIdentifier;
    };
    BlockRules blockRules() const;
    bool isBlocked(const RunningApplication& app, const BlockRules& rules) const;

    void handleDeactivation(const RunningApplication& app);
    void registerRunningApps(const QList<RunningApplication>& running, const BlockRules& rules);
    void removeFromRegistry(const RunningApplication& app);
    void followAskedApps(double now, const BlockRules& rules);
    void keepFocusProtection(const RunningApplication& frontmost, double now,
                             const BlockRules& rules);
    // Before the first save replaces a stored collection that could not be read, keeps
    // it under "<key>.unreadable" so that nothing of the user's is destroyed.
    void keepUnreadableCollection(const char* key, bool& unreadable);

    Workspace* m_workspace;
    UserDefaults* m_defaults;
    const Clock* m_clock;

    AppTimes m_runningApps;
    QTimer* m_timer = nullptr;
    double m_lastOpenAppsCheck;
    AppTimes m_firstSeenApps;
    ToggleMap m_toggleStatus;
    QList<ExcludedApp> m_excludedApps;
    // Applications that were delivered a polite request, with its time; kept while they run.
    AppTimes m_asked;
    // Asked applications seen showing their question; the answer restarts their countdown.
    QSet<RunningApplication> m_waiting;
    // The application the user had in front when our request moved the focus to the asked
    // one; it stays protected as if in front until the user activates something else.
    RunningApplication m_focusKeeper;
    // A stored collection was found unreadable and has not been kept aside yet.
    bool m_toggleStatusUnreadable = false;
    bool m_excludedAppsUnreadable = false;
    // activeExcludedIdentifiers(), rebuilt on every assignment of m_excludedApps.
    QSet<QString> m_excludedIdentifiers;
};
