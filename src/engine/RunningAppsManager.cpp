// The quit engine, in the order one deactivation travels through it:
//
//   1. Workspace::didDeactivateApplication(app)   the platform says app left the foreground
//   2. handleDeactivation                          logs it, drops blocked apps (isBlockedApp),
//                                                  posts a stamp "app idle since now"
//   3. m_timer -> tick                             once a second; runs the sweep when the scan
//                                                  interval has passed or our window has focus
//   4. checkOpenApps                               prunes ended and blocked apps, restamps the
//                                                  frontmost one, registers newcomers, then asks
//                                                  every app idle past its timeout to quit,
//                                                  unless it plays sound (isPlayingAudio), is
//                                                  busy (isBusy) or the user is at the
//                                                  keyboard (userIsPresent)
//   5. RunningApplication::requestQuit()             the polite request, then forceQuit()
//                                                  when allowed and the first was not delivered
//   6. m_asked                                     an app that survives its request is asked
//                                                  nothing more (followAskedApps) until the
//                                                  user brings it to the front and leaves it
//                                                  (handleActivation, handleDeactivation)
//
// RunningAppsManagerLists.cpp owns the per-application toggles and the exclusion list with
// their stored JSON forms.

#include "RunningAppsManager.h"

#include "SaturatingTime.h"

#include "preferences/UserDefaults.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <QScopeGuard>

#include <algorithm>
#include <limits>

Q_LOGGING_CATEGORY(lcEngine, "com.Idlewatch.Idlewatch.RunningAppsManager", QtInfoMsg)

namespace {

// Before every time: the first tick sweeps whatever the scan interval, even a huge one.
constexpr double kDistantPast = -std::numeric_limits<double>::infinity();

constexpr qint64 kMinTimeoutSeconds = 60;

// A focus change this soon after our request is taken as the asked application answering
// it (raising its question), not as the user's doing.
constexpr double kFocusMovedByRequestSeconds = 30;

} // namespace

RunningAppsManager::RunningAppsManager(Workspace& workspace, UserDefaults& defaults, Clock& clock,
                                       UserPresence* presence, QObject* parent)
    : QObject(parent)
    , m_workspace(&workspace)
    , m_defaults(&defaults)
    , m_clock(&clock)
    , m_presence(presence)
    , m_lastOpenAppsCheck(kDistantPast) {
    syncToggleStatus();
    syncAppTimeouts();
    // Before registration: the blocked rule reads the exclusions.
    syncExcludedApps();
    followStore();
    addCurrentRunningApps();
    qCDebug(lcEngine, "Init");

    connect(m_workspace, &Workspace::didDeactivateApplication, this,
            &RunningAppsManager::handleDeactivation);
    connect(m_workspace, &Workspace::didActivateApplication, this,
            &RunningAppsManager::handleActivation);

    // Owned by the engine, so a tick never reaches an engine that is gone.
    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &RunningAppsManager::tick);
    m_timer->start();
}

RunningAppsManager::~RunningAppsManager() {
    qCDebug(lcEngine, "RunningAppsManager is being deallocated");
}

// ---------------------------------------------------------------- published state

void RunningAppsManager::setRunningApps(AppTimes apps) {
    m_runningApps = std::move(apps);
    emit runningAppsChanged();
}

void RunningAppsManager::setLastDeactivation(const RunningApplication& app, double time) {
    m_runningApps.insert(app, time);
    emit runningAppsChanged();
}

void RunningAppsManager::setToggleStatus(ToggleMap toggles) {
    m_toggleStatus = std::move(toggles);
    emit toggleStatusChanged();
}

bool RunningAppsManager::toggleValue(const QString& name) const {
    const auto it = m_toggleStatus.constFind(name);
    return it != m_toggleStatus.cend() ? *it : newAppsEnabled().value();
}

void RunningAppsManager::setToggle(const QString& name, bool on) {
    m_toggleStatus.insert(name, on);
    emit toggleStatusChanged();
    saveToggleStatus();
}

