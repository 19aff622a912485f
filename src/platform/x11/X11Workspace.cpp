#include "X11Workspace.h"

#include "platform/linux/DesktopEntryIndex.h"
#include "platform/linux/ProcessControl.h"
#include "platform/linux/ProcessOwnership.h"
#include "platform/x11/SessionCheck.h"
#include "preferences/AppIdentity.h"

#include <QGuiApplication>
#include <QHash>
#include <QLoggingCategory>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <xcb/res.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace {

Q_LOGGING_CATEGORY(lcX11, "com.Idlewatch.Idlewatch.X11Workspace", QtInfoMsg)

enum class WindowType { Untyped, Normal, Dialog, Utility, Dock, Desktop, Other };

struct WindowState {
    qint64 netWmPid = 0;
    qint64 resPid = 0;
    QString wmInstance;
    QString wmClass;
    QString gtkApplicationId;
    QString kdeDesktopFile;
    QByteArray clientMachine;
    WindowType type = WindowType::Untyped;
    xcb_window_t transientFor = XCB_NONE;
    bool modal = false;
    bool hidden = false;
    bool skipTaskbar = false;
    bool mapped = false;
    bool everMapped = false;
    bool deleteWindowProtocol = false;
    bool loaded = false;
    // Derived once loaded.
    ProcessKey key;
};

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T> using XcbReply = std::unique_ptr<T, FreeDeleter>;

// Only a PID the server gives (X-Resource, for local clients) names a local process. A PID
// that only the client claims (a remote client, or a server without X-Resource) groups
// windows in a domain of its own, and clients without any PID get one per connection, so
// their keys never collide with a local process.
constexpr quint64 kHintDomainBit = quint64(1) << 63;
constexpr quint64 kClientDomainBit = quint64(1) << 62;

// How long a client whose connection was closed may take to end before its proven process
// is killed.
constexpr int kFollowUpKillMs = 2000;

class X11App;

} // namespace

namespace {

// Everything the workspace knows; handles reach it through `self`, which expires with it.
struct State {
    X11Workspace* q = nullptr;
    // Handles outlive the workspace in engine maps; they reach it through this token.
    std::shared_ptr<State> self{this, [](State*) {}};

    xcb_connection_t* c = nullptr;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    int screenNumber = 0;
    xcb_window_t root = 0;
    uint32_t resourceMask = 0;
    bool hasRes = false;
    bool broken = false;
    // Address of the X server's socket, read once when first needed; empty when unknown.
    std::optional<QByteArray> serverSocket;
    DesktopEntryIndex* index = nullptr;
    QSocketNotifier* notifier = nullptr;
    quint64 lastSequence = 0;

    xcb_atom_t atomGtkApplicationId = XCB_NONE;
    xcb_atom_t atomKdeDesktopFile = XCB_NONE;
    xcb_atom_t atomWmDeleteWindow = XCB_NONE;

    // Mirrors of the server's state.
    QList<xcb_window_t> clientList;
    QHash<xcb_window_t, WindowState> windows;
    xcb_window_t activeWindow = XCB_NONE;

    // Work found while reading events.
    bool clientListDirty = false;
    bool activeDirty = false;
    bool structureChanged = false;
    QSet<xcb_window_t> windowsToLoad;
    QHash<xcb_window_t, QSet<xcb_atom_t>> dirtyProperties;

    // One entry per running process, in client-list order of its first window.
    struct App {
        ProcessKey key;
        QList<xcb_window_t> windows;
        std::shared_ptr<X11App> handle;
        // Desktop entry match, recomputed when hints or the index change.
        quint64 matchGeneration = ~quint64(0);
        std::optional<DesktopApplication> entry;
    };
    std::vector<App> apps;
    QHash<ProcessKey, qsizetype> appIndex;
    quint64 matchGeneration = 0;
    ProcessKey activeOwner;
    bool hasActiveOwner = false;

    // The window properties the cache mirrors.
    QList<xcb_atom_t> trackedAtoms() const {
        return {ewmh._NET_WM_PID,          XCB_ATOM_WM_CLASS,    XCB_ATOM_WM_CLIENT_MACHINE,
                ewmh._NET_WM_WINDOW_TYPE,  ewmh._NET_WM_STATE,   ewmh.WM_PROTOCOLS,
                XCB_ATOM_WM_TRANSIENT_FOR, atomGtkApplicationId, atomKdeDesktopFile};
    }

    template <class Cookie> Cookie sent(Cookie cookie) {
        lastSequence = std::max<quint64>(lastSequence, cookie.sequence);
        return cookie;
    }

