#pragma once

#include <functional>

class QWindow;

// This program's own Qt windows, as the X11 workspace sees them.
namespace OwnWindows {

// Calls `act` with the window once a window manager can act on it: at once when it is
// exposed, else at its first exposure. Nothing happens if the window goes first.
void whenExposed(QWindow* window, std::function<void(QWindow*)> act);

} // namespace OwnWindows
