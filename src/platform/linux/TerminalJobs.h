#pragma once

#include <QList>

// Whether closing a terminal would end work running in it. Terminals such as xterm close at
// once when asked, and the job on their pseudo-terminal dies with them.
namespace TerminalJobs {

// True when a process runs on a pseudo-terminal of one of `pids` (the processes of a
// terminal emulator) other than an idle interactive shell: the process there is no shell
// (per /etc/shells), or the terminal's foreground process group is not the shell's, or the
// shell has children. Reads /proc only; cheap enough for each due application at a sweep.
bool hasRunningJob(const QList<qint64>& pids);

} // namespace TerminalJobs