    bool open(const QByteArray& display, QString* error);
    void processEvents(bool readSocket);
    void handleEvent(xcb_generic_event_t* event);
    void fetchDirty();
    void loadWindows(const QList<xcb_window_t>& ids,
                     const QHash<xcb_window_t, QSet<xcb_atom_t>>& properties);
    void applyProperty(WindowState& w, xcb_atom_t atom, xcb_get_property_reply_t* reply);
    void deriveKey(xcb_window_t id, WindowState& w);
    void forgetWindow(xcb_window_t id);
    void rebuildApps();
    void updateActiveOwner();
    void markBroken();

    const App* app(const ProcessKey& key) const {
        auto it = appIndex.constFind(key);
        return it == appIndex.constEnd() ? nullptr : &apps[size_t(*it)];
    }
    App* app(const ProcessKey& key) {
        auto it = appIndex.constFind(key);
        return it == appIndex.constEnd() ? nullptr : &apps[size_t(*it)];
    }
    RunningApplication handleFor(const App& a) const;
    const std::optional<DesktopApplication>& entryFor(const App& a);
    const qint64 ownPid = qint64(getpid());
    const WindowState& window(xcb_window_t id) const {
        static const WindowState none;
        auto it = windows.constFind(id);
        return it == windows.constEnd() ? none : *it;
    }
    // A client claiming our PID is taken for us too: it is then left alone, never quit.
    bool isOwnProcess(const ProcessKey& key) const {
        return key.pid == ownPid && (key.domain == 0 || (key.domain & kHintDomainBit));
    }
    QList<xcb_window_t> mainWindows(const App& a) const;
    const QByteArray& serverSocketName();
    DesktopEntryIndex& desktopIndex() const { return index ? *index : DesktopEntryIndex::shared(); }
};

// The behaviour behind one RunningApplication. It remembers the last identity it reported
// so that a handle of an ended process still names it.
class X11App final : public RunningApplication::Backend {
public:
    X11App(std::weak_ptr<State> workspace, ProcessKey key)
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
    bool forceTerminate() override;
    bool acceptsPoliteQuit() const override;
    bool isAskingUser() const override;
    bool hasModalWindow() const override;

private:
    void refreshIdentity() const;
    // The application a quit request goes to, with the cache brought up to date; nothing
    // when the workspace is gone or the application has no window left.
    const State::App* appForRequest(const std::shared_ptr<State>& d) const;
    template <class F> auto withApp(F f) const {
        using App = State::App;
        auto d = m_workspace.lock();
        const App* a = d ? d->app(m_key) : nullptr;
        return f(d.get(), a);
    }

    std::weak_ptr<State> m_workspace;
    ProcessKey m_key;
    mutable std::optional<QString> m_identifier;
    mutable std::optional<QString> m_name;
    mutable std::optional<QString> m_path;
    // The workspace's match generation the identity above was worked out for: windows,
    // their classes and the desktop entries change it, so steady state costs nothing.
    mutable quint64 m_identityGeneration = ~quint64(0);
};

QString propertyText(xcb_get_property_reply_t* reply) {
    if (!reply || reply->format != 8)
        return {};
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply));
    int len = xcb_get_property_value_length(reply);
    while (len > 0 && data[len - 1] == '\0')
        --len;
    return QString::fromUtf8(data, len);
}

QList<QByteArray> propertyStrings(xcb_get_property_reply_t* reply) {
    if (!reply || reply->format != 8)
        return {};
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply));
    const int len = xcb_get_property_value_length(reply);
    return QByteArray(data, len).split('\0');
}

QList<uint32_t> property32(xcb_get_property_reply_t* reply) {
    if (!reply || reply->format != 32)
        return {};
    const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply));
    const int count = xcb_get_property_value_length(reply) / 4;
    return QList<uint32_t>(data, data + count);
}

bool isNormalWindow(const WindowState& w) {
    return w.type == WindowType::Normal ||
           (w.type == WindowType::Untyped && w.transientFor == XCB_NONE);
}

// A window that asks the user something on behalf of another: never sent a close request,
// which its toolkit may take as an answer ("Cancel", or worse "Don't save").
bool isSecondaryWindow(const WindowState& w, xcb_window_t root) {
    return w.type == WindowType::Dialog || w.modal ||
           (w.transientFor != XCB_NONE && w.transientFor != root);
}

} // namespace

struct X11Workspace::Private : State {};

// ---------------------------------------------------------------- connection

