#include "ToplevelWorkspace.h"

#include "platform/linux/ApplicationIdentity.h"
#include "platform/linux/DesktopEntryIndex.h"
#include "platform/linux/ProcessControl.h"
#include "platform/linux/TerminalJobs.h"
#include "preferences/AppIdentity.h"

#include <QGuiApplication>
#include <QHash>
#include <QLoggingCategory>
#include <QSet>
#include <QSocketNotifier>
#include <QWindow>

#include <algorithm>
#include <map>
#include <unistd.h>
#include <unordered_map>

namespace {

Q_LOGGING_CATEGORY(lcToplevels, "com.Idlewatch.Idlewatch.Workspace", QtInfoMsg)

// Keys of applications with no proven process live in domains of their own, so that they
// never collide with a local process (domain 0) nor with each other: a claimed PID (with
// its machine), a client connection, a group of toplevels sharing an app id.
constexpr quint64 kClaimedDomainBit = quint64(1) << 63;
constexpr quint64 kClientDomainBit = quint64(1) << 62;
constexpr quint64 kGroupDomainBit = quint64(1) << 61;

bool isQuestion(const Toplevel& t) {
    return t.kind == ToplevelKind::Dialog || t.modal || t.hasParent;
}

bool isNormal(const Toplevel& t) {
    return t.kind == ToplevelKind::Normal && !t.hasParent;
}

bool namesProcess(const Toplevel& t) {
    return t.pid > 0 && (t.pidSource == PidSource::Proven || t.pidSource == PidSource::Matched);
}

} // namespace

class ToplevelApplication;

// The state the workspace and its application handles share. Handles hold it weakly: a
// handle kept in an engine map after the workspace is gone reports an ended application.
struct ToplevelCache final : ToplevelSink, std::enable_shared_from_this<ToplevelCache> {
    struct Entry {
        Toplevel facts;
        quint64 serial = 0; // first-seen order
        ProcessKey key;     // its application's
        QString group;      // for app-id grouping: fixed when first seen
    };
    struct App {
        ProcessKey key;
        QList<const Entry*> toplevels; // first seen first
        bool active = false;
    };

    ToplevelCache(ToplevelWorkspace* workspace, std::unique_ptr<ToplevelSource> s,
                  DesktopEntryIndex& entries)
        : q(workspace)
        , source(std::move(s))
        , index(entries) {}

    void toplevelChanged(const Toplevel& toplevel) override;
    void toplevelClosed(ToplevelId id) override;
    // Has the source report what changed, then regroups and follows the activation.
    void pump(bool readSocket);
    void regroup();
    void updateActivation();
    ProcessKey deriveKey(const Entry& entry, const Entry* previous);
    bool isOwn(const Toplevel& t) const;

    const App* app(const ProcessKey& key) const {
        const auto it = appIndex.constFind(key);
        return it == appIndex.cend() ? nullptr : &apps[size_t(*it)];
    }
    RunningApplication handleFor(const ProcessKey& key);
    void fixIdentity(ToplevelApplication& handle, const App& a) const;
    // Names it again from the facts it was first seen with (after the entries changed).
    void nameFromFacts(ToplevelApplication& handle) const;
    // The app's clients that have no toplevel a close request could reach, one toplevel each.
    QList<ToplevelId> unaskableClients(const App& a) const;

    ToplevelWorkspace* const q;
    const std::unique_ptr<ToplevelSource> source;
    DesktopEntryIndex& index;
    const qint64 ownPid = qint64(::getpid());

    std::unordered_map<ToplevelId, Entry> toplevels; // node-based: App keeps pointers
    std::map<quint64, ToplevelId> order;             // serial -> id
    quint64 nextSerial = 1;
    QHash<QString, ProcessKey> groupKeys;
    quint64 nextGroup = 1;
    bool dirty = false;

    std::vector<App> apps; // in the order of each one's first toplevel
    QHash<ProcessKey, qsizetype> appIndex;
    QHash<ProcessKey, std::shared_ptr<ToplevelApplication>> handles;
    std::optional<ProcessKey> frontmost;
    // Declared last, so that it goes before the source whose socket it watches.
    std::unique_ptr<QSocketNotifier> notifier;
};

// The behaviour behind one RunningApplication: its identity, fixed when first seen, and the
// rules read off its toplevels.
class ToplevelApplication final : public RunningApplication::Backend {
    std::weak_ptr<ToplevelCache> m_cache;
    ProcessKey m_key;

