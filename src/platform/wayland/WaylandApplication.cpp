// The behaviour behind each RunningApplication of the Wayland backend: identity read from
// the cache, the one request the protocol allows (a close per main toplevel), and on sway a
// forced quit of the processes its IPC tree names without doubt.

#include "WaylandWorkspaceState.h"

#include "platform/linux/ProcessOwnership.h"

#include <QSet>

namespace WaylandBackend {

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
            m_name = entry->displayName;
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

AppRole WaylandApp::role() const {
    return withApp([](State*, const State::App* a) {
        if (!a)
            return AppRole::DesktopPart;
        return std::any_of(a->toplevels.cbegin(), a->toplevels.cend(), isMain) ? AppRole::Regular
                                                                               : AppRole::Auxiliary;
    });
}

bool WaylandApp::hasStarted() const {
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

bool WaylandApp::requestQuit() {
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

bool WaylandApp::forceQuit() {
    const auto d = m_workspace.lock();
    if (!d || d->broken || d->swaySocket.isEmpty())
        return false;
    d->pump(true);
    const State::App* a = d->app(m_key);
    const auto tree = a ? SwayIpc::windows(d->swaySocket, d->compositorPid) : std::nullopt;
    if (!tree)
        return false;
    // Every toplevel must still be the one window of the tree that can be it, shown by the
    // process recorded when it was first told apart, and that process must be proven: all
    // of them, before any is signalled.
    std::vector<std::unique_ptr<ProcessOwnership::PinnedProcess>> pinned;
    QSet<pid_t> seen;
    for (const Toplevel* t : a->toplevels) {
        const SwayIpc::Window* w = soleMatch(*tree, t);
        if (!t->process || !w || w->pid != t->process->pid) {
            qCInfo(lcWayland).noquote()
                << "Not forcing" << a->group << "to quit: its windows cannot be told apart";
            return false;
        }
        if (seen.contains(t->process->pid))
            continue;
        seen.insert(t->process->pid);
        ProcessOwnership::Verdict verdict{};
        auto process = ProcessOwnership::PinnedProcess::prove(
            t->process->pid, true, t->process->startTime, d->serverSocketName(), &verdict);
        if (!process) {
            qCInfo(lcWayland).noquote()
                << "Not forcing" << a->group << "to quit:" << ProcessOwnership::describe(verdict);
            return false;
        }
        pinned.push_back(std::move(process));
    }
    bool delivered = !pinned.empty();
    for (const auto& process : pinned)
        delivered = process->kill() && delivered;
    return delivered;
}

} // namespace WaylandBackend
