#include "KWinToplevels.h"

#include "plasma-window-management-client-protocol.h"
#include "platform/linux/WaylandPump.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <cstring>
#include <sys/socket.h>
#include <wayland-client.h>

namespace {

// Version 16 is KWin 5.27's; 13 brought windows named by uuid, 16 the X11 resource name.
constexpr uint32_t kManagerVersion = 16;
constexpr uint32_t kUuidVersion = 13;
constexpr char kManagerInterface[] = "org_kde_plasma_window_management";

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
    [](void*, wl_registry*, uint32_t) {},
};

// Whether the process at the other end of the compositor's socket is KWin.
bool peerIsKWin(wl_display* display) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(wl_display_get_fd(display), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
        peer.pid <= 0)
        return false;
    const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(peer.pid));
    return QFileInfo(exe).fileName().startsWith(QLatin1String("kwin_wayland"));
}

} // namespace

// One window: its facts as KWin last told them, and its parent's proxy.
struct KWinToplevels::Window {
    KWinToplevels* owner = nullptr;
    org_kde_plasma_window* proxy = nullptr;
    Toplevel facts;
    org_kde_plasma_window* parent = nullptr;
    bool initialState = false;

    Toplevel report() const {
        Toplevel t = facts;
        t.hasParent = parent != nullptr;
        t.pidSource = t.pid > 0 ? PidSource::Proven : PidSource::None;
        return t;
    }
};

namespace {

using Window = KWinToplevels::Window;

Window& of(void* data) {
    return *static_cast<Window*>(data);
}
QString text(const char* s) {
    return QString::fromUtf8(s);
}

const org_kde_plasma_window_listener kWindowListener = {
    [](void* data, org_kde_plasma_window*, const char* title) {
        of(data).facts.title = text(title);
        of(data).owner->changed(of(data));
    },
    [](void* data, org_kde_plasma_window*, const char* appId) {
        of(data).facts.appId = text(appId);
        of(data).owner->changed(of(data));
    },
    [](void* data, org_kde_plasma_window*, uint32_t flags) {
        Toplevel& t = of(data).facts;
        t.active = flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE;
        t.minimized = flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MINIMIZED;
        t.fullscreen = flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_FULLSCREEN;
        t.closeable = flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_CLOSEABLE;
        t.skipTaskbar = flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_SKIPTASKBAR;
        of(data).owner->changed(of(data));
    },
    [](void*, org_kde_plasma_window*, int32_t) {},
    [](void*, org_kde_plasma_window*, const char*) {},
    [](void* data, org_kde_plasma_window*) { of(data).owner->unmapped(of(data)); },
    [](void* data, org_kde_plasma_window*) {
        of(data).initialState = true;
        of(data).owner->changed(of(data));
    },
    [](void* data, org_kde_plasma_window*, org_kde_plasma_window* parent) {
        of(data).parent = parent;
        of(data).owner->changed(of(data));
    },
    [](void*, org_kde_plasma_window*, int32_t, int32_t, uint32_t, uint32_t) {},
    [](void*, org_kde_plasma_window*) {},
    [](void* data, org_kde_plasma_window*, uint32_t pid) {
        of(data).facts.pid = qint64(pid);
        of(data).owner->changed(of(data));
    },
    [](void*, org_kde_plasma_window*, const char*) {},
    [](void*, org_kde_plasma_window*, const char*) {},
    [](void*, org_kde_plasma_window*, const char*, const char*) {},
    [](void*, org_kde_plasma_window*, const char*) {},
    [](void*, org_kde_plasma_window*, const char*) {},
    [](void* data, org_kde_plasma_window*, const char* resourceName) {
        of(data).facts.wmInstance = text(resourceName);
        of(data).owner->changed(of(data));
    },
};

const org_kde_plasma_window_management_listener kManagerListener = {
    [](void*, org_kde_plasma_window_management*, uint32_t) {},
    [](void* data, org_kde_plasma_window_management*, uint32_t id) {
        static_cast<KWinToplevels*>(data)->announce(nullptr, id);
    },
    [](void*, org_kde_plasma_window_management*, wl_array*) {},
    [](void*, org_kde_plasma_window_management*, const char*) {},
    [](void* data, org_kde_plasma_window_management*, uint32_t id, const char* uuid) {
        static_cast<KWinToplevels*>(data)->announce(uuid, id);
    },
};

} // namespace

// ---------------------------------------------------------------- connection

KWinToplevels::Offer KWinToplevels::probe(const QByteArray& name) {
    if (name.isEmpty())
        return Offer::Absent;
    wl_display* c = wl_display_connect(name.constData());
    if (!c)
        return Offer::Absent;
    GlobalScan scan;
    wl_registry* registry = wl_display_get_registry(c);
    wl_registry_add_listener(registry, &kRegistryListener, &scan);
    Offer offer = Offer::Absent;
    if (wl_display_roundtrip(c) >= 0)
        offer = scan.name != 0 ? Offer::Offered : peerIsKWin(c) ? Offer::Withheld : Offer::Absent;
    wl_registry_destroy(registry);
    wl_display_disconnect(c);
    return offer;
}