bool State::open(const QByteArray& display, QString* error) {
    const QByteArray name = display.isEmpty() ? qgetenv("DISPLAY") : display;
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (name.isEmpty())
        return fail(x11DisplayError(name));
    c = xcb_connect(name.constData(), &screenNumber);
    if (xcb_connection_has_error(c))
        return fail(x11DisplayError(name));

    const xcb_setup_t* setup = xcb_get_setup(c);
    resourceMask = setup->resource_id_mask;
    auto screens = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return fail(QStringLiteral("Idlewatch needs an X11 display; \"%1\" has no screen %2.")
                        .arg(QString::fromLocal8Bit(name))
                        .arg(screenNumber));
    root = screens.data->root;

    xcb_intern_atom_cookie_t* ewmhCookies = xcb_ewmh_init_atoms(c, &ewmh);
    auto intern = [&](const char* atomName) {
        return sent(xcb_intern_atom(c, 0, uint16_t(strlen(atomName)), atomName));
    };
    const auto gtkCookie = intern("_GTK_APPLICATION_ID");
    const auto kdeCookie = intern("_KDE_NET_WM_DESKTOP_FILE");
    const auto deleteCookie = intern("WM_DELETE_WINDOW");
    ewmhReady = xcb_ewmh_init_atoms_replies(&ewmh, ewmhCookies, nullptr);
    auto atomOf = [&](xcb_intern_atom_cookie_t cookie) -> xcb_atom_t {
        XcbReply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(c, cookie, nullptr));
        return r ? r->atom : XCB_NONE;
    };
    atomGtkApplicationId = atomOf(gtkCookie);
    atomKdeDesktopFile = atomOf(kdeCookie);
    atomWmDeleteWindow = atomOf(deleteCookie);
    if (!ewmhReady)
        return fail(QStringLiteral("Idlewatch could not read the EWMH atoms of display \"%1\".")
                        .arg(QString::fromLocal8Bit(name)));

    const xcb_query_extension_reply_t* res = xcb_get_extension_data(c, &xcb_res_id);
    hasRes = res && res->present;
    if (hasRes) {
        XcbReply<xcb_res_query_version_reply_t> v(
            xcb_res_query_version_reply(c, sent(xcb_res_query_version(c, 1, 2)), nullptr));
        hasRes = v && (v->server_major > 1 || (v->server_major == 1 && v->server_minor >= 2));
    }

    const uint32_t rootMask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    sent(xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &rootMask));
    clientListDirty = true;
    activeDirty = true;
    processEvents(true);
    return !xcb_connection_has_error(c) || fail(QStringLiteral("Idlewatch lost the X11 display."));
}

void State::markBroken() {
    if (broken)
        return;
    broken = true;
    qCWarning(lcX11) << "The X11 connection was lost; no applications are seen any more.";
    if (notifier)
        notifier->setEnabled(false);
    clientList.clear();
    windows.clear();
    activeWindow = XCB_NONE;
    rebuildApps();
}

// ---------------------------------------------------------------- events

void State::processEvents(bool readSocket) {
    if (broken)
        return;
    for (;;) {
        while (xcb_generic_event_t* event =
                   readSocket ? xcb_poll_for_event(c) : xcb_poll_for_queued_event(c)) {
            handleEvent(event);
            std::free(event);
        }
        if (xcb_connection_has_error(c)) {
            markBroken();
            return;
        }
        if (!clientListDirty && !activeDirty && windowsToLoad.isEmpty() &&
            dirtyProperties.isEmpty())
            break;
        fetchDirty();
        // Replies were read from the socket together with any events behind them.
        readSocket = false;
    }
    if (structureChanged) {
        structureChanged = false;
        rebuildApps();
    }
    updateActiveOwner();
}

void State::handleEvent(xcb_generic_event_t* event) {
    switch (event->response_type & 0x7f) {
    case 0: {
        // A window that vanished before our request reached it; ordinary churn.
        const auto* e = reinterpret_cast<xcb_generic_error_t*>(event);
        qCDebug(lcX11) << "X error" << e->error_code << "for resource" << e->resource_id;
        break;
    }
    case XCB_PROPERTY_NOTIFY: {
        const auto* e = reinterpret_cast<xcb_property_notify_event_t*>(event);
        if (e->window == root) {
            if (e->atom == ewmh._NET_CLIENT_LIST)
                clientListDirty = true;
            else if (e->atom == ewmh._NET_ACTIVE_WINDOW)
                activeDirty = true;
        } else if (e->atom != XCB_NONE && windows.contains(e->window) &&
                   trackedAtoms().contains(e->atom)) {
            // Busy properties (user time, frame extents) are none of our business.
            dirtyProperties[e->window].insert(e->atom);
        }
        break;
    }
    case XCB_CREATE_NOTIFY: {
        // A new window with a remembered id: the old one is gone, whatever we missed.
        const auto* e = reinterpret_cast<xcb_create_notify_event_t*>(event);
        if (windows.contains(e->window))
            forgetWindow(e->window);
        break;
    }
    case XCB_DESTROY_NOTIFY: {
        const auto* e = reinterpret_cast<xcb_destroy_notify_event_t*>(event);
        if (windows.contains(e->window))
            forgetWindow(e->window);
        break;
    }
    case XCB_MAP_NOTIFY: {
        const auto* e = reinterpret_cast<xcb_map_notify_event_t*>(event);
        auto it = windows.find(e->window);
        if (it != windows.end()) {
            it->mapped = it->everMapped = true;
            structureChanged = true;
        }
        break;
    }
    case XCB_UNMAP_NOTIFY: {
        const auto* e = reinterpret_cast<xcb_unmap_notify_event_t*>(event);
        auto it = windows.find(e->window);
        if (it != windows.end())
            it->mapped = false;
        break;
    }
    default:
        break;
    }
}

