#pragma once

#include "WindowCache.h"
#include "X11Connection.h"

#include "platform/core/ToplevelSource.h"

#include <memory>

// The managed windows of an EWMH desktop as toplevels: what the window cache mirrors,
// converted for the core. A window's PID is proven when the X-Resource extension names it
// (the server's peer credentials) and only claimed when the client alone says it
// (_NET_WM_PID); its client is its resource-id base. A forced close ends exactly the
// connection that made the window.
class X11Toplevels final : public ToplevelSource {
public:
    explicit X11Toplevels(std::unique_ptr<X11Connection> connection);

    X11Connection& connection() const { return *m_x; }

    int fileDescriptor() const override { return m_x->fileDescriptor(); }
    void update(ToplevelSink& sink, bool readSocket) override;
    bool isBroken() const override { return m_cache.isBroken(); }
    bool requestClose(const QList<ToplevelId>& toplevels) override;
    bool canForceClose() const override { return true; }
    bool forceClose(const QList<ToplevelId>& toplevels) override;

private:
    Toplevel toplevel(WindowId id, const WindowState& w) const;

    const std::unique_ptr<X11Connection> m_x;
    WindowCache m_cache;
    // The window manager passes through no window at all while it switches: the active
    // window is the last managed one it named.
    WindowId m_active = XCB_NONE;
};