    static std::optional<QString> text(const QString& s) {
        return s.isEmpty() ? std::nullopt : std::optional(s);
    }
    template <class F> static bool any(const ToplevelCache::App& a, F f) {
        return std::any_of(a.toplevels.cbegin(), a.toplevels.cend(),
                           [&](const auto* e) { return f(e->facts); });
    }
    // Its main toplevels: all but the questions, which would take a close request as their
    // answer ("Cancel", or worse "Don't save"). With `askable`, none unless every one of
    // them can take a close request: a window manager may kill a client whose window has
    // no close request of its own.
    static QList<ToplevelId> mainToplevels(const ToplevelCache::App& a, bool askable = true) {
        QList<ToplevelId> main;
        for (const auto* e : a.toplevels) {
            if (isQuestion(e->facts))
                continue;
            if (askable && !e->facts.closeable)
                return {};
            main += e->facts.id;
        }
        return main;
    }
    // f(app, cache) while the application has toplevels; nothing (false) once it ended.
    template <class F> auto withApp(F f) const {
        using R =
            decltype(f(std::declval<const ToplevelCache::App&>(), std::declval<ToplevelCache&>()));
        const auto d = m_cache.lock();
        const ToplevelCache::App* a = d ? d->app(m_key) : nullptr;
        if constexpr (std::is_same_v<R, bool>)
            return a && f(*a, *d);
        else
            return a ? std::optional<R>(f(*a, *d)) : std::nullopt;
    }

public:
    ToplevelApplication(std::weak_ptr<ToplevelCache> cache, ProcessKey key)
        : m_cache(std::move(cache))
        , m_key(key) {}

    ProcessKey key() const override { return m_key; }
    std::optional<QString> applicationId() const override { return text(identity.id); }
    std::optional<QString> displayName() const override { return text(identity.name); }
    std::optional<QString> entryPath() const override {
        return identity.entry ? std::optional(identity.entry->path) : std::nullopt;
    }
    std::optional<QString> executablePath() const override { return text(identity.executable); }
    bool isHidden() const override {
        return withApp([](const ToplevelCache::App& a, ToplevelCache&) {
            return any(a, isNormal) &&
                   !any(a, [](const Toplevel& t) { return isNormal(t) && !t.minimized; });
        });
    }
    AppRole role() const override {
        const auto role = withApp([](const ToplevelCache::App& a, ToplevelCache&) {
            if (any(a, [](const Toplevel& t) { return isNormal(t) && !t.skipTaskbar; }))
                return AppRole::Regular;
            return any(a, [](const Toplevel& t) { return t.kind == ToplevelKind::DesktopPart; })
                       ? AppRole::DesktopPart
                       : AppRole::Auxiliary;
        });
        // An application without toplevels is gone: never one to track.
        return role.value_or(AppRole::DesktopPart);
    }
    bool hasStarted() const override {
        return withApp([](const ToplevelCache::App& a, ToplevelCache&) {
            return any(a, [](const Toplevel& t) { return t.shown; });
        });
    }
    bool acceptsPoliteQuit() const override {
        return withApp([](const ToplevelCache::App& a, ToplevelCache&) {
            return !mainToplevels(a).isEmpty();
        });
    }
    bool canForceQuit() const override {
        return withApp([](const ToplevelCache::App& a, ToplevelCache& d) {
            return d.source->canForceClose() && !d.unaskableClients(a).isEmpty();
        });
    }
    bool isAskingUser() const override {
        return withApp([this](const ToplevelCache::App& a, ToplevelCache&) {
            // A toplevel that appeared after our request is the application asking.
            return std::any_of(a.toplevels.cbegin(), a.toplevels.cend(), [this](const auto* e) {
                return isQuestion(e->facts) || (askedAtSerial && e->serial > *askedAtSerial);
            });
        });
    }
    bool hasModalWindow() const override {
        return withApp([](const ToplevelCache::App& a, ToplevelCache&) {
            return any(a, [](const Toplevel& t) { return t.modal; });
        });
    }
    bool isFullscreen() const override {
        return withApp([](const ToplevelCache::App& a, ToplevelCache&) {
            return any(a, [](const Toplevel& t) { return t.fullscreen && !t.minimized; });
        });
    }
    QList<qint64> processIds() const override {
        return withApp([](const ToplevelCache::App& a, ToplevelCache&) {
                   QList<qint64> pids;
                   for (const auto* e : a.toplevels)
                       if (namesProcess(e->facts) && !pids.contains(e->facts.pid))
                           pids += e->facts.pid;
                   return pids;
               })
            .value_or(QList<qint64>());
    }
    bool isBusy() const override {
        const QList<qint64> pids = processIds();
        return !pids.isEmpty() && TerminalJobs::hasRunningJob(pids);
    }
    QString windowTitle() const override {
        return withApp([](const ToplevelCache::App& a, ToplevelCache&) {
                   const QList<ToplevelId> main = mainToplevels(a, false);
                   const auto* first = a.toplevels.first();
                   for (const auto* e : a.toplevels)
                       if (main.contains(e->facts.id))
                           return e->facts.title;
                   return first->facts.title;
               })
            .value_or(QString());
    }

