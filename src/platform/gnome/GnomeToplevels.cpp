#include "GnomeToplevels.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QLoggingCategory>

#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

Q_LOGGING_CATEGORY(lcGnome, "com.Idlewatch.Idlewatch.GnomeWorkspace", QtInfoMsg)

using Facts = QVariantMap;

constexpr int kCallTimeoutMs = 3000;

// Meta.WindowType values.
enum MetaWindowType : uint {
    kNormal = 0,
    kDesktop = 1,
    kDock = 2,
    kDialog = 3,
    kModalDialog = 4,
    kToolbar = 5,
    kUtility = 7,
    kSplash = 8,
};

QDBusMessage call(const char* method, const QVariantList& args = {}) {
    QDBusMessage m = QDBusMessage::createMethodCall(
        QString::fromLatin1(GnomeToplevels::kService), QString::fromLatin1(GnomeToplevels::kPath),
        QString::fromLatin1(GnomeToplevels::kInterface), QString::fromLatin1(method));
    m.setArguments(args);
    return m;
}

// The kind of a Meta.Window type; nothing for menus, tooltips and the like, which are no
// application's toplevel.
std::optional<ToplevelKind> kindOf(uint type) {
    switch (type) {
    case kNormal:
        return ToplevelKind::Normal;
    case kDialog:
    case kModalDialog:
        return ToplevelKind::Dialog;
    case kDesktop:
    case kDock:
        return ToplevelKind::DesktopPart;
    case kToolbar:
    case kUtility:
    case kSplash:
        return ToplevelKind::Utility;
    default:
        return std::nullopt;
    }
}

// The X server's atoms and one question, on a connection kept for XWayland's windows.
struct X11Probe {
    xcb_connection_t* c = nullptr;
    xcb_atom_t protocols = 0, deleteWindow = 0;

    X11Probe() {
        const QByteArray display = qgetenv("DISPLAY");
        if (display.isEmpty())
            return;
        c = xcb_connect(display.constData(), nullptr);
        protocols = atom("WM_PROTOCOLS");
        deleteWindow = atom("WM_DELETE_WINDOW");
    }
    ~X11Probe() {
        if (c)
            xcb_disconnect(c);
    }
    bool ok() const { return c && !xcb_connection_has_error(c) && protocols && deleteWindow; }
    xcb_atom_t atom(const char* name) const {
        if (!c || xcb_connection_has_error(c))
            return 0;
        xcb_intern_atom_reply_t* r =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(qstrlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : 0;
        free(r);
        return a;
    }
    bool takesDelete(xcb_window_t w) const {
        if (!ok())
            return false;
        xcb_get_property_reply_t* r = xcb_get_property_reply(
            c, xcb_get_property(c, 0, w, protocols, XCB_ATOM_ATOM, 0, 32), nullptr);
        bool found = false;
        if (r && r->format == 32) {
            const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(r));
            for (int i = 0; i < xcb_get_property_value_length(r) / 4; ++i)
                found = found || atoms[i] == deleteWindow;
        }
        free(r);
        return found;
    }
};

} // namespace

GnomeToplevels::GnomeToplevels(const QDBusConnection& bus)
    : m_bus(bus)
    , m_wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

GnomeToplevels::~GnomeToplevels() {
    if (m_wake >= 0)
        ::close(m_wake);
}

bool GnomeToplevels::extensionRunning(const QDBusConnection& bus) {
    return bus.isConnected() && bus.interface() &&
           bus.interface()->isServiceRegistered(QString::fromLatin1(kService)).value();
}

std::unique_ptr<GnomeToplevels> GnomeToplevels::open(const QDBusConnection& bus, QString* error) {
    std::unique_ptr<GnomeToplevels> s(new GnomeToplevels(bus));
    const QString service = QString::fromLatin1(kService);
    for (const char* signal : {"WindowOpened", "WindowChanged", "WindowClosed", "FocusChanged"})
        s->m_bus.connect(service, QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
                         QString::fromLatin1(signal), s.get(), SLOT(windowEvent(quint64)));
    auto* watcher = new QDBusServiceWatcher(service, s->m_bus,
                                            QDBusServiceWatcher::WatchForUnregistration, s.get());
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, s.get(),
            &GnomeToplevels::shellLeft);
    // The first call also makes this program one the extension sends its signals to.
    if (s->m_wake < 0 || !s->list(error))
        return nullptr;
    return s;
}

