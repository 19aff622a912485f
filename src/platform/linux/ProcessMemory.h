#pragma once

#include <QList>
#include <QtGlobal>

#include <optional>

// What processes hold in memory, from /proc.
namespace ProcessMemory {

// The proportional set size (a shared page counted by share) of these processes and all
// their descendants together, in bytes: an application's helpers (a browser's content
// processes, a terminal's jobs) are its memory too. Nothing when none can be read.
std::optional<qint64> pssBytes(const QList<qint64>& processIds);
// The "Pss:" line of a /proc/PID/smaps_rollup text, in bytes.
std::optional<qint64> parsePss(const QByteArray& smapsRollup);

} // namespace ProcessMemory