    // Close requests to its main toplevels, only when every one of them can take one.
    bool requestQuit() override {
        const auto d = m_cache.lock();
        if (!d || d->source->isBroken())
            return false;
        // The cache must be current: a toplevel may have closed since the last event.
        d->pump(true);
        const ToplevelCache::App* a = d->app(m_key);
        const QList<ToplevelId> main = a ? mainToplevels(*a) : QList<ToplevelId>();
        if (main.isEmpty() || !d->source->requestClose(main))
            return false;
        askedAtSerial = d->nextSerial - 1;
        return true;
    }
    // Ends only the clients none of whose toplevels can be asked; never signals a process.
    bool forceQuit() override {
        const auto d = m_cache.lock();
        if (!d || d->source->isBroken() || !d->source->canForceClose())
            return false;
        d->pump(true);
        const ToplevelCache::App* a = d->app(m_key);
        const QList<ToplevelId> clients = a ? d->unaskableClients(*a) : QList<ToplevelId>();
        return !clients.isEmpty() && d->source->forceClose(clients);
    }

    ApplicationIdentity::Identity identity;
    bool identityFixed = false;
    // What it was first named from, so that an entry installed later can still name it.
    ApplicationIdentity::Facts facts;
    QString fallbackName;
    // The newest toplevel when a close request was last sent.
    std::optional<quint64> askedAtSerial;
};

// ---------------------------------------------------------------- the cache

std::optional<quint64> ToplevelSource::processStartTime(qint64 pid) const {
    return ProcessControl::startTime(pid_t(pid));
}

bool ToplevelCache::isOwn(const Toplevel& t) const {
    // A client claiming our PID is taken for us too: it is then left alone, never quit.
    return (t.pid == ownPid &&
            (t.pidSource == PidSource::Proven || t.pidSource == PidSource::Claimed)) ||
           t.appId == QLatin1String(kAppIdentifier);
}

ProcessKey ToplevelCache::deriveKey(const Entry& e, const Entry* previous) {
    const Toplevel& t = e.facts;
    if (t.pid > 0 && t.pidSource == PidSource::Proven) {
        // The start time is the one of the process first seen holding the window, so a PID
        // reused while the window lives never becomes this application.
        const bool samePid = previous && previous->key.domain == 0 && previous->key.pid == t.pid &&
                             previous->key.startTime != 0;
        return {t.pid,
                samePid ? previous->key.startTime : source->processStartTime(t.pid).value_or(0), 0};
    }
    if (t.pid > 0 && t.pidSource == PidSource::Claimed)
        return {t.pid, 0, kClaimedDomainBit | (quint64(qHash(t.host)) >> 3)};
    if (t.client != 0)
        return {0, 0, kClientDomainBit | (t.client & ~kClaimedDomainBit & ~kClientDomainBit)};
    auto it = groupKeys.find(e.group);
    if (it == groupKeys.end())
        it = groupKeys.insert(e.group, {0, 0, kGroupDomainBit | nextGroup++});
    return *it;
}

void ToplevelCache::toplevelChanged(const Toplevel& toplevel) {
    auto it = toplevels.find(toplevel.id);
    if (it == toplevels.end()) {
        Entry e{toplevel, nextSerial++, {}, {}};
        e.group = toplevel.appId.isEmpty() ? QStringLiteral("t:") + QString::number(e.serial)
                                           : QStringLiteral("a:") + toplevel.appId;
        e.key = deriveKey(e, nullptr);
        order.emplace(e.serial, toplevel.id);
        toplevels.emplace(toplevel.id, std::move(e));
        dirty = true;
        return;
    }
    Entry& e = it->second;
    const Entry previous = e;
    e.facts = toplevel;
    e.key = deriveKey(e, &previous);
    // A new key regroups; new naming facts name an application not named yet.
    const Toplevel& was = previous.facts;
    dirty = dirty || e.key != previous.key || was.appId != toplevel.appId ||
            was.wmClass != toplevel.wmClass || was.desktopEntry != toplevel.desktopEntry;
}