std::optional<QList<Toplevel>> GnomeToplevels::list(QString* error) {
    const QDBusMessage reply = m_bus.call(call("ListWindows"), QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        if (error)
            *error = QStringLiteral("GNOME Shell's Idlewatch extension did not answer: %1")
                         .arg(reply.errorMessage());
        return std::nullopt;
    }
    QList<QVariantMap> windows;
    reply.arguments().constFirst().value<QDBusArgument>() >> windows;
    QList<Toplevel> result;
    for (const QVariantMap& w : std::as_const(windows)) {
        const std::optional<ToplevelKind> kind = kindOf(w.value("type").toUInt());
        Toplevel t;
        t.id = w.value("id").toULongLong();
        t.wmClass = w.value("class").toString();
        if (!kind || t.id == 0 || t.wmClass.isEmpty())
            continue;
        const bool x11 = w.value("x11").toBool();
        t.kind = *kind;
        t.wmInstance = w.value("instance").toString();
        // Mutter gives a Wayland client's app id as its class.
        t.appId = w.value("appId").toString();
        if (t.appId.isEmpty())
            t.appId = w.value("sandboxId").toString();
        if (t.appId.isEmpty() && !x11)
            t.appId = t.wmClass;
        t.desktopEntry = w.value("desktopEntry").toString();
        t.title = w.value("title").toString();
        t.pid = w.value("pid").toLongLong();
        // Mutter knows a Wayland client's PID from its socket; an X client's may be its word.
        t.pidSource = t.pid <= 0 ? PidSource::None : x11 ? PidSource::Claimed : PidSource::Proven;
        t.hasParent = w.value("transientFor").toULongLong() != 0;
        t.modal = w.value("type").toUInt() == kModalDialog;
        t.skipTaskbar = w.value("skipTaskbar").toBool();
        t.active = w.value("focus").toBool();
        t.minimized = w.value("minimized").toBool();
        t.fullscreen = w.value("fullscreen").toBool();
        t.closeable = w.value("canClose").toBool() &&
                      (!x11 || x11Closeable(w.value("description").toString()));
        result += t;
    }
    return result;
}

bool GnomeToplevels::x11Closeable(const QString& description) {
    bool ok = false;
    const xcb_window_t window = description.section(u' ', 0, 0).toUInt(&ok, 16);
    if (!ok || window == 0)
        return false;
    if (const auto it = m_x11Closeable.constFind(window); it != m_x11Closeable.cend())
        return *it;
    static const X11Probe probe;
    return *m_x11Closeable.insert(window, probe.takesDelete(window));
}

void GnomeToplevels::update(ToplevelSink& sink, bool readSocket) {
    if (readSocket) {
        eventfd_t drained = 0;
        ::eventfd_read(m_wake, &drained);
    }
    if (m_broken)
        return;
    std::optional<QList<Toplevel>> now;
    if (!m_gone && std::exchange(m_stale, false))
        now = list();
    else if (!m_gone)
        return;
    if (!now) {
        // The shell restarted or the extension was turned off: everything is gone for us.
        qCWarning(lcGnome) << "GNOME Shell's Idlewatch extension stopped answering.";
        m_broken = true;
        for (auto it = m_known.cbegin(); it != m_known.cend(); ++it)
            sink.toplevelClosed(it.key());
        m_known.clear();
        return;
    }
    QHash<ToplevelId, Toplevel> seen;
    for (const Toplevel& t : std::as_const(*now))
        seen.insert(t.id, t);
    for (auto it = m_known.cbegin(); it != m_known.cend(); ++it)
        if (!seen.contains(it.key()))
            sink.toplevelClosed(it.key());
    for (const Toplevel& t : std::as_const(*now))
        if (m_known.value(t.id) != t)
            sink.toplevelChanged(t);
    m_x11Closeable.removeIf([&](const auto& it) { return !seen.contains(it.key()); });
    m_known = std::move(seen);
}

bool GnomeToplevels::requestClose(const QList<ToplevelId>& toplevels) {
    bool sent = !toplevels.isEmpty() && !m_broken;
    for (ToplevelId id : toplevels) {
        const QDBusReply<bool> reply = m_bus.call(
            call("CloseWindow", {QVariant::fromValue(quint64(id))}), QDBus::Block, kCallTimeoutMs);
        sent = sent && reply.isValid() && reply.value();
    }
    return sent;
}

void GnomeToplevels::windowEvent(quint64 id) {
    Q_UNUSED(id)
    m_stale = true;
    ::eventfd_write(m_wake, 1);
}

void GnomeToplevels::shellLeft() {
    m_gone = true;
    ::eventfd_write(m_wake, 1);
}
