// The Wayland backend, for compositors that offer wlroots' foreign-toplevel list.
//
// One deactivation's route here:
//   1. the compositor sends `state` events to the toplevels whose `activated` state changed,
//      each batch closed by `done` (a focus change is a pair, in either order)
//   2. onDone applies the batch and regroups the toplevels by app_id (rebuildApps)
//   3. once everything read is dispatched (pump), updateActivation compares each
//      application's "has an activated toplevel" with before, so that both halves of a
//      focus change are seen together
//   4. an application that lost its last activated toplevel is posted to
//      Workspace::didDeactivateApplication on the main queue
// Everything else (the list, names, hidden) reads the cache those events keep.

#include "WaylandWorkspace.h"

#include "platform/linux/DesktopEntryIndex.h"
#include "preferences/AppIdentity.h"

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QWindow>

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <utility>
#include <vector>

namespace {

Q_LOGGING_CATEGORY(lcWayland, "com.Idlewatch.Idlewatch.WaylandWorkspace", QtInfoMsg)

// The protocol names no process, so an application's key is a group of toplevels in a
// domain of its own: never a local PID (domain 0) nor one of the X11 backend's domains. A
// group that empties and comes back is a new application, as a relaunch is.
constexpr quint64 kToplevelGroupDomainBit = quint64(1) << 61;

constexpr uint32_t kManagerVersion = 3;
constexpr char kManagerInterface[] = "zwlr_foreign_toplevel_manager_v1";

struct State;
class WaylandApp;

// The registry's view: only the manager's global matters.
struct GlobalScan {
    uint32_t name = 0;
    uint32_t version = 0;
};

// What a toplevel's events say, applied together on `done`.
struct ToplevelProperties {
    QString title;
    QString appId;
    bool activated = false;
    bool minimized = false;
    zwlr_foreign_toplevel_handle_v1* parent = nullptr;
};

struct Toplevel {
    State* state = nullptr;
    zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    quint64 serial = 0; // announcement order; also tells toplevels that came after a close
    bool announced = false;
    ToplevelProperties current;
    ToplevelProperties pending;
};

struct State {
    WaylandWorkspace* q = nullptr;
    // Handles outlive the workspace in engine maps; they reach it through this token.
    std::shared_ptr<State> self{this, [](State*) {}};

    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    zwlr_foreign_toplevel_manager_v1* manager = nullptr;
    GlobalScan globals;
    bool broken = false;
    QSocketNotifier* notifier = nullptr;
    DesktopEntryIndex* index = nullptr;
    bool activationDirty = false;

    std::vector<std::unique_ptr<Toplevel>> toplevels; // in announcement order
    quint64 nextToplevelSerial = 1;
    quint64 nextGroupSerial = 1;

    // One entry per application, in the order of its first toplevel.
    struct App {
        QString group; // "a:" + app_id, or "t:" + serial for a toplevel without one
        ProcessKey key;
        QList<Toplevel*> toplevels;
        std::shared_ptr<WaylandApp> handle;
        bool activated = false; // as of the last updateActivation
        // The newest toplevel serial when a close was last delivered: a toplevel newer than
        // that is the application asking its user (a "save changes?" window).
        std::optional<quint64> askedAtSerial;
        quint64 matchGeneration = ~quint64(0);
        std::optional<DesktopApplication> entry;
    };
    std::vector<App> apps;
    quint64 matchGeneration = 0;
    std::optional<ProcessKey> frontmost;

    bool open(const QByteArray& name, QString* error);
    void pump(bool readSocket);
    bool flush();
    void markBroken();
    void releaseProxies();
    void announce(zwlr_foreign_toplevel_handle_v1* handle);
    void onDone(Toplevel* t);
    void onClosed(Toplevel* t);
    void rebuildApps();
    void updateActivation();

    const App* app(const ProcessKey& key) const {
        auto it =
            std::find_if(apps.cbegin(), apps.cend(), [&](const App& a) { return a.key == key; });
        return it == apps.cend() ? nullptr : &*it;
    }
    App* app(const ProcessKey& key) { return const_cast<App*>(std::as_const(*this).app(key)); }
    RunningApplication handleFor(const App& a) const;
    const std::optional<DesktopApplication>& entryFor(const App& a);
    DesktopEntryIndex& desktopIndex() const { return *index; }
};

bool isOwn(const ToplevelProperties& p) {
    return p.appId == QLatin1String(kAppIdentifier);
}

// The behaviour behind one RunningApplication. It remembers the last identity it reported
// so that a handle of an ended application still names it.
class WaylandApp final : public RunningApplication::Backend {
public:
    WaylandApp(std::weak_ptr<State> workspace, ProcessKey key)
        : m_workspace(std::move(workspace))
        , m_key(key) {}

