#include "WlrToplevels.h"

#include "SwayIpc.h"

#include "platform/linux/WaylandPump.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <QLoggingCategory>

#include <algorithm>
#include <cstring>
#include <wayland-client.h>

namespace {

Q_LOGGING_CATEGORY(lcWlr, "com.Idlewatch.Idlewatch.WaylandWorkspace", QtInfoMsg)

constexpr uint32_t kManagerVersion = 3;
constexpr char kManagerInterface[] = "zwlr_foreign_toplevel_manager_v1";

// The registry's view: only the manager's global matters.
struct GlobalScan {
    uint32_t name = 0;
    uint32_t version = 0;
};

const wl_registry_listener kRegistryListener = {
    [](void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version) {
        auto* scan = static_cast<GlobalScan*>(data);
        if (std::strcmp(interface, kManagerInterface) == 0 && scan->name == 0)
            *scan = {name, version};
    },
    [](void*, wl_registry*, uint32_t) {
        // Bound objects keep working until the compositor sends `finished`.
    },
};

} // namespace

// One toplevel: the protocol's facts, collected until `done`, and what sway's tree said.
struct WlrToplevels::Handle {
    WlrToplevels* owner = nullptr;
    zwlr_foreign_toplevel_handle_v1* proxy = nullptr;
    Toplevel pending;
    Toplevel current;
    zwlr_foreign_toplevel_handle_v1* pendingParent = nullptr;
    zwlr_foreign_toplevel_handle_v1* parent = nullptr;
    bool announced = false;

    Toplevel facts() const {
        Toplevel t = current;
        t.hasParent = parent != nullptr;
        return t;
    }
};

namespace {

using Handle = WlrToplevels::Handle;

const zwlr_foreign_toplevel_handle_v1_listener kToplevelListener = {
    [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
        static_cast<Handle*>(data)->pending.title = QString::fromUtf8(title);
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
        static_cast<Handle*>(data)->pending.appId = QString::fromUtf8(appId);
    },
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
        Toplevel& t = static_cast<Handle*>(data)->pending;
        t.active = t.minimized = t.fullscreen = false;
        const auto* values = static_cast<const uint32_t*>(states->data);
        for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i) {
            t.active = t.active || values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
            t.minimized =
                t.minimized || values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED;
            t.fullscreen =
                t.fullscreen || values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_FULLSCREEN;
        }
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto* h = static_cast<Handle*>(data);
        h->owner->done(*h);
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto* h = static_cast<Handle*>(data);
        h->owner->closed(*h);
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1* parent) {
        static_cast<Handle*>(data)->pendingParent = parent;
    },
};

const zwlr_foreign_toplevel_manager_v1_listener kManagerListener = {
    [](void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* proxy) {
        static_cast<WlrToplevels*>(data)->announce(proxy);
    },
    [](void*, zwlr_foreign_toplevel_manager_v1*) {
        qCWarning(lcWlr) << "The compositor stopped announcing new windows.";
    },
};

} // namespace

// ---------------------------------------------------------------- connection

std::unique_ptr<WlrToplevels> WlrToplevels::open(const QByteArray& name, QString* error) {
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return nullptr;
    };
    if (name.isEmpty())
        return fail(QStringLiteral("Idlewatch: $WAYLAND_DISPLAY is not set."));
    std::unique_ptr<WlrToplevels> s(new WlrToplevels());
    s->m_display = wl_display_connect(name.constData());
    if (!s->m_display)
        return fail(QStringLiteral("Idlewatch cannot reach the Wayland compositor at \"%1\".")
                        .arg(QString::fromLocal8Bit(name)));
    GlobalScan globals;
    s->m_registry = wl_display_get_registry(s->m_display);
    wl_registry_add_listener(s->m_registry, &kRegistryListener, &globals);
    if (wl_display_roundtrip(s->m_display) < 0)
        return fail(QStringLiteral("Idlewatch lost the Wayland compositor."));
    if (globals.name == 0)
        return fail(QStringLiteral("The Wayland compositor does not let Idlewatch see other "
                                   "applications' windows (no wlr foreign-toplevel management)."));
    s->m_manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
        wl_registry_bind(s->m_registry, globals.name, &zwlr_foreign_toplevel_manager_v1_interface,
                         std::min(globals.version, kManagerVersion)));
    zwlr_foreign_toplevel_manager_v1_add_listener(s->m_manager, &kManagerListener, s.get());
    // The existing toplevels, each with its first batch of properties.
    if (wl_display_roundtrip(s->m_display) < 0)
        return fail(QStringLiteral("Idlewatch lost the Wayland compositor."));
    s->m_compositorPid = SwayIpc::peerPid(wl_display_get_fd(s->m_display));
    s->m_swaySocket = qgetenv("SWAYSOCK");
    if (!s->readSwayTree())
        s->m_swaySocket.clear();
    return s;
}