void RunningAppsManager::setExcludedApps(QList<ExcludedApp> apps) {
    m_excludedApps = std::move(apps);
    m_excludedIdentifiers.clear();
    for (const ExcludedApp& app : std::as_const(m_excludedApps))
        m_excludedIdentifiers.insert(app.bundleIdentifier);
    emit excludedAppsChanged();
}

void RunningAppsManager::removeFromRegistry(const RunningApplication& app) {
    m_runningApps.remove(app);
    m_firstSeenApps.remove(app);
    emit runningAppsChanged();
}

// ---------------------------------------------------------------- blocked rule

RunningAppsManager::BlockRules RunningAppsManager::blockRules() const {
    return {ignoreHiddenApps().value(), m_workspace->ownApplicationId()};
}

bool RunningAppsManager::isBlockedApp(const RunningApplication& app) const {
    return isBlocked(app, blockRules());
}

bool RunningAppsManager::isBlocked(const RunningApplication& app, const BlockRules& rules) const {
    if (rules.ignoreHidden && app.isHidden())
        return true;
    if (app.role() != AppRole::Regular)
        return true;
    const std::optional<QString> identifier = app.applicationId();
    // Two absent identifiers are equal: without one of our own we still never track a
    // process that reports none, rather than risk quitting ourselves.
    if (identifier == rules.ownIdentifier)
        return true;
    const QString text = identifier.value_or(QString());
    return m_excludedIdentifiers.contains(text);
}

// ---------------------------------------------------------------- events and registration

void RunningAppsManager::handleDeactivation(const RunningApplication& app) {
    if (app.isNull())
        return;
    qCDebug(lcEngine, "didDeactivate: %s",
            qUtf8Printable(app.displayName().value_or(QStringLiteral("Unknown"))));
    if (isBlockedApp(app))
        return;
    // Our request, not the user, moved the focus away from `app`: it keeps its protection.
    // An application we asked is never the user's: a second question taking the focus from
    // the first leaves the protection where it is.
    const RunningApplication front = m_workspace->frontmostApplication();
    if (!front.isNull() && !(front == app) && !m_asked.contains(app)) {
        const auto asked = m_asked.constFind(front);
        if (asked != m_asked.cend() && m_clock->now() - *asked <= kFocusMovedByRequestSeconds)
            m_focusKeeper = app;
    }
    // The user came back to an application we asked and has left it again: whatever it asked
    // is answered or left on purpose. A fresh countdown from now, also for the next sweep.
    if (m_broughtBack.remove(app)) {
        m_asked.remove(app);
        m_questionSeen.remove(app);
        m_runningApps.insert(app, m_clock->now());
        m_firstSeenApps.insert(app, m_clock->now());
    }
    // In front until now either way. The stamp lands after the current work; its time is
    // read when it runs.
    QMetaObject::invokeMethod(
        this, [this, app] { setLastDeactivation(app, m_clock->now()); }, Qt::QueuedConnection);
}

void RunningAppsManager::handleActivation(const RunningApplication& app) {
    const auto asked = m_asked.constFind(app);
    if (asked == m_asked.cend())
        return;
    // Its own question taking the focus is not the user coming back: that happens right
    // after our request, or while nobody touches keyboard or pointer.
    if (m_clock->now() - *asked <= kFocusMovedByRequestSeconds)
        return;
    if (m_presence && m_presence->state() == UserPresence::State::Away)
        return;
    m_broughtBack.insert(app);
}

void RunningAppsManager::addCurrentRunningApps() {
    registerRunningApps(m_workspace->runningApplications(), blockRules());
}