    ProcessKey key() const override { return m_key; }
    std::optional<QString> bundleIdentifier() const override {
        refreshIdentity();
        return m_identifier;
    }
    std::optional<QString> localizedName() const override {
        refreshIdentity();
        return m_name;
    }
    std::optional<QString> bundlePath() const override {
        refreshIdentity();
        return m_path;
    }
    bool isHidden() const override;
    ActivationPolicy activationPolicy() const override;
    bool isFinishedLaunching() const override;
    bool terminate() override;
    // No process identity comes with a toplevel: there is nothing that could be signalled
    // without guessing.
    bool forceTerminate() override { return false; }
    bool canForceQuit() const override { return false; }
    bool acceptsPoliteQuit() const override;
    bool isAskingUser() const override;

private:
    void refreshIdentity() const;
    template <class F> auto withApp(F f) const {
        auto d = m_workspace.lock();
        const State::App* a = d ? d->app(m_key) : nullptr;
        return f(d.get(), a);
    }

    std::weak_ptr<State> m_workspace;
    ProcessKey m_key;
    mutable std::optional<QString> m_identifier;
    mutable std::optional<QString> m_name;
    mutable std::optional<QString> m_path;
    mutable quint64 m_identityGeneration = ~quint64(0);
};

// A main window is one without a parent: a dialog would take a close request as its answer.
bool isMain(const Toplevel* t) {
    return t->current.parent == nullptr;
}

// ---------------------------------------------------------------- listeners

const zwlr_foreign_toplevel_handle_v1_listener kToplevelListener = {
    [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
        static_cast<Toplevel*>(data)->pending.title = QString::fromUtf8(title);
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
        static_cast<Toplevel*>(data)->pending.appId = QString::fromUtf8(appId);
    },
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
        auto* t = static_cast<Toplevel*>(data);
        t->pending.activated = t->pending.minimized = false;
        const auto* values = static_cast<const uint32_t*>(states->data);
        for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i) {
            if (values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED)
                t->pending.activated = true;
            else if (values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED)
                t->pending.minimized = true;
        }
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto* t = static_cast<Toplevel*>(data);
        t->state->onDone(t);
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto* t = static_cast<Toplevel*>(data);
        t->state->onClosed(t);
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1* parent) {
        static_cast<Toplevel*>(data)->pending.parent = parent;
    },
};

const zwlr_foreign_toplevel_manager_v1_listener kManagerListener = {
    [](void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
        static_cast<State*>(data)->announce(handle);
    },
    [](void* data, zwlr_foreign_toplevel_manager_v1* manager) {
        auto* d = static_cast<State*>(data);
        qCWarning(lcWayland) << "The compositor stopped announcing new windows.";
        zwlr_foreign_toplevel_manager_v1_destroy(manager);
        d->manager = nullptr;
    },
};

const wl_registry_listener kRegistryListener = {
    [](void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version) {
        auto* scan = static_cast<GlobalScan*>(data);
        if (std::strcmp(interface, kManagerInterface) == 0 && scan->name == 0) {
            scan->name = name;
            scan->version = version;
        }
    },
    [](void* data, wl_registry*, uint32_t name) {
        // Bound objects keep working until the compositor sends `finished`.
        if (name == static_cast<GlobalScan*>(data)->name)
            qCInfo(lcWayland) << "The compositor withdrew the toplevel list.";
    },
};

QByteArray displayName(const QByteArray& display) {
    return display.isEmpty() ? qgetenv("WAYLAND_DISPLAY") : display;
}

// ---------------------------------------------------------------- connection

bool State::open(const QByteArray& name, QString* error) {
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (name.isEmpty())
        return fail(QStringLiteral("Idlewatch: $WAYLAND_DISPLAY is not set."));
    display = wl_display_connect(name.constData());
    if (!display)
        return fail(QStringLiteral("Idlewatch cannot reach the Wayland compositor at \"%1\".")
                        .arg(QString::fromLocal8Bit(name)));
    registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &globals);
    if (wl_display_roundtrip(display) < 0)
        return fail(QStringLiteral("Idlewatch lost the Wayland compositor."));
    if (globals.name == 0)
        return fail(QStringLiteral("The Wayland compositor does not let Idlewatch see other "
                                   "applications' windows (no wlr foreign-toplevel management)."));
    manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
        wl_registry_bind(registry, globals.name, &zwlr_foreign_toplevel_manager_v1_interface,
                         std::min(globals.version, kManagerVersion)));
    zwlr_foreign_toplevel_manager_v1_add_listener(manager, &kManagerListener, this);
    // The existing toplevels, each with its first batch of properties.
    if (wl_display_roundtrip(display) < 0)
        return fail(QStringLiteral("Idlewatch lost the Wayland compositor."));
    updateActivation();
    return true;
}

