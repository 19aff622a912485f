// One deactivation through the X11 backend:
//
//   1. the window manager sets _NET_ACTIVE_WINDOW on the root; the server sends
//      PropertyNotify and the QSocketNotifier wakes X11WorkspaceCore::refresh
//   2. WindowCache::update reads the events and fetches the new active window (and any new
//      or changed windows, in one pipelined batch), returning what changed
//   3. refresh feeds those windows to the ProcessTable, which regroups them into processes
//   4. updateActiveOwner asks the table who owns the active window; when the owning process
//      changed, didDeactivateApplication(previous owner) is posted on the main queue

#include "X11Workspace.h"

#include "OwnWindows.h"
#include "X11Application.h"
#include "X11WorkspaceCore.h"

#include "platform/linux/ProcessControl.h"
#include "preferences/AppIdentity.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QWindow>

#include <unistd.h>

namespace {
Q_LOGGING_CATEGORY(lcX11, "com.Idlewatch.Idlewatch.X11Workspace", QtInfoMsg)
} // namespace

// ---------------------------------------------------------------- core

X11WorkspaceCore::X11WorkspaceCore(X11Workspace* workspace,
                                   std::unique_ptr<X11Connection> openConnection,
                                   DesktopEntryIndex& index)
    : q(workspace)
    , connection(std::move(openConnection))
    , cache(*connection)
    , table(connection->root(), connection->resourceMask(), qint64(getpid()))
    , entries(index) {}

void X11WorkspaceCore::refresh(bool readSocket) {
    if (cache.isBroken())
        return;
    const WindowCache::Changes changes = cache.update(readSocket);
    if (cache.isBroken()) {
        qCWarning(lcX11) << "The X11 connection was lost; no applications are seen any more.";
        if (notifier)
            notifier->setEnabled(false);
    }
    // Removed first: an id in both sets belongs to a new window.
    for (WindowId id : changes.removed)
        table.removeWindow(id);
    for (WindowId id : changes.updated)
        if (const WindowState* w = cache.window(id))
            table.setWindow(id, *w);
    if (changes.clientList)
        table.setClientList(cache.clientList());
    if (table.regroup()) {
        for (auto it = m_slots.begin(); it != m_slots.end();)
            it = table.application(it.key()) ? std::next(it) : m_slots.erase(it);
    }
    if (!cache.isBroken())
        updateActiveOwner();
}

void X11WorkspaceCore::updateActiveOwner() {
    const std::optional<ProcessKey> owner = table.owner(cache.activeWindow());
    if (!owner || owner == m_activeOwner)
        return; // 0 while the window manager switches, or not ours to know
    const std::optional<ProcessKey> previous = std::exchange(m_activeOwner, owner);
    if (!previous || !table.application(*previous))
        return; // nothing was in front, or it ended: there is nothing left to stamp
    const RunningApplication handle = handleFor(*previous);
    QMetaObject::invokeMethod(
        q, [ws = q, handle] { emit ws->didDeactivateApplication(handle); }, Qt::QueuedConnection);
}

RunningApplication X11WorkspaceCore::handleFor(const ProcessKey& key) {
    Slot& slot = m_slots[key];
    if (!slot.handle)
        slot.handle = std::make_shared<X11Application>(weak_from_this(), key);
    return RunningApplication(slot.handle);
}

const std::optional<DesktopApplication>& X11WorkspaceCore::entryFor(const ProcessKey& key) {
    Slot& slot = m_slots[key];
    if (slot.matchGeneration == identityGeneration())
        return slot.entry;
    slot.matchGeneration = identityGeneration();
    if (table.isOwnProcess(key)) {
        slot.entry = desktopIndex().byId(QString::fromLatin1(kAppIdentifier));
        return slot.entry;
    }
    WindowHints hints = table.hints(key);
    if (ProcessTable::isLocalProcess(key))
        hints.executableName = ProcessControl::executableName(pid_t(key.pid));
    slot.entry = desktopIndex().match(hints);
    return slot.entry;
}

// ---------------------------------------------------------------- X11Workspace

X11Workspace::~X11Workspace() = default;

std::unique_ptr<X11Workspace> X11Workspace::connect(const QByteArray& display, QString* error,
                                                    DesktopEntryIndex& index) {
    std::unique_ptr<X11Connection> connection = X11Connection::open(display, error);
    if (!connection)
        return nullptr;
    std::unique_ptr<X11Workspace> ws(new X11Workspace());
    ws->d = std::make_shared<X11WorkspaceCore>(ws.get(), std::move(connection), index);
    X11WorkspaceCore* core = ws->d.get();
    core->cache.start();
    core->refresh(true);
    if (core->connection->hasError()) {
        if (error)
            *error = QStringLiteral("Idlewatch lost the X11 display.");
        return nullptr;
    }
    core->notifier = std::make_unique<QSocketNotifier>(core->connection->fileDescriptor(),
                                                       QSocketNotifier::Read);
    QObject::connect(core->notifier.get(), &QSocketNotifier::activated, ws.get(),
                     [core] { core->refresh(true); });
    QObject::connect(&core->desktopIndex(), &DesktopEntryIndex::changed, ws.get(),
                     [core] { ++core->entriesGeneration; });
    return ws;
}

QList<RunningApplication> X11Workspace::runningApplications() const {
    d->refresh(true);
    QList<RunningApplication> list;
    list.reserve(qsizetype(d->table.applications().size()));
    for (const ProcessTable::Application& a : d->table.applications())
        list.append(d->handleFor(a.key));
    return list;
}

RunningApplication X11Workspace::frontmostApplication() const {
    d->refresh(true);
    const std::optional<ProcessKey> owner = d->table.owner(d->cache.activeWindow());
    return owner && d->table.application(*owner) ? d->handleFor(*owner) : RunningApplication();
}

std::optional<QString> X11Workspace::ownApplicationId() const {
    return QString::fromLatin1(kAppIdentifier);
}

bool X11Workspace::ownWindowIsActive() const {
    return OwnWindows::anyHasFocus();
}

void X11Workspace::activateOwnWindow(QWindow* window) {
    // Qt's window ids are X window ids only on its xcb platform.
    if (!window || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    OwnWindows::whenExposed(window, [core = std::weak_ptr(d)](QWindow* exposed) {
        if (const auto live = core.lock(); live && !live->isBroken())
            live->connection->requestActivation(xcb_window_t(exposed->winId()));
    });
}

std::optional<ApplicationEntry> X11Workspace::entryAt(const QString& path) const {
    const std::optional<DesktopApplication> entry = d->desktopIndex().entryAt(path);
    if (!entry)
        return std::nullopt;
    return ApplicationEntry{entry->id, entry->displayName};
}

quint64 X11Workspace::requestCount() const {
    return d->connection->requestCount();
}

QString X11Workspace::iconNameForEntry(const QString& path) const {
    const std::optional<DesktopApplication> entry = d->desktopIndex().entryAt(path);
    return entry ? entry->icon : QString();
}

QString X11Workspace::applicationsFolder() const {
    return DesktopEntryIndex::applicationsFolder();
}

QList<InstalledApplication> X11Workspace::installedApplications() const {
    QList<InstalledApplication> out;
    for (const DesktopApplication& app : d->desktopIndex().shownApplications())
        out.append({app.path, app.displayName, app.icon, app.id, app.keywords});
    return out;
}
