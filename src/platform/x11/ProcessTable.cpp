#include "ProcessTable.h"

#include "platform/linux/ProcessControl.h"

#include <algorithm>

namespace {

// Only a PID the server gives (X-Resource, for local clients) names a local process. A PID
// that only the client claims (a remote client, or a server without X-Resource) groups
// windows in a domain of its own, and clients without any PID get one per connection, so
// their keys never collide with a local process.
constexpr quint64 kHintDomainBit = quint64(1) << 63;
constexpr quint64 kClientDomainBit = quint64(1) << 62;

bool sameHints(const WindowState& a, const WindowState& b) {
    return a.wmInstance == b.wmInstance && a.wmClass == b.wmClass &&
           a.gtkApplicationId == b.gtkApplicationId && a.kdeDesktopFile == b.kdeDesktopFile;
}

} // namespace

ProcessTable::ProcessTable(WindowId root, quint32 resourceMask, qint64 ownPid,
                           StartTimeLookup startTime)
    : m_root(root)
    , m_resourceMask(resourceMask)
    , m_ownPid(ownPid)
    , m_startTime(std::move(startTime)) {
    if (!m_startTime)
        m_startTime = [](qint64 pid) { return ProcessControl::startTime(pid_t(pid)); };
}

void ProcessTable::setClientList(const QList<WindowId>& windows) {
    m_clientList = windows;
    m_dirty = true;
}

void ProcessTable::setWindow(WindowId id, const WindowState& state) {
    auto it = m_windows.find(id);
    if (it == m_windows.end()) {
        m_windows.insert(id, {state, deriveKey(id, state, nullptr)});
        m_dirty = true;
        return;
    }
    if (!sameHints(it->state, state))
        ++m_generation;
    it->state = state;
    const ProcessKey key = deriveKey(id, state, &it->key);
    if (!(key == it->key)) {
        it->key = key;
        m_dirty = true;
    }
}

void ProcessTable::removeWindow(WindowId id) {
    if (m_windows.remove(id))
        m_dirty = true;
}

ProcessKey ProcessTable::deriveKey(WindowId id, const WindowState& w,
                                   const ProcessKey* previous) const {
    if (w.resPid > 0) {
        // The server's own view of its local peer: the only PID that ever names a process
        // here. Its start time is the one of the process first seen holding the window, so
        // a PID reused while the window lives never becomes this application.
        const bool samePid = previous && previous->domain == 0 && previous->pid == w.resPid &&
                             previous->startTime != 0;
        const quint64 start = samePid ? previous->startTime : m_startTime(w.resPid).value_or(0);
        return {w.resPid, start, 0};
    }
    if (w.netWmPid > 0) {
        // A remote client, or a server without X-Resource: the client's own word groups its
        // windows, and is never a reason to read or signal a local process.
        return {w.netWmPid, 0, kHintDomainBit | (quint64(qHash(w.clientMachine)) >> 2)};
    }
    return {0, 0, kClientDomainBit | quint64(id & ~m_resourceMask)};
}

bool ProcessTable::regroup() {
    if (!m_dirty)
        return false;
    m_dirty = false;
    m_apps.clear();
    m_appIndex.clear();
    for (WindowId id : std::as_const(m_clientList)) {
        auto w = m_windows.constFind(id);
        if (w == m_windows.constEnd())
            continue; // not loaded yet
        auto slot = m_appIndex.constFind(w->key);
        if (slot == m_appIndex.constEnd()) {
            slot = m_appIndex.insert(w->key, qsizetype(m_apps.size()));
            m_apps.push_back({w->key, {}});
        }
        m_apps[size_t(*slot)].windows.append(id);
    }
    ++m_generation;
    return true;
}

const ProcessTable::Application* ProcessTable::application(const ProcessKey& key) const {
    auto it = m_appIndex.constFind(key);
    return it == m_appIndex.constEnd() ? nullptr : &m_apps[size_t(*it)];
}

std::optional<ProcessKey> ProcessTable::owner(WindowId id) const {
    auto it = m_windows.constFind(id);
    return it == m_windows.constEnd() ? std::nullopt : std::optional(it->key);
}

