// The Wayland backend, for compositors that offer wlroots' foreign-toplevel list. Its parts:
//   WaylandWorkspaceState  the connection, the listeners and the cache of toplevels grouped
//                          into applications
//   WaylandApplication     each RunningApplication's behaviour: identity, the close request
//                          and, on sway, the forced quit
//   SwayIpc                sway's window tree, which names each window's process
//   WaylandWorkspace       this facade: the Workspace queries answered from the cache
//
// One deactivation's route (the steps are in WaylandWorkspaceState.cpp):
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

#include "WaylandWorkspaceState.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#include <QWindow>

using namespace WaylandBackend;

namespace {

QByteArray displayName(const QByteArray& display) {
    return display.isEmpty() ? qgetenv("WAYLAND_DISPLAY") : display;
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

std::optional<QString> WaylandWorkspace::ownApplicationId() const {
    return QString::fromLatin1(kAppIdentifier);
}

bool WaylandWorkspace::ownWindowIsActive() const {
    if (!qGuiApp)
        return false;
    if (QGuiApplication::focusWindow())
        return true;
    const auto windows = QGuiApplication::topLevelWindows();
    return std::any_of(windows.cbegin(), windows.cend(),
                       [](const QWindow* w) { return w->isVisible() && w->type() == Qt::Popup; });
}

bool WaylandWorkspace::canForceQuit() const {
    return !d->swaySocket.isEmpty();
}

std::optional<ApplicationEntry> WaylandWorkspace::entryAt(const QString& path) const {
    const std::optional<DesktopApplication> entry = d->desktopIndex().entryAt(path);
    if (!entry)
        return std::nullopt;
    return ApplicationEntry{entry->id, entry->displayName};
}

QString WaylandWorkspace::iconNameForEntry(const QString& path) const {
    const std::optional<DesktopApplication> entry = d->desktopIndex().entryAt(path);
    return entry ? entry->icon : QString();
}

QString WaylandWorkspace::applicationsFolder() const {
    return DesktopEntryIndex::applicationsFolder();
}

QList<InstalledApplication> WaylandWorkspace::installedApplications() const {
    QList<InstalledApplication> out;
    for (const DesktopApplication& app : d->desktopIndex().shownApplications())
        out.append({app.path, app.displayName, app.icon, app.id, app.keywords});
    return out;
}