void ToplevelCache::toplevelClosed(ToplevelId id) {
    const auto it = toplevels.find(id);
    if (it == toplevels.end())
        return;
    const QString group = it->second.group;
    order.erase(it->second.serial);
    toplevels.erase(it);
    dirty = true;
    // A group that empties and comes back is a new application, as a relaunch is.
    if (std::none_of(toplevels.cbegin(), toplevels.cend(),
                     [&](const auto& e) { return e.second.group == group; }))
        groupKeys.remove(group);
}

void ToplevelCache::pump(bool readSocket) {
    const bool wasBroken = source->isBroken();
    source->update(*this, readSocket);
    if (!wasBroken && source->isBroken()) {
        qCWarning(lcToplevels) << "The connection to the desktop was lost; no applications "
                                  "are seen any more.";
        if (notifier)
            notifier->setEnabled(false);
    }
    if (std::exchange(dirty, false))
        regroup();
    updateActivation();
}

void ToplevelCache::regroup() {
    std::vector<App> previous = std::move(apps);
    apps.clear();
    appIndex.clear();
    for (const auto& [serial, id] : order) {
        const Entry& e = toplevels.at(id);
        if (isOwn(e.facts))
            continue;
        auto slot = appIndex.constFind(e.key);
        if (slot == appIndex.cend()) {
            const auto old = std::find_if(previous.cbegin(), previous.cend(),
                                          [&](const App& a) { return a.key == e.key; });
            slot = appIndex.insert(e.key, qsizetype(apps.size()));
            apps.push_back({e.key, {}, old != previous.cend() && old->active});
        }
        apps[size_t(*slot)].toplevels.append(&e);
    }
    for (auto it = handles.begin(); it != handles.end();)
        it = appIndex.contains(it.key()) ? std::next(it) : handles.erase(it);
    for (const App& a : apps)
        if (const auto handle = handles.value(a.key); handle && !handle->identityFixed)
            fixIdentity(*handle, a);
}

void ToplevelCache::fixIdentity(ToplevelApplication& handle, const App& a) const {
    ApplicationIdentity::Facts facts;
    qint64 pid = a.key.domain == 0 ? a.key.pid : 0;
    for (const Entry* e : a.toplevels) {
        const Toplevel& t = e->facts;
        for (auto [field, value] :
             {std::pair{&facts.desktopEntry, &t.desktopEntry}, {&facts.appId, &t.appId}})
            if (field->isEmpty())
                *field = *value;
        if (facts.wmClass.isEmpty() && facts.wmInstance.isEmpty()) {
            facts.wmClass = t.wmClass;
            facts.wmInstance = t.wmInstance;
        }
        if (pid == 0 && namesProcess(t))
            pid = t.pid;
    }
    ApplicationIdentity::readProcess(pid, facts);
    handle.facts = facts;
    handle.fallbackName =
        pid ? ProcessControl::commandName(pid_t(pid)) : a.toplevels.first()->facts.title;
    nameFromFacts(handle);
    // Once it has a name it keeps it: a later class or title change is the same application.
    handle.identityFixed = !handle.identity.id.isEmpty();
}

void ToplevelCache::nameFromFacts(ToplevelApplication& handle) const {
    handle.identity = ApplicationIdentity::resolve(index, handle.facts);
    if (handle.identity.name.isEmpty())
        handle.identity.name = handle.fallbackName;
}

RunningApplication ToplevelCache::handleFor(const ProcessKey& key) {
    std::shared_ptr<ToplevelApplication>& handle = handles[key];
    if (!handle) {
        handle = std::make_shared<ToplevelApplication>(weak_from_this(), key);
        if (const App* a = app(key))
            fixIdentity(*handle, *a);
    }
    return RunningApplication(handle);
}

