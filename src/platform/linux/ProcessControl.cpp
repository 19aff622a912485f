#include "ProcessControl.h"
#include "UniqueFd.h"

#include <QFile>

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <unistd.h>

namespace ProcessControl {

QByteArray readProcFile(pid_t pid, const char* name) {
    if (pid <= 0)
        return {};
    const QByteArray path = "/proc/" + QByteArray::number(pid) + '/' + name;
    const UniqueFd file(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    if (file.fd < 0)
        return {};
    // /proc files report no size: read until the end, with a bound.
    QByteArray bytes;
    char buffer[4096];
    while (bytes.size() < 64 * 1024) {
        const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(buffer, n);
    }
    return bytes;
}

std::optional<quint64> parseStartTime(const QByteArray& stat) {
    // "pid (comm) state ...": comm may hold spaces and parentheses, but nothing after it
    // does, so the fields start after the last ')'.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.sliced(close + 1).simplified().split(' ');
    // fields[0] is field 3 (state), so field 22 is fields[19].
    constexpr int kStartTimeIndex = 22 - 3;
    if (fields.size() <= kStartTimeIndex)
        return std::nullopt;
    const QByteArray& text = fields[kStartTimeIndex];
    quint64 value = 0;
    const auto [end, ec] = std::from_chars(text.constBegin(), text.constEnd(), value);
    if (ec != std::errc() || end != text.constEnd())
        return std::nullopt;
    return value;
}

std::optional<quint64> startTime(pid_t pid) {
    return parseStartTime(readProcFile(pid, "stat"));
}

std::optional<pid_t> parentPid(pid_t pid) {
    const QByteArray stat = readProcFile(pid, "stat");
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.sliced(close + 1).simplified().split(' ');
    bool ok = false;
    const pid_t parent = pid_t(fields.value(1).toLongLong(&ok));
    return ok ? std::optional(parent) : std::nullopt;
}

QString executablePath(pid_t pid) {
    if (pid <= 0)
        return {};
    const QByteArray link = "/proc/" + QByteArray::number(pid) + "/exe";
    char buffer[4096];
    const ssize_t n = ::readlink(link.constData(), buffer, sizeof buffer);
    if (n <= 0 || n == sizeof buffer)
        return {};
    QByteArray target(buffer, n);
    // An executable replaced by an upgrade while running still names the program.
    if (target.endsWith(" (deleted)"))
        target.chop(10);
    return QFile::decodeName(target);
}

QStringList commandLine(pid_t pid) {
    QStringList out;
    for (const QByteArray& arg : readProcFile(pid, "cmdline").split('\0'))
        out += QFile::decodeName(arg);
    // The list ends with a NUL, which leaves an empty last part.
    if (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
}

QString commandName(pid_t pid) {
    QByteArray comm = readProcFile(pid, "comm");
    if (comm.endsWith('\n'))
        comm.chop(1);
    return QString::fromUtf8(comm);
}

} // namespace ProcessControl
