#pragma once

// What the parts of the Wayland backend share: the connection state with its cache of
// toplevels grouped into applications (WaylandWorkspaceState.cpp), and the behaviour behind
// each application handle (WaylandApplication.cpp). WaylandWorkspace is the facade.

#include "SwayIpc.h"
#include "WaylandWorkspace.h"

#include "engine/RunningApplication.h"
#include "platform/linux/DesktopEntryIndex.h"
#include "preferences/AppIdentity.h"

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <QList>
#include <QLoggingCategory>
#include <QString>

#include <wayland-client.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QSocketNotifier;

namespace WaylandBackend {

Q_DECLARE_LOGGING_CATEGORY(lcWayland)

struct State;
class WaylandApp;

// The registry's view: only the manager's global matters.
struct GlobalScan {
    uint32_t name = 0;
    uint32_t version = 0;
};

// What a toplevel's events say, applied together on `done`.
struct ToplevelProperties {
    QString title;
    QString appId;
    bool activated = false;
    bool minimized = false;
    zwlr_foreign_toplevel_handle_v1* parent = nullptr;
};

// The process sway named for a toplevel when it could first be told apart from every other
// window, with that process's start time then: a later PID that names another process is
// never taken for it.
struct ProcessIdentity {
    pid_t pid = 0;
    quint64 startTime = 0;
};

struct Toplevel {
    State* state = nullptr;
    zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    quint64 serial = 0; // announcement order; also tells toplevels that came after a close
    bool announced = false;
    ToplevelProperties current;
    ToplevelProperties pending;
    std::optional<ProcessIdentity> process;
};

struct State {
    WaylandWorkspace* q = nullptr;
    // Handles outlive the workspace in engine maps; they reach it through this token.
    std::shared_ptr<State> self{this, [](State*) {}};

    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    zwlr_foreign_toplevel_manager_v1* manager = nullptr;
    GlobalScan globals;
    bool broken = false;
    QSocketNotifier* notifier = nullptr;
    DesktopEntryIndex* index = nullptr;
    bool activationDirty = false;
    // sway's IPC socket when it answers for this compositor; empty: nothing is ever signalled.
    QByteArray swaySocket;
    pid_t compositorPid = 0;
    std::optional<QByteArray> serverSocket;
    bool processesDirty = false;

    std::vector<std::unique_ptr<Toplevel>> toplevels; // in announcement order
    quint64 nextToplevelSerial = 1;
    quint64 nextGroupSerial = 1;

    // One entry per application, in the order of its first toplevel.
    struct App {
        QString group; // "a:" + app_id, or "t:" + serial for a toplevel without one
        ProcessKey key;
        QList<Toplevel*> toplevels;
        std::shared_ptr<WaylandApp> handle;
        bool activated = false; // as of the last updateActivation
        // The newest toplevel serial when a close was last delivered: a toplevel newer than
        // that is the application asking its user (a "save changes?" window).
        std::optional<quint64> askedAtSerial;
        quint64 matchGeneration = ~quint64(0);
        std::optional<DesktopApplication> entry;
    };
    std::vector<App> apps;
    quint64 matchGeneration = 0;
    std::optional<ProcessKey> frontmost;

    bool open(const QByteArray& name, QString* error);
    void pump(bool readSocket);
    bool flush();
    void markBroken();
    void releaseProxies();
    void announce(zwlr_foreign_toplevel_handle_v1* handle);
    void onDone(Toplevel* t);
    void onClosed(Toplevel* t);
    void rebuildApps();
    void updateActivation();
    bool probeProcesses();
    const QByteArray& serverSocketName();

    const App* app(const ProcessKey& key) const {
        auto it =
            std::find_if(apps.cbegin(), apps.cend(), [&](const App& a) { return a.key == key; });
        return it == apps.cend() ? nullptr : &*it;
    }
    App* app(const ProcessKey& key) { return const_cast<App*>(std::as_const(*this).app(key)); }
    RunningApplication handleFor(const App& a) const;
    const std::optional<DesktopApplication>& entryFor(const App& a);
    DesktopEntryIndex& desktopIndex() const { return *index; }
};

inline bool isOwn(const ToplevelProperties& p) {
    return p.appId == QLatin1String(kAppIdentifier);
}

// The behaviour behind one RunningApplication. It remembers the last identity it reported
// so that a handle of an ended application still names it.
class WaylandApp final : public RunningApplication::Backend {
public:
    WaylandApp(std::weak_ptr<State> workspace, ProcessKey key)
        : m_workspace(std::move(workspace))
        , m_key(key) {}

    ProcessKey key() const override { return m_key; }
    std::optional<QString> applicationId() const override {
        refreshIdentity();
        return m_identifier;
    }
    std::optional<QString> displayName() const override {
        refreshIdentity();
        return m_name;
    }
    std::optional<QString> entryPath() const override {
        refreshIdentity();
        return m_path;
    }
    bool isHidden() const override;
    AppRole role() const override;
    bool hasStarted() const override;
    bool requestQuit() override;
    bool forceQuit() override;
    bool canForceQuit() const override {
        const auto d = m_workspace.lock();
        return d && !d->swaySocket.isEmpty();
    }
    bool acceptsPoliteQuit() const override;
    bool isAskingUser() const override;

private:
    void refreshIdentity() const;
    template <class F> auto withApp(F f) const {
        auto d = m_workspace.lock();
        const State::App* a = d ? d->app(m_key) : nullptr;
        return f(d.get(), a);
    }

    std::weak_ptr<State> m_workspace;
    ProcessKey m_key;
    mutable std::optional<QString> m_identifier;
    mutable std::optional<QString> m_name;
    mutable std::optional<QString> m_path;
    mutable quint64 m_identityGeneration = ~quint64(0);
};

// A main window is one without a parent: a dialog would take a close request as its answer.
inline bool isMain(const Toplevel* t) {
    return t->current.parent == nullptr;
}

// The one window of sway's tree that can be this toplevel; nothing when none or several could.
const SwayIpc::Window* soleMatch(const QList<SwayIpc::Window>& tree, const Toplevel* t);

// Finds the toplevel manager's global; `data` is a GlobalScan.
extern const wl_registry_listener kRegistryListener;

} // namespace WaylandBackend