void ToplevelCache::updateActivation() {
    QList<RunningApplication> left;
    std::optional<ProcessKey> gained;
    for (App& a : apps) {
        const bool now = std::any_of(a.toplevels.cbegin(), a.toplevels.cend(),
                                     [](const Entry* e) { return e->facts.active; });
        if (a.active && !now)
            left.append(handleFor(a.key));
        if (now && !a.active)
            gained = a.key;
        a.active = now;
    }
    // While a focus change is half reported two applications look active: the newest wins.
    if (gained) {
        frontmost = gained;
    } else if (!frontmost || !app(*frontmost) || !app(*frontmost)->active) {
        const auto still =
            std::find_if(apps.cbegin(), apps.cend(), [](const App& a) { return a.active; });
        frontmost = still == apps.cend() ? std::nullopt : std::optional(still->key);
    }
    for (const RunningApplication& handle : std::as_const(left))
        QMetaObject::invokeMethod(
            q, [ws = q, handle] { emit ws->didDeactivateApplication(handle); },
            Qt::QueuedConnection);
    if (gained)
        QMetaObject::invokeMethod(
            q, [ws = q, handle = handleFor(*gained)] { emit ws->didActivateApplication(handle); },
            Qt::QueuedConnection);
}

QList<ToplevelId> ToplevelCache::unaskableClients(const App& a) const {
    QHash<quint64, ToplevelId> candidates;
    for (const Entry* e : a.toplevels)
        if (e->facts.client != 0)
            candidates.insert(e->facts.client, e->facts.id);
    // A client with any toplevel that can be asked, in this application or another one
    // sharing its PID, is never ended.
    for (const auto& [id, e] : toplevels)
        if (e.facts.closeable)
            candidates.remove(e.facts.client);
    return candidates.values();
}

// ---------------------------------------------------------------- the workspace

ToplevelWorkspace::ToplevelWorkspace(std::unique_ptr<ToplevelSource> source,
                                     DesktopEntryIndex& index)
    : d(std::make_shared<ToplevelCache>(this, std::move(source), index)) {
    d->pump(true);
    if (d->source->isBroken())
        return;
    d->notifier =
        std::make_unique<QSocketNotifier>(d->source->fileDescriptor(), QSocketNotifier::Read);
    QObject::connect(d->notifier.get(), &QSocketNotifier::activated, this,
                     [core = d.get()] { core->pump(true); });
    QObject::connect(&index, &DesktopEntryIndex::changed, this, [core = d.get()] {
        for (const auto& handle : std::as_const(core->handles))
            if (handle->identityFixed)
                core->nameFromFacts(*handle);
    });
}

ToplevelWorkspace::~ToplevelWorkspace() = default;

ToplevelSource& ToplevelWorkspace::source() const {
    return *d->source;
}

QList<RunningApplication> ToplevelWorkspace::runningApplications() const {
    d->pump(true);
    QList<RunningApplication> list;
    list.reserve(qsizetype(d->apps.size()));
    for (const ToplevelCache::App& a : d->apps)
        list.append(d->handleFor(a.key));
    return list;
}

RunningApplication ToplevelWorkspace::frontmostApplication() const {
    d->pump(true);
    return d->frontmost && d->app(*d->frontmost) ? d->handleFor(*d->frontmost)
                                                 : RunningApplication();
}

std::optional<QString> ToplevelWorkspace::ownApplicationId() const {
    return QString::fromLatin1(kAppIdentifier);
}

bool ToplevelWorkspace::ownWindowIsActive() const {
    if (!qGuiApp)
        return false;
    if (QGuiApplication::focusWindow())
        return true;
    // Popups bypass an X11 window manager and never become the focus window there.
    const auto windows = QGuiApplication::topLevelWindows();
    return std::any_of(windows.cbegin(), windows.cend(),
                       [](const QWindow* w) { return w->isVisible() && w->type() == Qt::Popup; });
}

std::optional<ApplicationEntry> ToplevelWorkspace::entryAt(const QString& path) const {
    const std::optional<DesktopApplication> entry = d->index.entryAt(path);
    if (!entry)
        return std::nullopt;
    return ApplicationEntry{entry->id, entry->displayName};
}

QString ToplevelWorkspace::iconNameForEntry(const QString& path) const {
    const std::optional<DesktopApplication> entry = d->index.entryAt(path);
    return entry ? entry->icon : QString();
}

bool ToplevelWorkspace::canForceQuit() const {
    return d->source->canForceClose();
}

QString ToplevelWorkspace::applicationsFolder() const {
    return DesktopEntryIndex::applicationsFolder();
}

QList<InstalledApplication> ToplevelWorkspace::installedApplications() const {
    QList<InstalledApplication> out;
    for (const DesktopApplication& app : d->index.shownApplications())
        out.append({app.path, app.displayName, app.icon, app.id, app.keywords});
    return out;
}
