// The Wayland connection and the cache its events keep: toplevels announced by the
// compositor, grouped by app_id into applications, and the activation changes that are
// deactivations (see the route map in WaylandWorkspace.cpp).

#include "WaylandWorkspaceState.h"

#include "platform/linux/ProcessControl.h"
#include "platform/linux/ProcessOwnership.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <poll.h>

namespace WaylandBackend {

Q_LOGGING_CATEGORY(lcWayland, "com.Idlewatch.Idlewatch.WaylandWorkspace", QtInfoMsg)

namespace {

// The protocol names no process, so an application's key is a group of toplevels in a
// domain of its own: never a local PID (domain 0) nor one of the X11 backend's domains. A
// group that empties and comes back is a new application, as a relaunch is.
constexpr quint64 kToplevelGroupDomainBit = quint64(1) << 61;

constexpr uint32_t kManagerVersion = 3;
constexpr char kManagerInterface[] = "zwlr_foreign_toplevel_manager_v1";

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

} // namespace

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
    compositorPid = SwayIpc::peerPid(wl_display_get_fd(display));
    swaySocket = qgetenv("SWAYSOCK");
    if (!probeProcesses())
        swaySocket.clear();
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
    if (processesDirty)
        probeProcesses();
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
    // A toplevel not yet told apart may be, once its title or app_id changes.
    if (!t->process && (regroup || t->pending.title != t->current.title))
        processesDirty = true;
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

// ---------------------------------------------------------------- processes (sway)

const SwayIpc::Window* soleMatch(const QList<SwayIpc::Window>& tree, const Toplevel* t) {
    const SwayIpc::Window* found = nullptr;
    for (const SwayIpc::Window& w : tree) {
        if (w.appId != t->current.appId || w.title != t->current.title)
            continue;
        if (found)
            return nullptr;
        found = &w;
    }
    return found;
}

// One tree read for every toplevel not yet told apart; only after changes, never per sweep.
bool State::probeProcesses() {
    processesDirty = false;
    if (swaySocket.isEmpty())
        return false;
    const auto tree = SwayIpc::windows(swaySocket, compositorPid);
    if (!tree)
        return false;
    for (const auto& t : toplevels) {
        if (!t->announced || t->process || isOwn(t->current))
            continue;
        if (const SwayIpc::Window* w = soleMatch(*tree, t.get()))
            if (const auto start = ProcessControl::startTime(pid_t(w->pid)))
                t->process = ProcessIdentity{pid_t(w->pid), *start};
    }
    return true;
}

const QByteArray& State::serverSocketName() {
    if (!serverSocket)
        serverSocket = ProcessOwnership::serverSocketName(wl_display_get_fd(display));
    return *serverSocket;
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

} // namespace WaylandBackend
