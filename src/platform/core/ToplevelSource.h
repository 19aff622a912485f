#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// What a backend supplies: a source of toplevel windows. The core (ToplevelWorkspace) keeps
// the cache, groups toplevels into applications, names them, finds questions and applies
// the request rules; a source only reports what its desktop says and carries out requests.

// Names one toplevel while it lives. A source never reuses a live id; after
// toplevelClosed it may.
using ToplevelId = quint64;

// How a toplevel's process is known.
enum class PidSource {
    None,    // the desktop does not say
    Matched, // found by looking alike in another list (sway's tree): read, never grouped by
    Claimed, // the client's own word (_NET_WM_PID): groups its windows, names no local process
    Proven,  // the server's or compositor's peer credentials: names the local process
};

enum class ToplevelKind {
    Normal,
    Dialog,      // asks its user something: never sent a close request
    Utility,     // a palette, toolbar or splash: the application is auxiliary with only these
    DesktopPart, // a dock or the desktop itself: never an application to quit
};

// Everything one toplevel says, as of the source's last update.
struct Toplevel {
    ToplevelId id = 0;
    // For naming the application (ApplicationIdentity).
    QString appId;        // Wayland app id, _GTK_APPLICATION_ID
    QString desktopEntry; // an entry the desktop named itself
    QString wmClass;
    QString wmInstance;
    QString title;
    // Its process and connection, where the desktop tells.
    qint64 pid = 0;
    PidSource pidSource = PidSource::None;
    QByteArray host;    // the machine a claimed PID is on
    quint64 client = 0; // the connection that made it; 0 when unknown
    // Its role.
    ToplevelKind kind = ToplevelKind::Normal;
    bool hasParent = false; // transient for (a child of) another window
    bool modal = false;
    bool skipTaskbar = false;
    // Its state.
    bool active = false;
    bool minimized = false;
    bool fullscreen = false;
    bool shown = true;     // mapped at least once, or minimised: its application has started
    bool closeable = true; // a close request reaches it as a click on its close button would

    friend bool operator==(const Toplevel&, const Toplevel&) = default;
};

// Where a source reports, during update().
class ToplevelSink {
public:
    // A toplevel first seen, or any of its facts changed.
    virtual void toplevelChanged(const Toplevel& toplevel) = 0;
    virtual void toplevelClosed(ToplevelId id) = 0;

protected:
    ~ToplevelSink() = default;
};

class ToplevelSource {
public:
    virtual ~ToplevelSource() = default;

    // Readable when the desktop has something to say; the core then calls update().
    virtual int fileDescriptor() const = 0;
    // Reports every toplevel that appeared, changed or closed since the last call (the
    // first call reports them all); reads the socket first when `readSocket`. At most one
    // toplevel is active at a time. A lost connection reports every toplevel closed.
    virtual void update(ToplevelSink& sink, bool readSocket) = 0;
    virtual bool isBroken() const = 0;

    // Close requests, exactly as a click on each close button; true once sent.
    virtual bool requestClose(const QList<ToplevelId>& toplevels) = 0;
    // Whether the desktop can end a client that cannot be asked, and doing so: ends the
    // clients that own these toplevels, and nothing else. True once sent.
    virtual bool canForceClose() const { return false; }
    virtual bool forceClose(const QList<ToplevelId>& toplevels) {
        Q_UNUSED(toplevels)
        return false;
    }
    // When the process with this proven PID started (its identity with the PID); nothing
    // once it ended.
    virtual std::optional<quint64> processStartTime(qint64 pid) const;
};