void State::forgetWindow(xcb_window_t id) {
    windows.remove(id);
    clientList.removeAll(id);
    windowsToLoad.remove(id);
    dirtyProperties.remove(id);
    structureChanged = true;
}

void State::fetchDirty() {
    const bool wantList = std::exchange(clientListDirty, false);
    const bool wantActive = std::exchange(activeDirty, false);
    xcb_get_property_cookie_t listCookie{}, activeCookie{};
    if (wantList)
        listCookie =
            sent(xcb_get_property(c, 0, root, ewmh._NET_CLIENT_LIST, XCB_ATOM_WINDOW, 0, 1u << 16));
    if (wantActive)
        activeCookie =
            sent(xcb_get_property(c, 0, root, ewmh._NET_ACTIVE_WINDOW, XCB_ATOM_WINDOW, 0, 1));

    if (wantList) {
        XcbReply<xcb_get_property_reply_t> r(xcb_get_property_reply(c, listCookie, nullptr));
        QList<xcb_window_t> list;
        for (uint32_t id : property32(r.get()))
            if (!list.contains(id))
                list.append(id);
        const QSet<xcb_window_t> now(list.cbegin(), list.cend());
        for (auto it = windows.begin(); it != windows.end();) {
            // A window that left the list may be destroyed and its id reused at any moment.
            if (!now.contains(it.key())) {
                windowsToLoad.remove(it.key());
                dirtyProperties.remove(it.key());
                it = windows.erase(it);
            } else {
                ++it;
            }
        }
        for (xcb_window_t id : list)
            if (!windows.contains(id))
                windowsToLoad.insert(id);
        clientList = list;
        structureChanged = true;
    }
    if (wantActive) {
        XcbReply<xcb_get_property_reply_t> r(xcb_get_property_reply(c, activeCookie, nullptr));
        const QList<uint32_t> value = property32(r.get());
        activeWindow = value.isEmpty() ? XCB_NONE : value.first();
    }

    const QList<xcb_window_t> load(windowsToLoad.cbegin(), windowsToLoad.cend());
    windowsToLoad.clear();
    const auto properties = std::exchange(dirtyProperties, {});
    qCDebug(lcX11) << "refresh: client list" << wantList << "active window" << wantActive
                   << "new windows" << load.size() << "changed windows" << properties.size();
    if (!load.isEmpty() || !properties.isEmpty())
        loadWindows(load, properties);
}

