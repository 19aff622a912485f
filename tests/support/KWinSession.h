#pragma once

#include "Session.h"

// A private headless KWin (Plasma's compositor) for tests, with its own XDG_RUNTIME_DIR,
// HOME, XDG folders and session bus. It runs a plain copy of kwin_wayland: the installed one
// carries a file capability that a container may not grant. Its clients run as this user.
class KWinSession : public Session {
public:
    // Starts the bus and KWin on a virtual output and waits for its socket. Unless
    // `checkPermissions`, KWin offers its restricted protocols to every client. False with
    // errorString() on failure; `unavailable` tells a machine where KWin cannot run at all.
    bool start(bool checkPermissions, bool* unavailable = nullptr);
};