QString KWinToplevels::withheldMessage() {
    const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    return QStringLiteral(
               "KWin does not show Idlewatch the other applications' windows: it shows them only "
               "to a program whose desktop entry (in ~/.local/share/applications or "
               "/usr/share/applications) names it by its absolute path and asks for them, as "
               "the installed entry does. For this copy, an entry with these lines:\n"
               "  Exec=\"%1\"\n"
               "  X-KDE-Wayland-Interfaces=org_kde_plasma_window_management\n"
               "Until then only applications running under XWayland are seen.")
        .arg(exe);
}

std::unique_ptr<KWinToplevels> KWinToplevels::open(const QByteArray& name, QString* error) {
    auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        return nullptr;
    };
    if (name.isEmpty())
        return fail(QStringLiteral("Idlewatch: $WAYLAND_DISPLAY is not set."));
    std::unique_ptr<KWinToplevels> s(new KWinToplevels());
    s->m_display = wl_display_connect(name.constData());
    if (!s->m_display)
        return fail(QStringLiteral("Idlewatch cannot reach the Wayland compositor at \"%1\".")
                        .arg(QString::fromLocal8Bit(name)));
    GlobalScan globals;
    s->m_registry = wl_display_get_registry(s->m_display);
    wl_registry_add_listener(s->m_registry, &kRegistryListener, &globals);
    if (wl_display_roundtrip(s->m_display) < 0)
        return fail(QStringLiteral("Idlewatch lost the Wayland compositor."));
    // Before version 4 a window can be neither released nor told complete.
    if (globals.name == 0 || globals.version < 4)
        return fail(QStringLiteral("The Wayland compositor does not show Idlewatch the other "
                                   "applications' windows (no org_kde_plasma_window_management)."));
    s->m_version = std::min(globals.version, kManagerVersion);
    s->m_manager = static_cast<org_kde_plasma_window_management*>(wl_registry_bind(
        s->m_registry, globals.name, &org_kde_plasma_window_management_interface, s->m_version));
    org_kde_plasma_window_management_add_listener(s->m_manager, &kManagerListener, s.get());
    // The existing windows, then each one's initial state.
    for (int i = 0; i < 2; ++i)
        if (wl_display_roundtrip(s->m_display) < 0)
            return fail(QStringLiteral("Idlewatch lost the Wayland compositor."));
    return s;
}

KWinToplevels::~KWinToplevels() {
    if (!m_display)
        return;
    releaseProxies();
    if (!m_broken)
        wl_display_flush(m_display);
    wl_display_disconnect(m_display);
}

int KWinToplevels::fileDescriptor() const {
    return wl_display_get_fd(m_display);
}

void KWinToplevels::markBroken() {
    if (m_broken)
        return;
    m_broken = true;
    releaseProxies();
}

void KWinToplevels::releaseProxies() {
    for (Window* w : std::as_const(m_windows)) {
        org_kde_plasma_window_destroy(w->proxy);
        if (w->initialState)
            m_closed += w->facts.id;
        delete w;
    }
    m_windows.clear();
    m_changed.clear();
    if (m_manager) {
        org_kde_plasma_window_management_destroy(m_manager);
        m_manager = nullptr;
    }
    if (m_registry) {
        wl_registry_destroy(m_registry);
        m_registry = nullptr;
    }
}

bool KWinToplevels::flush() {
    return WaylandPump::flush(m_display);
}

void KWinToplevels::update(ToplevelSink& sink, bool readSocket) {
    if (!m_broken && !WaylandPump::pump(m_display, readSocket))
        markBroken();
    for (ToplevelId id : std::exchange(m_closed, {}))
        sink.toplevelClosed(id);
    for (ToplevelId id : std::exchange(m_changed, {}))
        if (const Window* w = m_windows.value(id); w && w->initialState)
            sink.toplevelChanged(w->report());
}

bool KWinToplevels::requestClose(const QList<ToplevelId>& toplevels) {
    for (ToplevelId id : toplevels)
        if (const Window* w = m_windows.value(id))
            org_kde_plasma_window_close(w->proxy);
    // Unflushed, the requests would wait in the buffer until something else is sent.
    return !m_broken && flush();
}

// ---------------------------------------------------------------- events

void KWinToplevels::announce(const char* uuid, uint32_t id) {
    // From version 13 KWin names each window by uuid, and the bare id is not sent.
    if ((uuid != nullptr) != (m_version >= kUuidVersion))
        return;
    auto* w = new Window;
    w->owner = this;
    w->proxy = uuid ? org_kde_plasma_window_management_get_window_by_uuid(m_manager, uuid)
                    : org_kde_plasma_window_management_get_window(m_manager, id);
    w->facts.id = m_nextId++;
    m_windows.insert(w->facts.id, w);
    org_kde_plasma_window_add_listener(w->proxy, &kWindowListener, w);
}

void KWinToplevels::changed(Window& w) {
    m_changed.insert(w.facts.id);
}

void KWinToplevels::unmapped(Window& w) {
    // A question whose parent closed has none now.
    for (Window* other : std::as_const(m_windows))
        if (other->parent == w.proxy) {
            other->parent = nullptr;
            m_changed.insert(other->facts.id);
        }
    org_kde_plasma_window_destroy(w.proxy);
    m_windows.remove(w.facts.id);
    m_changed.remove(w.facts.id);
    if (w.initialState)
        m_closed += w.facts.id;
    delete &w;
}