void State::loadWindows(const QList<xcb_window_t>& ids,
                        const QHash<xcb_window_t, QSet<xcb_atom_t>>& properties) {
    const QList<xcb_atom_t> allAtoms = {
        ewmh._NET_WM_PID,          XCB_ATOM_WM_CLASS,    XCB_ATOM_WM_CLIENT_MACHINE,
        ewmh._NET_WM_WINDOW_TYPE,  ewmh._NET_WM_STATE,   ewmh.WM_PROTOCOLS,
        XCB_ATOM_WM_TRANSIENT_FOR, atomGtkApplicationId, atomKdeDesktopFile};
    struct PropertyRequest {
        xcb_window_t window;
        xcb_atom_t atom;
        xcb_get_property_cookie_t cookie;
    };
    struct WindowRequest {
        xcb_window_t window;
        xcb_get_window_attributes_cookie_t attributes;
        xcb_res_query_client_ids_cookie_t clientIds;
    };
    std::vector<PropertyRequest> propertyRequests;
    std::vector<WindowRequest> windowRequests;
    auto requestProperty = [&](xcb_window_t id, xcb_atom_t atom) {
        if (atom == XCB_NONE || !allAtoms.contains(atom))
            return;
        propertyRequests.push_back(
            {id, atom, sent(xcb_get_property(c, 0, id, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024))});
    };

    // Everything is sent before the first reply is read: one round trip for the batch.
    for (xcb_window_t id : ids) {
        // Subscribe before reading, so no change between the two is missed.
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        sent(xcb_change_window_attributes(c, id, XCB_CW_EVENT_MASK, &mask));
        WindowRequest request{id, sent(xcb_get_window_attributes(c, id)), {}};
        if (hasRes) {
            xcb_res_client_id_spec_t spec{id, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
            request.clientIds = sent(xcb_res_query_client_ids(c, 1, &spec));
        }
        windowRequests.push_back(request);
        for (xcb_atom_t atom : allAtoms)
            requestProperty(id, atom);
    }
    for (auto it = properties.cbegin(); it != properties.cend(); ++it)
        for (xcb_atom_t atom : it.value())
            requestProperty(it.key(), atom);

    QSet<xcb_window_t> gone;
    QHash<xcb_window_t, WindowState> fresh;
    for (const WindowRequest& request : windowRequests) {
        xcb_generic_error_t* error = nullptr;
        XcbReply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, request.attributes, &error));
        std::free(error);
        WindowState w;
        if (!attributes) {
            gone.insert(request.window);
        } else {
            w.mapped = attributes->map_state != XCB_MAP_STATE_UNMAPPED;
            w.everMapped = w.mapped;
        }
        if (hasRes) {
            XcbReply<xcb_res_query_client_ids_reply_t> clientIds(
                xcb_res_query_client_ids_reply(c, request.clientIds, nullptr));
            if (clientIds) {
                for (auto it = xcb_res_query_client_ids_ids_iterator(clientIds.get()); it.rem;
                     xcb_res_client_id_value_next(&it)) {
                    if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
                        xcb_res_client_id_value_value_length(it.data) >= 1)
                        w.resPid = *xcb_res_client_id_value_value(it.data);
                }
            }
        }
        fresh.insert(request.window, w);
    }
    for (const PropertyRequest& request : propertyRequests) {
        xcb_generic_error_t* error = nullptr;
        XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, request.cookie, &error));
        if (error) {
            if (error->error_code == XCB_WINDOW)
                gone.insert(request.window);
            std::free(error);
            continue;
        }
        WindowState* w = nullptr;
        if (auto it = fresh.find(request.window); it != fresh.end())
            w = &*it;
        else if (auto known = windows.find(request.window); known != windows.end())
            w = &*known;
        if (w)
            applyProperty(*w, request.atom, reply.get());
    }

    for (auto it = fresh.begin(); it != fresh.end(); ++it) {
        if (gone.contains(it.key()) || !clientList.contains(it.key()))
            continue;
        it->loaded = true;
        windows.insert(it.key(), *it);
    }
    for (xcb_window_t id : gone)
        if (windows.contains(id))
            forgetWindow(id);
    for (auto it = windows.begin(); it != windows.end(); ++it)
        if (fresh.contains(it.key()) || properties.contains(it.key()))
            deriveKey(it.key(), *it);
    // Changed states and types are read on demand; only new windows regroup the processes.
    if (!fresh.isEmpty())
        structureChanged = true;
}

void State::applyProperty(WindowState& w, xcb_atom_t atom, xcb_get_property_reply_t* reply) {
    const bool empty = !reply || reply->type == XCB_NONE;
    if (atom == ewmh._NET_WM_PID) {
        const QList<uint32_t> v = property32(reply);
        w.netWmPid = empty || v.isEmpty() ? 0 : qint64(v.first());
    } else if (atom == XCB_ATOM_WM_CLASS) {
        const QList<QByteArray> parts = propertyStrings(reply);
        w.wmInstance = parts.size() > 0 ? QString::fromLocal8Bit(parts[0]) : QString();
        w.wmClass = parts.size() > 1 ? QString::fromLocal8Bit(parts[1]) : QString();
        ++matchGeneration;
    } else if (atom == XCB_ATOM_WM_CLIENT_MACHINE) {
        const QList<QByteArray> parts = propertyStrings(reply);
        w.clientMachine = parts.isEmpty() ? QByteArray() : parts.first();
    } else if (atom == ewmh._NET_WM_WINDOW_TYPE) {
        w.type = WindowType::Untyped;
        // The first type this code understands wins; later ones are fallbacks.
        for (uint32_t t : property32(reply)) {
            if (t == ewmh._NET_WM_WINDOW_TYPE_NORMAL)
                w.type = WindowType::Normal;
            else if (t == ewmh._NET_WM_WINDOW_TYPE_DIALOG)
                w.type = WindowType::Dialog;
            else if (t == ewmh._NET_WM_WINDOW_TYPE_UTILITY ||
                     t == ewmh._NET_WM_WINDOW_TYPE_TOOLBAR || t == ewmh._NET_WM_WINDOW_TYPE_MENU)
                w.type = WindowType::Utility;
            else if (t == ewmh._NET_WM_WINDOW_TYPE_DOCK)
                w.type = WindowType::Dock;
            else if (t == ewmh._NET_WM_WINDOW_TYPE_DESKTOP)
                w.type = WindowType::Desktop;
            else if (t == ewmh._NET_WM_WINDOW_TYPE_SPLASH ||
                     t == ewmh._NET_WM_WINDOW_TYPE_NOTIFICATION)
                w.type = WindowType::Other;
            else
                continue;
            break;
        }
    } else if (atom == ewmh._NET_WM_STATE) {
        const QList<uint32_t> states = property32(reply);
        w.hidden = states.contains(ewmh._NET_WM_STATE_HIDDEN);
        w.modal = states.contains(ewmh._NET_WM_STATE_MODAL);
        w.skipTaskbar = states.contains(ewmh._NET_WM_STATE_SKIP_TASKBAR);
    } else if (atom == ewmh.WM_PROTOCOLS) {
        w.deleteWindowProtocol = property32(reply).contains(atomWmDeleteWindow);
    } else if (atom == XCB_ATOM_WM_TRANSIENT_FOR) {
        const QList<uint32_t> v = property32(reply);
        w.transientFor = v.isEmpty() ? XCB_NONE : xcb_window_t(v.first());
    } else if (atom == atomGtkApplicationId) {
        w.gtkApplicationId = propertyText(reply);
        ++matchGeneration;
    } else if (atom == atomKdeDesktopFile) {
        w.kdeDesktopFile = propertyText(reply);
        ++matchGeneration;
    }
}

