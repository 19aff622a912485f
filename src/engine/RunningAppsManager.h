#pragma once

#include "AudioActivity.h"
#include "Clock.h"
#include "ExcludedApp.h"
#include "MemoryUsage.h"
#include "RunningApplication.h"
#include "UserPresence.h"
#include "Workspace.h"

#include "preferences/PreferenceKeys.h"

#include <QDate>
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
    // Application handle -> last-deactivation time (Clock seconds).
    using AppTimes = QHash<RunningApplication, double>;
    // Localized application name (empty when it has none) -> may be quit.
    using ToggleMap = QHash<QString, bool>;
    // Display name, like the toggles -> its own timeout in minutes.
    using TimeoutMap = QHash<QString, qint64>;

    // Creation: sync toggles, sync exclusions, register the running applications, "Init",
    // subscribe to deactivations, start the one-second timer. The program has run the
    // idle-time migration before. Without `presence` (no idle source on this desktop)
    // requests are never held for the user.
    RunningAppsManager(Workspace& workspace, UserDefaults& defaults, Clock& clock,
                       UserPresence* presence = nullptr, QObject* parent = nullptr);
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

    const TimeoutMap& appTimeouts() const { return m_appTimeouts; }
    // The name's own timeout in minutes; nothing when it follows "minutesUntilClose".
    std::optional<qint64> appTimeout(const QString& name) const;
    // Gives the name its own timeout (clamped to Keys::appTimeoutRange), or with nothing
    // returns it to the default; saves the collection.
    void setAppTimeout(const QString& name, std::optional<qint64> minutes);

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
    // once its idle time exceeds its timeout (its own, else the default; never under a
    // minute) and its launch grace (none when negative) has ended.
    struct QuitRule {
        qint64 timeoutSeconds = 0;
        qint64 graceSeconds = 0;
        bool isDue(double last, double graceReference, double now) const;
        // Whole seconds until due, truncated toward zero; zero or less once due.
        qint64 secondsLeft(double last, double graceReference, double now) const;
    };
    QuitRule quitRule(const RunningApplication& app) const;
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
    // It was asked once and still runs (whatever it asks may be drawn inside its window), or
    // it shows a modal window: it is sent nothing until the user has brought it to the front
    // and left it again, or has answered the question it showed.
    bool isWaitingForUser(const RunningApplication& app) const;
    // Neither a polite request nor, as configured, a forced one can reach it; its countdown
    // would end in nothing.
    bool cannotQuit(const RunningApplication& app) const;

    // What a tracked application's row says, in the order the rules apply.
    enum class AppState {
        Counting,      // its countdown runs (or has run out and it is about to be asked)
        SwitchedOff,   // its toggle is off
        WaitingForYou, // isWaitingForUser
        CannotQuit,    // cannotQuit
        PlayingAudio,  // one of its processes plays sound: it is not asked meanwhile
        Busy,          // due, but a job runs on its terminal
        HeldUntilAway, // due, but the user is at the keyboard
    };
    AppState appState(const RunningApplication& app) const;

    // --- sound and memory, where the platform can tell (main sets them; none in most tests)
    void setAudioActivity(AudioActivity* audio) { m_audio = audio; }
    bool isPlayingAudio(const RunningApplication& app) const;
    void setMemoryUsage(MemoryUsage* memory) { m_memory = memory; }
    // What the application's processes hold now, in bytes.
    std::optional<qint64> memoryOf(const RunningApplication& app) const;
    // The memory of the applications that ended after a polite request since local midnight,
    // each as measured when it was asked.
    qint64 freedToday() const;

    // --- toggles and exclusions (RunningAppsManagerLists.cpp)
    void syncToggleStatus();
    void saveToggleStatus();
    void syncExcludedApps();
    void syncAppTimeouts();
    void saveAppTimeouts();
    void saveExcludedApps();
    std::optional<ExcludedApp> addExcludedApp(const QString& path);
    // Excludes a running application by its identity, with or without an entry; nothing
    // when it has no identity at all.
    std::optional<ExcludedApp> excludeApplication(const RunningApplication& app);
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
    Preference<bool> onlyQuitWhileAway() const { return {*m_defaults, Keys::onlyQuitWhileAway}; }
    // Due requests wait while the user is at the keyboard: "only while away" is on and this
    // desktop tells when nobody is there.
    bool waitsUntilAway() const { return m_presence && onlyQuitWhileAway().value(); }