void State::markBroken() {
    if (broken)
        return;
    broken = true;
    qCWarning(lcWayland) << "The Wayland connection was lost; no applications are seen any more.";
    if (notifier)
        notifier->setEnabled(false);
    releaseProxies();
    rebuildApps();
    updateActivation();
}

void State::releaseProxies() {
    // Destroying a proxy sends a request only where one is defined; either way the
    // client-side object is freed, which disconnecting alone would not do.
    for (auto& t : toplevels)
        zwlr_foreign_toplevel_handle_v1_destroy(t->handle);
    toplevels.clear();
    if (manager) {
        if (!broken)
            zwlr_foreign_toplevel_manager_v1_stop(manager);
        zwlr_foreign_toplevel_manager_v1_destroy(manager);
        manager = nullptr;
    }
    if (registry) {
        wl_registry_destroy(registry);
        registry = nullptr;
    }
}

void State::pump(bool readSocket) {
    if (broken)
        return;
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0) {
            markBroken();
            return;
        }
    }
    flush();
    bool readable = false;
    if (readSocket) {
        pollfd p{wl_display_get_fd(display), POLLIN, 0};
        readable = ::poll(&p, 1, 0) > 0;
    }
    if (readable) {
        if (wl_display_read_events(display) < 0) {
            markBroken();
            return;
        }
    } else {
        wl_display_cancel_read(display);
    }
    if (wl_display_dispatch_pending(display) < 0) {
        markBroken();
        return;
    }
    if (std::exchange(activationDirty, false))
        updateActivation();
}

bool State::flush() {
    // A full socket keeps the rest buffered for the next flush: still on its way.
    return wl_display_flush(display) >= 0 || errno == EAGAIN;
}

// ---------------------------------------------------------------- events

void State::announce(zwlr_foreign_toplevel_handle_v1* handle) {
    auto t = std::make_unique<Toplevel>();
    t->state = this;
    t->handle = handle;
    t->serial = nextToplevelSerial++;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kToplevelListener, t.get());
    toplevels.push_back(std::move(t));
}

void State::onDone(Toplevel* t) {
    const bool regroup = !t->announced || t->pending.appId != t->current.appId;
    if (t->pending.appId != t->current.appId || t->pending.title != t->current.title)
        ++matchGeneration;
    qCDebug(lcWayland) << "done" << t->serial << t->pending.appId << "activated"
                       << t->pending.activated << "minimized" << t->pending.minimized;
    t->current = t->pending;
    t->announced = true;
    if (regroup)
        rebuildApps();
    activationDirty = true;
}

void State::onClosed(Toplevel* t) {
    zwlr_foreign_toplevel_handle_v1* closing = t->handle;
    // A dialog whose parent closed has none now.
    for (auto& other : toplevels) {
        if (other->current.parent == closing)
            other->current.parent = nullptr;
        if (other->pending.parent == closing)
            other->pending.parent = nullptr;
    }
    zwlr_foreign_toplevel_handle_v1_destroy(closing);
    toplevels.erase(std::find_if(toplevels.begin(), toplevels.end(),
                                 [t](const auto& p) { return p.get() == t; }));
    rebuildApps();
    activationDirty = true;
}

void State::rebuildApps() {
    std::vector<App> previous = std::move(apps);
    apps.clear();
    for (const auto& t : toplevels) {
        if (!t->announced || isOwn(t->current))
            continue;
        const QString group = t->current.appId.isEmpty()
                                  ? QStringLiteral("t:") + QString::number(t->serial)
                                  : QStringLiteral("a:") + t->current.appId;
        auto slot =
            std::find_if(apps.begin(), apps.end(), [&](const App& a) { return a.group == group; });
        if (slot == apps.end()) {
            auto old = std::find_if(previous.begin(), previous.end(),
                                    [&](const App& a) { return a.group == group; });
            App a;
            if (old != previous.end()) {
                a = std::move(*old);
                a.toplevels.clear();
            } else {
                a.group = group;
                a.key = {0, 0, kToplevelGroupDomainBit | nextGroupSerial++};
            }
            apps.push_back(std::move(a));
            slot = apps.end() - 1;
        }
        slot->toplevels.append(t.get());
    }
    ++matchGeneration;
}

