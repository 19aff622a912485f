#pragma once

#include <QList>

namespace TerminalJobs {
// True when a job runs on one of these processes' pseudo-terminals.
bool hasRunningJob(const QList<qint64>& pids);
} // namespace TerminalJobs