signals:
    void runningAppsChanged();
    void toggleStatusChanged();
    void excludedAppsChanged();
    void appTimeoutsChanged();
    void freedTodayChanged();
    // An application that a polite request reached has ended since: the request closed it.
    // `idleSeconds` is how long it had not been used when it was asked.
    void askedApplicationEnded(const RunningApplication& app, double idleSeconds);

private:
    // The inputs of the blocked rule that come from the store and the workspace, read once
    // per sweep or registration walk rather than once per application.
    struct BlockRules {
        bool ignoreHidden;
        std::optional<QString> ownIdentifier;
    };
    BlockRules blockRules() const;
    bool isBlocked(const RunningApplication& app, const BlockRules& rules) const;

    // Adds or refreshes the record, and stops tracking what it excludes.
    std::optional<ExcludedApp> putExcludedApp(const std::optional<ExcludedApp>& record);
    void handleDeactivation(const RunningApplication& app);
    void handleActivation(const RunningApplication& app);
    // A due request waits: the user is at the keyboard or watches a fullscreen window.
    bool userIsPresent(const RunningApplication& frontmost);
    void registerRunningApps(const QList<RunningApplication>& running, const BlockRules& rules);
    void removeFromRegistry(const RunningApplication& app);
    void followAskedApps(double now, const BlockRules& rules);
    void keepFocusProtection(const RunningApplication& frontmost, double now,
                             const BlockRules& rules);
    // Before the first save replaces a stored collection with entries that could not be
    // read, keeps those under "<key>.unreadable" so that nothing of the user's is destroyed.
    void keepUnreadableCollection(const char* key, QByteArray& unreadable);
    // Reloads a collection when the store's copy changes, and notes the day each name is
    // seen running (RunningAppsManagerLists.cpp).
    void followStore();
    void noteSeenNames();

    Workspace* m_workspace;
    UserDefaults* m_defaults;
    const Clock* m_clock;
    UserPresence* m_presence;
    AudioActivity* m_audio = nullptr;
    MemoryUsage* m_memory = nullptr;

    AppTimes m_runningApps;
    QTimer* m_timer = nullptr;
    double m_lastOpenAppsCheck;
    AppTimes m_firstSeenApps;
    ToggleMap m_toggleStatus;
    QList<ExcludedApp> m_excludedApps;
    TimeoutMap m_appTimeouts;
    QByteArray m_appTimeoutsUnreadable;
    // What each asked application held when asked; counted as freed once it has ended.
    QHash<RunningApplication, qint64> m_askedMemory;
    QDate m_freedDay;
    qint64 m_freedBytes = 0;
    // Applications that were delivered a polite request, with its time; kept while they run
    // until the user has been back to them.
    AppTimes m_asked;
    // How long each of those had not been used when it was asked.
    AppTimes m_askedIdleSeconds;
    // Asked applications seen showing their question; the answer restarts their countdown.
    QSet<RunningApplication> m_questionSeen;
    // Asked applications the user brought to the front; leaving them ends the wait.
    QSet<RunningApplication> m_broughtBack;
    // What the last sweep found of the due applications it did not ask.
    QSet<RunningApplication> m_busy;
    QSet<RunningApplication> m_held;
    // The application the user had in front when our request moved the focus to the asked
    // one; it stays protected as if in front until the user activates something else.
    RunningApplication m_focusKeeper;
    // Entries of a stored collection that could not be read and are not kept aside yet.
    QByteArray m_toggleStatusUnreadable;
    QByteArray m_excludedAppsUnreadable;
    // The names whose last-seen day is already today's.
    qint64 m_seenDay = 0;
    QSet<QString> m_seenToday;
    // activeExcludedIdentifiers(), rebuilt on every assignment of m_excludedApps.
    QSet<QString> m_excludedIdentifiers;
};
