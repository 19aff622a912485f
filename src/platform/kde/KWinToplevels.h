#pragma once

#include "platform/core/ToplevelSource.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <memory>

struct wl_display;
struct wl_registry;
struct org_kde_plasma_window_management;
struct org_kde_plasma_window;

// The windows KWin announces through org_kde_plasma_window_management, over a Wayland
// connection of its own; XWayland's windows come through it too. KWin names each window's
// process (a Wayland client's from its socket credentials); a window is asked to close through
// KWin, and nothing is ever forced. A window is reported once KWin has sent its initial state,
// and again whenever a fact changes (the resource name, KWin's WM_CLASS instance or executable
// name, may come later).
class KWinToplevels final : public ToplevelSource {
public:
    enum class Offer {
        Offered,  // the compositor offers its window list to this process
        Withheld, // it is KWin, and it does not trust this executable
        Absent,   // no compositor answers, or it is not KWin
    };
    // What the compositor at `name` offers; a bare connection, opened and closed.
    static Offer probe(const QByteArray& name);
    // Why KWin withholds its window list, with the desktop entry lines that would make it
    // trust the running executable.
    static QString withheldMessage();
    // Nothing, with `error` set to one line for the user, when no compositor answers at
    // `name` or it does not offer the window list.
    static std::unique_ptr<KWinToplevels> open(const QByteArray& name, QString* error);
    ~KWinToplevels() override;

    int fileDescriptor() const override;
    void update(ToplevelSink& sink, bool readSocket) override;
    bool isBroken() const override { return m_broken; }
    bool requestClose(const QList<ToplevelId>& toplevels) override;

    // ---- for the protocol's listeners
    struct Window;
    void announce(const char* uuid, uint32_t id);
    void changed(Window& window);
    void unmapped(Window& window);

private:
    KWinToplevels() = default;
    void markBroken();
    void releaseProxies();
    bool flush();

    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
    org_kde_plasma_window_management* m_manager = nullptr;
    uint32_t m_version = 0;
    bool m_broken = false;
    QHash<ToplevelId, Window*> m_windows;
    ToplevelId m_nextId = 1;
    QSet<ToplevelId> m_changed;
    QList<ToplevelId> m_closed;
};
