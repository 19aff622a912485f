#pragma once

#include <QString>

// Starts the application of a desktop entry as the desktop's menu would with nothing to open:
// detached, in Idlewatch's own environment (the user's session), never through a shell, in
// the entry's Path or the home folder. False when the entry is not a readable application
// entry with an Exec, or its program cannot be started.
bool launchDesktopEntry(const QString& path);

// Whether launchDesktopEntry has something to start for the entry at `path`.
bool canLaunchDesktopEntry(const QString& path);