void State::deriveKey(xcb_window_t id, WindowState& w) {
    const ProcessKey old = w.key;
    if (w.resPid > 0) {
        // The server's own view of its local peer: the only PID that ever names a process
        // here. Its start time is the one of the process first seen holding the window.
        const bool samePid = old.domain == 0 && old.pid == w.resPid && old.startTime != 0;
        const quint64 start =
            samePid ? old.startTime : ProcessControl::startTime(pid_t(w.resPid)).value_or(0);
        w.key = {w.resPid, start, 0};
    } else if (w.netWmPid > 0) {
        // A remote client, or a server without X-Resource: the client's own word groups its
        // windows, and is never a reason to read or signal a local process.
        w.key = {w.netWmPid, 0, kHintDomainBit | (quint64(qHash(w.clientMachine)) >> 2)};
    } else {
        w.key = {0, 0, kClientDomainBit | quint64(id & ~resourceMask)};
    }
    if (!(old == w.key))
        structureChanged = true;
}

QList<xcb_window_t> State::mainWindows(const App& a) const {
    QList<xcb_window_t> main;
    for (xcb_window_t id : a.windows)
        if (!isSecondaryWindow(window(id), root))
            main.append(id);
    return main;
}

const QByteArray& State::serverSocketName() {
    if (!serverSocket) {
        const std::optional<UnixSockets::Table> sockets = UnixSockets::table();
        serverSocket = sockets
                           ? ProcessOwnership::peerSocketName(xcb_get_file_descriptor(c), *sockets)
                           : QByteArray();
    }
    return *serverSocket;
}

void State::rebuildApps() {
    std::vector<App> previous = std::move(apps);
    QHash<ProcessKey, qsizetype> previousIndex = std::move(appIndex);
    apps.clear();
    appIndex.clear();
    for (xcb_window_t id : std::as_const(clientList)) {
        auto w = windows.constFind(id);
        if (w == windows.constEnd() || !w->loaded)
            continue;
        auto slot = appIndex.constFind(w->key);
        if (slot == appIndex.constEnd()) {
            App a;
            if (auto old = previousIndex.constFind(w->key); old != previousIndex.constEnd()) {
                a = std::move(previous[size_t(*old)]);
                a.windows.clear();
            } else {
                a.key = w->key;
            }
            appIndex.insert(w->key, qsizetype(apps.size()));
            apps.push_back(std::move(a));
            slot = appIndex.constFind(w->key);
        }
        apps[size_t(*slot)].windows.append(id);
    }
    ++matchGeneration;
}

void State::updateActiveOwner() {
    auto w = windows.constFind(activeWindow);
    if (w == windows.constEnd() || !w->loaded)
        return; // 0 while the window manager switches, or not ours to know
    const ProcessKey owner = w->key;
    if (hasActiveOwner && owner == activeOwner)
        return;
    const bool hadOwner = hasActiveOwner;
    const ProcessKey previous = activeOwner;
    activeOwner = owner;
    hasActiveOwner = true;
    if (!hadOwner)
        return;
    const App* left = app(previous);
    if (!left)
        return; // it ended; there is nothing left to stamp
    const RunningApplication handle = handleFor(*left);
    QMetaObject::invokeMethod(
        q, [ws = q, handle] { emit ws->didDeactivateApplication(handle); }, Qt::QueuedConnection);
}

RunningApplication State::handleFor(const App& a) const {
    if (!a.handle)
        const_cast<App&>(a).handle = std::make_shared<X11App>(self, a.key);
    return RunningApplication(a.handle);
}