void State::updateActivation() {
    QList<RunningApplication> left;
    std::optional<ProcessKey> gained;
    for (App& a : apps) {
        const bool now = std::any_of(a.toplevels.cbegin(), a.toplevels.cend(),
                                     [](const Toplevel* t) { return t->current.activated; });
        if (a.activated && !now) {
            qCDebug(lcWayland) << "left the foreground:" << a.group;
            left.append(handleFor(a));
        }
        if (now && !a.activated)
            gained = a.key;
        a.activated = now;
    }
    // While a focus change is half reported two applications look active: the newest wins.
    if (gained) {
        frontmost = gained;
    } else if (!frontmost || !app(*frontmost) || !app(*frontmost)->activated) {
        auto still =
            std::find_if(apps.cbegin(), apps.cend(), [](const App& a) { return a.activated; });
        frontmost = still == apps.cend() ? std::nullopt : std::optional<ProcessKey>(still->key);
    }
    for (const RunningApplication& handle : std::as_const(left))
        QMetaObject::invokeMethod(
            q, [ws = q, handle] { emit ws->didDeactivateApplication(handle); },
            Qt::QueuedConnection);
}

RunningApplication State::handleFor(const App& a) const {
    if (!a.handle)
        const_cast<App&>(a).handle = std::make_shared<WaylandApp>(self, a.key);
    return RunningApplication(a.handle);
}

const std::optional<DesktopApplication>& State::entryFor(const App& constApp) {
    App& a = const_cast<App&>(constApp);
    if (a.matchGeneration == matchGeneration)
        return a.entry;
    a.matchGeneration = matchGeneration;
    const QString appId = a.toplevels.isEmpty() ? QString() : a.toplevels.first()->current.appId;
    if (appId.isEmpty()) {
        a.entry.reset();
        return a.entry;
    }
    // By convention the app_id is the desktop-file ID; older toolkits give a class name.
    WindowHints hints;
    hints.gtkApplicationId = appId;
    hints.wmClassClass = appId;
    a.entry = desktopIndex().match(hints);
    return a.entry;
}

// ---------------------------------------------------------------- handle behaviour

void WaylandApp::refreshIdentity() const {
    withApp([this](State* d, const State::App* a) {
        if (!a || a->toplevels.isEmpty())
            return; // ended: keep what was last known
        if (m_identityGeneration == d->matchGeneration)
            return;
        m_identityGeneration = d->matchGeneration;
        const auto& entry = d->entryFor(*a);
        const QString appId = a->toplevels.first()->current.appId;
        const QString title = a->toplevels.first()->current.title;
        if (entry)
            m_identifier = entry->id;
        else if (!appId.isEmpty())
            m_identifier = appId;
        else
            m_identifier.reset();

        if (entry)
            m_name = entry->localizedName.isEmpty() ? entry->name : entry->localizedName;
        else if (!appId.isEmpty())
            m_name = appId;
        else if (!title.isEmpty())
            m_name = title;
        else
            m_name.reset();

        if (entry)
            m_path = entry->path;
        else
            m_path.reset();
    });
}

bool WaylandApp::isHidden() const {
    return withApp([](State*, const State::App* a) {
        return a && !a->toplevels.isEmpty() &&
               std::all_of(a->toplevels.cbegin(), a->toplevels.cend(),
                           [](const Toplevel* t) { return t->current.minimized; });
    });
}

ActivationPolicy WaylandApp::activationPolicy() const {
    return withApp([](State*, const State::App* a) {
        if (!a)
            return ActivationPolicy::Prohibited;
        return std::any_of(a->toplevels.cbegin(), a->toplevels.cend(), isMain)
                   ? ActivationPolicy::Regular
                   : ActivationPolicy::Accessory;
    });
}

bool WaylandApp::isFinishedLaunching() const {
    // Listed only once its first toplevel is fully described.
    return withApp([](State*, const State::App* a) { return a && !a->toplevels.isEmpty(); });
}

bool WaylandApp::acceptsPoliteQuit() const {
    return withApp([](State*, const State::App* a) {
        return a && std::any_of(a->toplevels.cbegin(), a->toplevels.cend(), isMain);
    });
}