void RunningAppsManager::registerRunningApps(const QList<RunningApplication>& running,
                                             const BlockRules& rules) {
    const double now = m_clock->now();
    QList<RunningApplication> newcomers;
    bool togglesChanged = false;
    for (const RunningApplication& app : running) {
        if (isBlocked(app, rules) || m_runningApps.contains(app))
            continue;
        const QString name = app.displayName().value_or(QString());
        if (!name.isEmpty() && !m_toggleStatus.contains(name)) {
            m_toggleStatus.insert(name, newAppsEnabled().value());
            togglesChanged = true;
        }
        newcomers.append(app);
    }

    // Newcomers appear only after the current work (a whole sweep, say) has finished, all
    // with the one time read above. A second call before this runs stamps them again later.
    if (!newcomers.isEmpty()) {
        QMetaObject::invokeMethod(
            this,
            [this, newcomers, now] {
                for (const RunningApplication& app : newcomers) {
                    m_runningApps.insert(app, now);
                    m_firstSeenApps.insert(app, now);
                }
                emit runningAppsChanged();
            },
            Qt::QueuedConnection);
    }
    if (togglesChanged) {
        emit toggleStatusChanged();
        saveToggleStatus();
    }
}

// ---------------------------------------------------------------- tick and sweep

void RunningAppsManager::tick() {
    const double now = m_clock->now();
    // While one of our own windows has the focus its countdowns redraw every second.
    if (!m_workspace->ownWindowIsActive()) {
        const qint64 refresh = openAppsRefreshSeconds().value();
        const double interval = refresh > 1 ? static_cast<double>(refresh) : 1.0;
        if (now - m_lastOpenAppsCheck < interval)
            return;
    }
    m_lastOpenAppsCheck = now;
    checkOpenApps();
}