const std::optional<DesktopApplication>& State::entryFor(const App& constApp) {
    App& a = const_cast<App&>(constApp);
    if (a.matchGeneration == matchGeneration)
        return a.entry;
    a.matchGeneration = matchGeneration;
    if (isOwnProcess(a.key)) {
        a.entry = desktopIndex().byId(QString::fromLatin1(kAppIdentifier));
        return a.entry;
    }
    WindowHints hints;
    for (xcb_window_t id : std::as_const(a.windows)) {
        const WindowState& w = window(id);
        if (hints.gtkApplicationId.isEmpty())
            hints.gtkApplicationId = w.gtkApplicationId;
        if (hints.kdeDesktopFile.isEmpty())
            hints.kdeDesktopFile = w.kdeDesktopFile;
        if (hints.wmClassClass.isEmpty() && hints.wmClassInstance.isEmpty()) {
            hints.wmClassInstance = w.wmInstance;
            hints.wmClassClass = w.wmClass;
        }
    }
    if (a.key.domain == 0 && a.key.pid > 0)
        hints.executableName = ProcessControl::executableName(pid_t(a.key.pid));
    a.entry = desktopIndex().match(hints);
    return a.entry;
}

// ---------------------------------------------------------------- handle behaviour

void X11App::refreshIdentity() const {
    withApp([this](State* d, const State::App* a) {
        if (!a)
            return; // ended: keep what was last known
        if (m_identityGeneration == d->matchGeneration)
            return;
        m_identityGeneration = d->matchGeneration;
        const auto& entry = d->entryFor(*a);
        QString wmClass;
        for (xcb_window_t id : a->windows)
            if (wmClass.isEmpty())
                wmClass = d->window(id).wmClass;
        if (d->isOwnProcess(m_key))
            m_identifier = QString::fromLatin1(kAppIdentifier);
        else if (entry)
            m_identifier = entry->id;
        else if (!wmClass.isEmpty())
            m_identifier = wmClass;
        else
            m_identifier.reset();

        if (entry)
            m_name = entry->localizedName.isEmpty() ? entry->name : entry->localizedName;
        else if (d->isOwnProcess(m_key))
            m_name = QString::fromLatin1(kAppDisplayName);
        else if (!wmClass.isEmpty())
            m_name = wmClass;
        else if (const QString command = m_key.domain == 0 && m_key.pid > 0
                                             ? ProcessControl::commandName(pid_t(m_key.pid))
                                             : QString();
                 !command.isEmpty())
            m_name = command;
        else
            m_name.reset();

        if (entry)
            m_path = entry->path;
        else
            m_path.reset();
    });
}

bool X11App::isHidden() const {
    return withApp([](State* d, const State::App* a) {
        if (!a)
            return false;
        bool anyNormal = false;
        for (xcb_window_t id : a->windows) {
            const WindowState& w = d->window(id);
            if (!isNormalWindow(w))
                continue;
            anyNormal = true;
            if (!w.hidden)
                return false;
        }
        return anyNormal;
    });
}

ActivationPolicy X11App::activationPolicy() const {
    return withApp([](State* d, const State::App* a) {
        if (!a)
            return ActivationPolicy::Prohibited;
        bool dockOrDesktop = false;
        for (xcb_window_t id : a->windows) {
            const WindowState& w = d->window(id);
            if (isNormalWindow(w) && !w.skipTaskbar)
                return ActivationPolicy::Regular;
            dockOrDesktop |= w.type == WindowType::Dock || w.type == WindowType::Desktop;
        }
        return dockOrDesktop ? ActivationPolicy::Prohibited : ActivationPolicy::Accessory;
    });
}

bool X11App::isFinishedLaunching() const {
    return withApp([](State* d, const State::App* a) {
        if (!a)
            return false;
        // A minimised window is unmapped but its application has long finished launching.
        return std::any_of(a->windows.cbegin(), a->windows.cend(), [d](xcb_window_t id) {
            const WindowState& w = d->window(id);
            return w.everMapped || w.hidden;
        });
    });
}

const State::App* X11App::appForRequest(const std::shared_ptr<State>& d) const {
    if (!d || d->broken)
        return nullptr;
    // The cache must be current: a window may have closed since the last event.
    d->processEvents(true);
    const auto* a = d->app(m_key);
    return a && !a->windows.isEmpty() ? a : nullptr;
}

bool X11App::acceptsPoliteQuit() const {
    return withApp([](State* d, const State::App* a) {
        if (!a)
            return false;
        // A window without WM_DELETE_WINDOW would make the window manager kill the client.
        const QList<xcb_window_t> main = d->mainWindows(*a);
        return !main.isEmpty() && std::all_of(main.cbegin(), main.cend(), [d](xcb_window_t id) {
            return d->window(id).deleteWindowProtocol;
        });
    });
}

bool X11App::isAskingUser() const {
    return withApp([](State* d, const State::App* a) {
        return a && std::any_of(a->windows.cbegin(), a->windows.cend(), [d](xcb_window_t id) {
                   return isSecondaryWindow(d->window(id), d->root);
               });
    });
}

bool X11App::hasModalWindow() const {
    return withApp([](State* d, const State::App* a) {
        return a && std::any_of(a->windows.cbegin(), a->windows.cend(),
                                [d](xcb_window_t id) { return d->window(id).modal; });
    });
}

