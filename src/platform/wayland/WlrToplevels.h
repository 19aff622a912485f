#pragma once

#include "platform/core/ToplevelSource.h"

#include <QByteArray>
#include <QHash>
#include <QSet>

#include <memory>
#include <sys/types.h>

struct wl_display;
struct wl_registry;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;

// The toplevels a wlroots compositor (sway, Hyprland, labwc, wayfire, river ...) announces
// through zwlr_foreign_toplevel_manager_v1, over its own Wayland connection. The protocol
// names no process and can only ask a window to close, so nothing is ever forced here. On
// sway, whose IPC tree ($SWAYSOCK) names each window's process and whether it floats, a
// toplevel told apart from every other window gets its PID, and a floating one (sway 1.7
// reports no parent: a dialog floats) counts as a modal question.
class WlrToplevels final : public ToplevelSource {
public:
    // Nothing, with `error` set to one line for the user, when no compositor answers at
    // `name` or it does not offer the toplevel list.
    static std::unique_ptr<WlrToplevels> open(const QByteArray& name, QString* error);
    // Whether the compositor at `name` offers the toplevel list; a bare connection, opened
    // and closed.
    static bool offersToplevels(const QByteArray& name);
    ~WlrToplevels() override;

    int fileDescriptor() const override;
    void update(ToplevelSink& sink, bool readSocket) override;
    bool isBroken() const override { return m_broken; }
    bool requestClose(const QList<ToplevelId>& toplevels) override;

    // ---- for the protocol's listeners
    struct Handle;
    void announce(zwlr_foreign_toplevel_handle_v1* proxy);
    void done(Handle& handle);
    void closed(Handle& handle);

private:
    WlrToplevels() = default;
    void markBroken();
    void releaseProxies();
    bool flush();
    // One read of sway's tree for every toplevel not told apart yet; false when sway does
    // not answer.
    bool readSwayTree();

    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
    zwlr_foreign_toplevel_manager_v1* m_manager = nullptr;
    bool m_broken = false;
    QHash<ToplevelId, Handle*> m_handles;
    ToplevelId m_nextId = 1;
    QSet<ToplevelId> m_changed;
    QList<ToplevelId> m_closed;
    // sway's IPC socket when it answers for this compositor; empty elsewhere.
    QByteArray m_swaySocket;
    pid_t m_compositorPid = 0;
    bool m_treeDirty = false;
};