bool WlrToplevels::offersToplevels(const QByteArray& name) {
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

WlrToplevels::~WlrToplevels() {
    if (!m_display)
        return;
    releaseProxies();
    if (!m_broken)
        wl_display_flush(m_display);
    wl_display_disconnect(m_display);
}

int WlrToplevels::fileDescriptor() const {
    return wl_display_get_fd(m_display);
}

void WlrToplevels::markBroken() {
    if (m_broken)
        return;
    m_broken = true;
    releaseProxies();
}

void WlrToplevels::releaseProxies() {
    // Destroying a proxy sends a request only where one is defined; either way the
    // client-side object is freed, which disconnecting alone would not do.
    for (Handle* h : std::as_const(m_handles)) {
        zwlr_foreign_toplevel_handle_v1_destroy(h->proxy);
        if (h->announced)
            m_closed += h->pending.id;
        delete h;
    }
    m_handles.clear();
    m_changed.clear();
    if (m_manager) {
        if (!m_broken)
            zwlr_foreign_toplevel_manager_v1_stop(m_manager);
        zwlr_foreign_toplevel_manager_v1_destroy(m_manager);
        m_manager = nullptr;
    }
    if (m_registry) {
        wl_registry_destroy(m_registry);
        m_registry = nullptr;
    }
}

bool WlrToplevels::flush() {
    return WaylandPump::flush(m_display);
}

void WlrToplevels::update(ToplevelSink& sink, bool readSocket) {
    if (!m_broken && !WaylandPump::pump(m_display, readSocket))
        markBroken();
    if (std::exchange(m_treeDirty, false))
        readSwayTree();
    for (ToplevelId id : std::exchange(m_closed, {}))
        sink.toplevelClosed(id);
    for (ToplevelId id : std::exchange(m_changed, {}))
        if (const Handle* h = m_handles.value(id); h && h->announced)
            sink.toplevelChanged(h->facts());
}

bool WlrToplevels::requestClose(const QList<ToplevelId>& toplevels) {
    for (ToplevelId id : toplevels)
        if (const Handle* h = m_handles.value(id))
            zwlr_foreign_toplevel_handle_v1_close(h->proxy);
    // Unflushed, the requests would wait in the buffer until something else is sent.
    return !m_broken && flush();
}

// ---------------------------------------------------------------- events

void WlrToplevels::announce(zwlr_foreign_toplevel_handle_v1* proxy) {
    auto* h = new Handle;
    h->owner = this;
    h->proxy = proxy;
    h->pending.id = m_nextId++;
    m_handles.insert(h->pending.id, h);
    zwlr_foreign_toplevel_handle_v1_add_listener(proxy, &kToplevelListener, h);
}

void WlrToplevels::done(Handle& h) {
    // A toplevel not yet told apart may be, once it is named or renamed.
    if (!h.announced || (h.current.pid == 0 && (h.pending.appId != h.current.appId ||
                                                h.pending.title != h.current.title)))
        m_treeDirty = true;
    // What sway's tree said stays until it is read again.
    h.pending.pid = h.current.pid;
    h.pending.pidSource = h.current.pidSource;
    h.pending.kind = h.current.kind;
    h.pending.modal = h.current.modal;
    h.current = h.pending;
    h.parent = h.pendingParent;
    h.announced = true;
    m_changed.insert(h.current.id);
}

void WlrToplevels::closed(Handle& h) {
    // A dialog whose parent closed has none now.
    for (Handle* other : std::as_const(m_handles)) {
        if (other->pendingParent == h.proxy)
            other->pendingParent = nullptr;
        if (other->parent == h.proxy) {
            other->parent = nullptr;
            m_changed.insert(other->current.id);
        }
    }
    zwlr_foreign_toplevel_handle_v1_destroy(h.proxy);
    m_handles.remove(h.pending.id);
    m_changed.remove(h.pending.id);
    if (h.announced)
        m_closed += h.pending.id;
    delete &h;
}

// ---------------------------------------------------------------- sway's tree

bool WlrToplevels::readSwayTree() {
    if (m_swaySocket.isEmpty())
        return false;
    const auto tree = SwayIpc::windows(m_swaySocket, m_compositorPid);
    if (!tree)
        return false;
    for (Handle* h : std::as_const(m_handles)) {
        if (!h->announced)
            continue;
        Toplevel& t = h->current;
        const bool floating = std::any_of(tree->cbegin(), tree->cend(), [&](const auto& w) {
            return w.floating && w.appId == t.appId && w.title == t.title;
        });
        const SwayIpc::Window* w = SwayIpc::soleMatch(*tree, t.appId, t.title);
        if ((!w || w->pid == t.pid) && floating == t.modal)
            continue;
        if (w) {
            t.pid = w->pid;
            t.pidSource = PidSource::Matched;
        }
        // sway floats dialogs; one the user opened must never take a close request.
        t.modal = floating;
        t.kind = floating ? ToplevelKind::Dialog : ToplevelKind::Normal;
        m_changed.insert(t.id);
    }
    return true;
}