bool X11App::terminate() {
    const auto d = m_workspace.lock();
    const auto* a = appForRequest(d);
    if (!a || !acceptsPoliteQuit())
        return false;
    // Main windows only, all in one batch: a dialog would take the request as its answer.
    for (xcb_window_t id : d->mainWindows(*a))
        d->sent(xcb_ewmh_request_close_window(&d->ewmh, d->screenNumber, id, XCB_CURRENT_TIME,
                                              XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER));
    // Unflushed, the request would wait in the buffer and be lost if nothing else follows.
    return xcb_flush(d->c) > 0;
}

bool X11App::forceTerminate() {
    const auto d = m_workspace.lock();
    const auto* a = appForRequest(d);
    if (!a)
        return false;
    // Proven before the connection closes, when the process still visibly holds it.
    std::shared_ptr<ProcessOwnership::PinnedProcess> pinned;
    if (m_key.domain == 0) {
        ProcessOwnership::Verdict verdict{};
        pinned = ProcessOwnership::PinnedProcess::prove(
            pid_t(m_key.pid), true,
            m_key.startTime ? std::optional<quint64>(m_key.startTime) : std::nullopt,
            d->serverSocketName(), &verdict);
        if (!pinned)
            qCInfo(lcX11).noquote() << "Closing the display connection of process" << m_key.pid
                                    << "only:" << ProcessOwnership::describe(verdict);
    }
    // The server closes exactly the connection that owns each window: it can never reach
    // another process. Xlib, GTK, Qt and Electron clients end with their connection.
    for (xcb_window_t id : a->windows)
        d->sent(xcb_kill_client(d->c, id));
    if (xcb_flush(d->c) <= 0)
        return false;
    if (pinned) {
        QTimer::singleShot(kFollowUpKillMs, d->q, [pinned] {
            if (!pinned->hasEnded() && pinned->kill())
                qCInfo(lcX11) << "Process" << pinned->pid()
                              << "outlived its display connection and was killed";
        });
    }
    return true;
}

// ---------------------------------------------------------------- X11Workspace

X11Workspace::X11Workspace()
    : d(std::make_unique<Private>()) {
    d->q = this;
}

X11Workspace::~X11Workspace() {
    d->self.reset();
    delete d->notifier;
    d->notifier = nullptr;
    if (d->ewmhReady)
        xcb_ewmh_connection_wipe(&d->ewmh);
    if (d->c)
        xcb_disconnect(d->c);
}

std::unique_ptr<X11Workspace> X11Workspace::connect(const QByteArray& display, QString* error,
                                                    DesktopEntryIndex* index) {
    std::unique_ptr<X11Workspace> ws(new X11Workspace());
    ws->d->index = index;
    if (!ws->d->open(display, error))
        return nullptr;
    Private* d = ws->d.get();
    d->notifier = new QSocketNotifier(xcb_get_file_descriptor(d->c), QSocketNotifier::Read);
    QObject::connect(d->notifier, &QSocketNotifier::activated, ws.get(),
                     [d] { d->processEvents(true); });
    QObject::connect(&d->desktopIndex(), &DesktopEntryIndex::changed, ws.get(),
                     [d] { ++d->matchGeneration; });
    return ws;
}

QList<RunningApplication> X11Workspace::runningApplications() const {
    d->processEvents(true);
    QList<RunningApplication> list;
    list.reserve(qsizetype(d->apps.size()));
    for (const auto& a : d->apps)
        list.append(d->handleFor(a));
    return list;
}

RunningApplication X11Workspace::frontmostApplication() const {
    d->processEvents(true);
    auto w = d->windows.constFind(d->activeWindow);
    if (w == d->windows.constEnd() || !w->loaded)
        return {};
    const Private::App* a = d->app(w->key);
    return a ? d->handleFor(*a) : RunningApplication();
}

std::optional<QString> X11Workspace::ownBundleIdentifier() const {
    return QString::fromLatin1(kAppIdentifier);
}

bool X11Workspace::ownWindowIsKeyOrMain() const {
    if (!qGuiApp)
        return false;
    if (QGuiApplication::focusWindow())
        return true;
    // Popups bypass the window manager and never become the focus window there.
    const auto windows = QGuiApplication::topLevelWindows();
    return std::any_of(windows.cbegin(), windows.cend(),
                       [](const QWindow* w) { return w->isVisible() && w->type() == Qt::Popup; });
}

std::optional<BundleInfo> X11Workspace::bundleAt(const QString& path) const {
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

quint64 X11Workspace::requestCount() const {
    return d->lastSequence;
}

QString X11Workspace::iconNameForEntry(const QString& path) const {
    const std::optional<DesktopApplication> entry = d->desktopIndex().entryAt(path);
    return entry ? entry->icon : QString();
}

QString X11Workspace::applicationsFolder() const {
    return DesktopEntryIndex::applicationsFolder();
}
