#include "TerminalJobs.h"

// Placeholder until the terminal-job reader lands: no job is ever seen.
bool TerminalJobs::hasRunningJob(const QList<qint64>& pids) {
    Q_UNUSED(pids)
    return false;
}