bool WaylandApp::isAskingUser() const {
    return withApp([](State*, const State::App* a) {
        if (!a)
            return false;
        return std::any_of(a->toplevels.cbegin(), a->toplevels.cend(), [a](const Toplevel* t) {
            return !isMain(t) || (a->askedAtSerial && t->serial > *a->askedAtSerial);
        });
    });
}

bool WaylandApp::terminate() {
    const auto d = m_workspace.lock();
    if (!d || d->broken)
        return false;
    // The cache must be current: a toplevel may have closed since the last event.
    d->pump(true);
    State::App* a = d->app(m_key);
    if (!a)
        return false;
    QList<Toplevel*> main;
    for (Toplevel* t : std::as_const(a->toplevels))
        if (isMain(t))
            main.append(t);
    if (main.isEmpty())
        return false;
    for (Toplevel* t : std::as_const(main)) {
        zwlr_foreign_toplevel_handle_v1_close(t->handle);
    }
    a->askedAtSerial = d->nextToplevelSerial - 1;
    // Unflushed, the requests would wait in the buffer until something else is sent.
    return d->flush();
}

} // namespace

struct WaylandWorkspace::Private : State {};

// ---------------------------------------------------------------- WaylandWorkspace

WaylandWorkspace::WaylandWorkspace(DesktopEntryIndex& index)
    : d(std::make_unique<Private>()) {
    d->q = this;
    d->index = &index;
}

WaylandWorkspace::~WaylandWorkspace() {
    d->self.reset();
    delete d->notifier;
    d->notifier = nullptr;
    if (d->display) {
        d->releaseProxies();
        if (!d->broken)
            wl_display_flush(d->display);
        wl_display_disconnect(d->display);
    }
}

std::unique_ptr<WaylandWorkspace>
WaylandWorkspace::connect(const QByteArray& display, QString* error, DesktopEntryIndex& index) {
    std::unique_ptr<WaylandWorkspace> ws(new WaylandWorkspace(index));
    if (!ws->d->open(displayName(display), error))
        return nullptr;
    Private* d = ws->d.get();
    d->notifier = new QSocketNotifier(wl_display_get_fd(d->display), QSocketNotifier::Read);
    QObject::connect(d->notifier, &QSocketNotifier::activated, ws.get(), [d] { d->pump(true); });
    QObject::connect(&d->desktopIndex(), &DesktopEntryIndex::changed, ws.get(),
                     [d] { ++d->matchGeneration; });
    return ws;
}

bool WaylandWorkspace::available(const QByteArray& display) {
    const QByteArray name = displayName(display);
    if (name.isEmpty())
        return false;
    wl_display* c = wl_display_connect(name.constData());
    if (!c)
        return false;
    GlobalScan scan;
    wl_registry* registry = wl_display_get_registry(c);
    wl_registry_add_listener(registry, &kRegistryListener, &scan);
    const bool ok = wl_display_roundtrip(c) >= 0 && scan.name != 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(c);
    return ok;
}

QList<RunningApplication> WaylandWorkspace::runningApplications() const {
    d->pump(true);
    QList<RunningApplication> list;
    list.reserve(qsizetype(d->apps.size()));
    for (const auto& a : d->apps)
        list.append(d->handleFor(a));
    return list;
}

RunningApplication WaylandWorkspace::frontmostApplication() const {
    d->pump(true);
    const Private::App* a = d->frontmost ? d->app(*d->frontmost) : nullptr;
    return a ? d->handleFor(*a) : RunningApplication();
}

std::optional<QString> WaylandWorkspace::ownBundleIdentifier() const {
    return QString::fromLatin1(kAppIdentifier);
}

bool WaylandWorkspace::ownWindowIsKeyOrMain() const {
    if (!qGuiApp)
        return false;
    if (QGuiApplication::focusWindow())
        return true;
    const auto windows = QGuiApplication::topLevelWindows();
    return std::any_of(windows.cbegin(), windows.cend(),
                       [](const QWindow* w) { return w->isVisible() && w->type() == Qt::Popup; });
}

std::optional<BundleInfo> WaylandWorkspace::bundleAt(const QString& path) const {
    const std::optional<DesktopApplication> entry = d->desktopIndex().entryAt(path);
    if (!entry)
        return std::nullopt;
    BundleInfo info;
    if (!entry->id.isEmpty())
        info.bundleIdentifier = entry->id;
    info.infoDictionary.insert(QStringLiteral("CFBundleDisplayName"),
                               entry->localizedName.isEmpty() ? entry->name : entry->localizedName);
    info.infoDictionary.insert(QStringLiteral("CFBundleName"), entry->name);
    return info;
}