const WindowState* ProcessTable::window(WindowId id) const {
    auto it = m_windows.constFind(id);
    return it == m_windows.constEnd() ? nullptr : &it->state;
}

bool ProcessTable::isOwnProcess(const ProcessKey& key) const {
    return key.pid == m_ownPid && (key.domain == 0 || (key.domain & kHintDomainBit));
}

bool ProcessTable::isNormalWindow(const WindowState& w) {
    return w.type == WindowType::Normal || (w.type == WindowType::Untyped && w.transientFor == 0);
}

// Never sent a close request, which its toolkit may take as an answer ("Cancel", or worse
// "Don't save").
bool ProcessTable::isSecondaryWindow(const WindowState& w) const {
    return w.type == WindowType::Dialog || w.modal ||
           (w.transientFor != 0 && w.transientFor != m_root);
}

template <class F> bool ProcessTable::anyWindow(const ProcessKey& key, F f) const {
    const Application* a = application(key);
    return a && std::any_of(a->windows.cbegin(), a->windows.cend(), [&](WindowId id) {
               const WindowState* w = window(id);
               return w && f(*w);
           });
}

AppRole ProcessTable::role(const ProcessKey& key) const {
    if (anyWindow(key, [](const WindowState& w) { return isNormalWindow(w) && !w.skipTaskbar; }))
        return AppRole::Regular;
    const bool desktopPart = anyWindow(key, [](const WindowState& w) {
        return w.type == WindowType::Dock || w.type == WindowType::Desktop;
    });
    // An application without windows is gone: never one to track.
    return desktopPart || !application(key) ? AppRole::DesktopPart : AppRole::Auxiliary;
}

bool ProcessTable::isHidden(const ProcessKey& key) const {
    return anyWindow(key, isNormalWindow) &&
           !anyWindow(key, [](const WindowState& w) { return isNormalWindow(w) && !w.hidden; });
}

bool ProcessTable::hasStarted(const ProcessKey& key) const {
    // A minimised window is unmapped but its application has long finished launching.
    return anyWindow(key, [](const WindowState& w) { return w.everMapped || w.hidden; });
}

QList<WindowId> ProcessTable::mainWindows(const ProcessKey& key) const {
    QList<WindowId> main;
    if (const Application* a = application(key))
        for (WindowId id : a->windows)
            if (const WindowState* w = window(id); w && !isSecondaryWindow(*w))
                main.append(id);
    return main;
}

bool ProcessTable::acceptsPoliteQuit(const ProcessKey& key) const {
    // A window without WM_DELETE_WINDOW would make the window manager kill the client.
    const QList<WindowId> main = mainWindows(key);
    return !main.isEmpty() && std::all_of(main.cbegin(), main.cend(), [this](WindowId id) {
        return window(id)->deleteWindowProtocol;
    });
}

bool ProcessTable::isAskingUser(const ProcessKey& key) const {
    return anyWindow(key, [this](const WindowState& w) { return isSecondaryWindow(w); });
}

bool ProcessTable::hasModalWindow(const ProcessKey& key) const {
    return anyWindow(key, [](const WindowState& w) { return w.modal; });
}

WindowHints ProcessTable::hints(const ProcessKey& key) const {
    WindowHints hints;
    const Application* a = application(key);
    if (!a)
        return hints;
    for (WindowId id : a->windows) {
        const WindowState* w = window(id);
        if (!w)
            continue;
        if (hints.gtkApplicationId.isEmpty())
            hints.gtkApplicationId = w->gtkApplicationId;
        if (hints.kdeDesktopFile.isEmpty())
            hints.kdeDesktopFile = w->kdeDesktopFile;
        if (hints.wmClassClass.isEmpty() && hints.wmClassInstance.isEmpty()) {
            hints.wmClassInstance = w->wmInstance;
            hints.wmClassClass = w->wmClass;
        }
    }
    return hints;
}

QString ProcessTable::windowClass(const ProcessKey& key) const {
    if (const Application* a = application(key))
        for (WindowId id : a->windows)
            if (const WindowState* w = window(id); w && !w->wmClass.isEmpty())
                return w->wmClass;
    return {};
}
