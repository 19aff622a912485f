#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <sys/types.h>

// Process identity on Linux. A process is named by its PID and its start
// time (field 22 of /proc/PID/stat), so a PID reused by another process is never taken
// for the old one.
namespace ProcessControl {

std::optional<quint64> startTime(pid_t pid);
// Field 22 of the text of /proc/PID/stat; nothing when the text is not such a line.
std::optional<quint64> parseStartTime(const QByteArray& stat);
// Field 4 of /proc/PID/stat; nothing when unreadable.
std::optional<pid_t> parentPid(pid_t pid);
// The target of /proc/PID/exe; empty when unreadable.
QString executablePath(pid_t pid);
// The arguments in /proc/PID/cmdline; empty when unreadable.
QStringList commandLine(pid_t pid);
// A file below /proc/PID (at most 64 KiB of it); empty when unreadable.
QByteArray readProcFile(pid_t pid, const char* name);
// /proc/PID/comm; empty when unreadable.
QString commandName(pid_t pid);

} // namespace ProcessControl