void RunningAppsManager::checkOpenApps() {
    qCDebug(lcEngine, "checkOpenApps");
    const QList<RunningApplication> running = m_workspace->runningApplications();
    const double now = m_clock->now();
    const BlockRules rules = blockRules();

    // Prune what ended and what has become blocked (newly excluded, hidden, ...).
    QSet<ProcessKey> alive;
    alive.reserve(running.size());
    for (const RunningApplication& app : running)
        alive.insert(app.key());
    for (auto it = m_runningApps.begin(); it != m_runningApps.end();) {
        if (!alive.contains(it.key().key()) || isBlocked(it.key(), rules)) {
            m_firstSeenApps.remove(it.key());
            it = m_runningApps.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = m_firstSeenApps.begin(); it != m_firstSeenApps.end();)
        it = alive.contains(it.key().key()) ? std::next(it) : m_firstSeenApps.erase(it);
    QList<std::pair<RunningApplication, double>> askedAndEnded;
    for (auto it = m_asked.begin(); it != m_asked.end();) {
        if (alive.contains(it.key().key())) {
            ++it;
        } else {
            askedAndEnded.append({it.key(), m_askedIdleSeconds.take(it.key())});
            it = m_asked.erase(it);
        }
    }
    const auto ended = [&](const RunningApplication& app) { return !alive.contains(app.key()); };
    m_questionSeen.removeIf(ended);
    m_broughtBack.removeIf(ended);
    for (auto it = m_askedIdleSeconds.begin(); it != m_askedIdleSeconds.end();)
        it = alive.contains(it.key().key()) ? std::next(it) : m_askedIdleSeconds.erase(it);
    // Published at every sweep: this is what advances the countdowns on screen.
    emit runningAppsChanged();
    for (const auto& [app, idleSeconds] : std::as_const(askedAndEnded)) {
        const qint64 bytes = m_askedMemory.take(app);
        if (bytes > 0) {
            const QDate today = QDate::currentDate();
            if (today != m_freedDay)
                m_freedDay = today, m_freedBytes = 0;
            m_freedBytes += bytes;
            emit freedTodayChanged();
        }
        emit askedApplicationEnded(app, idleSeconds);
    }
    m_askedMemory.removeIf([&](const auto& entry) { return !m_asked.contains(entry.key()); });

    // The frontmost application is idle from now on, so it is never a candidate.
    const RunningApplication frontmost = m_workspace->frontmostApplication();
    if (!frontmost.isNull() && !isBlocked(frontmost, rules))
        setLastDeactivation(frontmost, now);
    keepFocusProtection(frontmost, now, rules);
    followAskedApps(now, rules);

    // Their stamps land after this sweep, so newcomers are not candidates yet.
    registerRunningApps(running, rules);

    // What holds a due request back is shown on its row: published again when it changed.
    QSet<RunningApplication> busy, held;
    const auto publishHolds = qScopeGuard([&] {
        if (busy == m_busy && held == m_held)
            return;
        m_busy = std::move(busy);
        m_held = std::move(held);
        emit runningAppsChanged();
    });
    if (!quittingEnabled().value())
        return;

    std::optional<bool> present;         // asked of the idle source once, when something is due
    std::optional<QSet<qint64>> playing; // asked of the sound source once, likewise
    // A copy: quitting removes entries from the map as we go.
    const AppTimes candidates = m_runningApps;
    for (auto it = candidates.cbegin(); it != candidates.cend(); ++it) {
        const RunningApplication& app = it.key();
        const double last = it.value();
        if (!quitRule(app).isDue(last, m_firstSeenApps.value(app, last), now))
            continue;
        if (!app.hasStarted())
            continue;
        if (!toggleValue(app.displayName().value_or(QString())))
            continue;
        if (isWaitingForUser(app))
            continue;
        // Music in the background is in use though its window is not.
        if (m_audio && !playing)
            playing = m_audio->playingProcessIds();
        if (playing && std::ranges::any_of(app.processIds(),
                                           [&](qint64 pid) { return playing->contains(pid); }))
            continue;
        // Closing a terminal ends the job running in it; it stays due until the job ends.
        if (app.isBusy()) {
            busy.insert(app);
            continue;
        }
        // A question raised now would meet a hand on the keyboard: a Return meant for
        // another window answers it.
        if (!present)
            present = userIsPresent(frontmost);
        if (*present) {
            held.insert(app);
            continue;
        }
        requestQuit(app, Requester::Sweep);
    }
}

bool RunningAppsManager::userIsPresent(const RunningApplication& frontmost) {
    if (!m_presence || !onlyQuitWhileAway().value())
        return false;
    switch (m_presence->state()) {
    case UserPresence::State::Unknown:
        return false;
    case UserPresence::State::Present:
        return true;
    case UserPresence::State::Away:
        // Watching a film or a presentation touches no key.
        return frontmost.isFullscreen();
    }
    return false;
}

RunningAppsManager::QuitRule RunningAppsManager::quitRule(const RunningApplication& app) const {
    const qint64 minutes =
        appTimeout(app.displayName().value_or(QString())).value_or(minutesUntilClose().value());
    // Saturated seconds: no stored value can overflow here.
    return {std::max(SaturatingTime::minutesToSeconds(minutes), kMinTimeoutSeconds),
            std::max(SaturatingTime::minutesToSeconds(launchGraceMinutes().value()), qint64(0))};
}

bool RunningAppsManager::QuitRule::isDue(double last, double graceReference, double now) const {
    // "Not greater" also keeps an app whose time is not a number.
    if (!(now - last > static_cast<double>(timeoutSeconds)))
        return false;
    return graceSeconds < 1 || !(now - graceReference < static_cast<double>(graceSeconds));
}

qint64 RunningAppsManager::QuitRule::secondsLeft(double last, double graceReference,
                                                 double now) const {
    using namespace SaturatingTime;
    const qint64 idleLeft = subtract(timeoutSeconds, truncatedSeconds(now - last));
    if (graceSeconds < 1)
        return idleLeft;
    return std::max(idleLeft, subtract(graceSeconds, truncatedSeconds(now - graceReference)));
}

qint64 RunningAppsManager::secondsUntilQuit(const RunningApplication& app) const {
    const double now = m_clock->now();
    const double last = m_runningApps.value(app, now);
    return quitRule(app).secondsLeft(last, m_firstSeenApps.value(app, last), now);
}

bool RunningAppsManager::requestQuit(const RunningApplication& app, Requester requester) {
    // A second request would answer the application's question for its user.
    if (app.isNull() || isWaitingForUser(app))
        return false;
    bool quit = app.requestQuit();
    if (quit) {
        const double now = m_clock->now();
        m_askedIdleSeconds.insert(app, now - m_runningApps.value(app, now));
        // Measured now: once it has ended there is nothing left to measure.
        if (const std::optional<qint64> bytes = memoryOf(app))
            m_askedMemory.insert(app, *bytes);
        m_asked.insert(app, now);
        m_broughtBack.remove(app);
    }
    if (requester == Requester::User)
        return quit;
    if (!quit && forceQuitIfTerminateFails().value())
        quit = app.forceQuit();
    // Not waiting for the process to end: if it survives, the next sweep lists it as waiting
    // for its user. Undelivered requests are simply tried next sweep.
    if (quit)
        removeFromRegistry(app);
    return quit;
}

bool RunningAppsManager::isWaitingForUser(const RunningApplication& app) const {
    return m_asked.contains(app) || app.hasModalWindow();
}

bool RunningAppsManager::cannotQuit(const RunningApplication& app) const {
    return !app.acceptsPoliteQuit() && !(forceQuitIfTerminateFails().value() && app.canForceQuit());
}

RunningAppsManager::AppState RunningAppsManager::appState(const RunningApplication& app) const {
    if (isWaitingForUser(app))
        return AppState::WaitingForYou;
    if (!toggleValue(app.displayName().value_or(QString())))
        return AppState::SwitchedOff;
    if (cannotQuit(app))
        return AppState::CannotQuit;
    if (isPlayingAudio(app))
        return AppState::PlayingAudio;
    if (m_busy.contains(app))
        return AppState::Busy;
    if (m_held.contains(app))
        return AppState::HeldUntilAway;
    return AppState::Counting;
}

bool RunningAppsManager::isPlayingAudio(const RunningApplication& app) const {
    if (!m_audio)
        return false;
    const QSet<qint64> playing = m_audio->playingProcessIds();
    return std::ranges::any_of(app.processIds(), [&](qint64 pid) { return playing.contains(pid); });
}

std::optional<qint64> RunningAppsManager::memoryOf(const RunningApplication& app) const {
    const QList<qint64> pids = app.processIds();
    if (!m_memory || pids.isEmpty())
        return std::nullopt;
    return m_memory->bytesOf(pids);
}

qint64 RunningAppsManager::freedToday() const {
    // Midnight by the wall clock, where the user's day ends.
    return m_freedDay == QDate::currentDate() ? m_freedBytes : 0;
}

void RunningAppsManager::followAskedApps(double now, const BlockRules& rules) {
    const AppTimes asked = m_asked;
    for (auto it = asked.cbegin(); it != asked.cend(); ++it) {
        const RunningApplication& app = it.key();
        if (isBlocked(app, rules))
            continue;
        // Listed while it waits, so its row can say so; the sweep sends it nothing.
        if (!m_runningApps.contains(app)) {
            m_runningApps.insert(app, now);
            m_firstSeenApps.insert(app, now);
        }
        if (app.isAskingUser()) {
            m_questionSeen.insert(app);
        } else if (m_questionSeen.remove(app)) {
            // Answered, and still running: a fresh countdown from the answer.
            m_asked.remove(app);
            m_broughtBack.remove(app);
            m_runningApps.insert(app, now);
            m_firstSeenApps.insert(app, now);
        }
    }
}

void RunningAppsManager::keepFocusProtection(const RunningApplication& frontmost, double now,
                                             const BlockRules& rules) {
    if (m_focusKeeper.isNull())
        return;
    const RunningApplication keeper = m_focusKeeper;
    if (frontmost == keeper || !m_runningApps.contains(keeper) || isBlocked(keeper, rules)) {
        m_focusKeeper = {};
        return;
    }
    // Until the user activates another application, the keeper counts as in front; from
    // then on it is idle like any other.
    setLastDeactivation(keeper, now);
    if (!frontmost.isNull() && !m_asked.contains(frontmost))
        m_focusKeeper = {};
}

void RunningAppsManager::resetAllTimers() {
    const double now = m_clock->now();
    for (auto it = m_runningApps.begin(); it != m_runningApps.end(); ++it) {
        it.value() = now;
        m_firstSeenApps.insert(it.key(), now);
    }
    emit runningAppsChanged();
}
