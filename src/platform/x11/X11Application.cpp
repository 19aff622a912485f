#include "X11Application.h"

#include "X11WorkspaceCore.h"

#include "platform/linux/ProcessControl.h"
#include "platform/linux/ProcessOwnership.h"
#include "platform/linux/TerminalJobs.h"
#include "platform/x11/X11Workspace.h"
#include "preferences/AppIdentity.h"

#include <QLoggingCategory>
#include <QTimer>

namespace {

Q_LOGGING_CATEGORY(lcApp, "com.Idlewatch.Idlewatch.X11Workspace", QtInfoMsg)

// How long a client whose connection was closed may take to end before its proven process
// is killed.
constexpr int kFollowUpKillMs = 2000;

} // namespace

std::optional<QString> X11Application::applicationId() const {
    refreshIdentity();
    return m_identifier;
}

std::optional<QString> X11Application::displayName() const {
    refreshIdentity();
    return m_name;
}

std::optional<QString> X11Application::entryPath() const {
    refreshIdentity();
    return m_path;
}

void X11Application::refreshIdentity() const {
    const auto d = m_workspace.lock();
    if (!d || !d->table.application(m_key))
        return; // ended: keep what was last known
    if (m_identityGeneration == d->identityGeneration())
        return;
    m_identityGeneration = d->identityGeneration();
    const auto& entry = d->entryFor(m_key);
    const QString wmClass = d->table.windowClass(m_key);
    const bool own = d->table.isOwnProcess(m_key);
    if (own)
        m_identifier = QString::fromLatin1(kAppIdentifier);
    else if (entry)
        m_identifier = entry->id;
    else if (!wmClass.isEmpty())
        m_identifier = wmClass;
    else
        m_identifier.reset();

    if (entry)
        m_name = entry->displayName;
    else if (own)
        m_name = QString::fromLatin1(kAppDisplayName);
    else if (!wmClass.isEmpty())
        m_name = wmClass;
    else if (const QString command = ProcessTable::isLocalProcess(m_key)
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
}

bool X11Application::isHidden() const {
    const auto d = m_workspace.lock();
    return d && d->table.isHidden(m_key);
}

AppRole X11Application::role() const {
    const auto d = m_workspace.lock();
    return d ? d->table.role(m_key) : AppRole::DesktopPart;
}

bool X11Application::hasStarted() const {
    const auto d = m_workspace.lock();
    return d && d->table.hasStarted(m_key);
}

bool X11Application::acceptsPoliteQuit() const {
    const auto d = m_workspace.lock();
    return d && d->table.acceptsPoliteQuit(m_key);
}

bool X11Application::isAskingUser() const {
    const auto d = m_workspace.lock();
    return d && d->table.isAskingUser(m_key);
}

bool X11Application::hasModalWindow() const {
    const auto d = m_workspace.lock();
    return d && d->table.hasModalWindow(m_key);
}

QList<qint64> X11Application::processIds() const {
    if (!ProcessTable::isLocalProcess(m_key))
        return {};
    return {m_key.pid};
}

bool X11Application::isBusy() const {
    return TerminalJobs::hasRunningJob(processIds());
}

std::shared_ptr<X11WorkspaceCore> X11Application::workspaceForRequest() const {
    auto d = m_workspace.lock();
    if (!d || d->isBroken())
        return nullptr;
    // The cache must be current: a window may have closed since the last event.
    d->refresh(true);
    const auto* a = d->table.application(m_key);
    return a && !a->windows.isEmpty() ? d : nullptr;
}

bool X11Application::requestQuit() {
    const auto d = workspaceForRequest();
    if (!d || !d->table.acceptsPoliteQuit(m_key))
        return false;
    // Main windows only, all in one batch: a dialog would take the request as its answer.
    for (WindowId id : d->table.mainWindows(m_key))
        d->connection->requestClose(id);
    return d->connection->flush();
}

bool X11Application::forceQuit() {
    const auto d = workspaceForRequest();
    if (!d)
        return false;
    // Proven before the connection closes, when the process still visibly holds it.
    std::shared_ptr<ProcessOwnership::PinnedProcess> pinned;
    if (m_key.domain == 0) {
        ProcessOwnership::Verdict verdict{};
        pinned = ProcessOwnership::PinnedProcess::prove(
            pid_t(m_key.pid), true,
            m_key.startTime ? std::optional<quint64>(m_key.startTime) : std::nullopt,
            d->connection->serverSocketName(), &verdict);
        if (!pinned)
            qCInfo(lcApp).noquote() << "Closing the display connection of process" << m_key.pid
                                    << "only:" << ProcessOwnership::describe(verdict);
    }
    // The server closes exactly the connection that owns each window: it can never reach
    // another process. Xlib, GTK, Qt and Electron clients end with their connection.
    for (WindowId id : d->table.application(m_key)->windows)
        d->connection->killClient(id);
    if (!d->connection->flush())
        return false;
    if (pinned) {
        QTimer::singleShot(kFollowUpKillMs, d->q, [pinned] {
            if (!pinned->hasEnded() && pinned->kill())
                qCInfo(lcApp) << "Process" << pinned->pid()
                              << "outlived its display connection and was killed";
        });
    }
    return true;
}
