#include "ProcessMemory.h"

#include "ProcessControl.h"

#include <QDir>
#include <QSet>

namespace ProcessMemory {

namespace {

// Children started by any thread of the process.
QList<qint64> childrenOf(qint64 pid) {
    QList<qint64> children;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray list = ProcessControl::readProcFile(
            pid_t(pid), qPrintable(QStringLiteral("task/%1/children").arg(task)));
        for (const QByteArray& child : list.simplified().split(' '))
            if (!child.isEmpty())
                children.append(child.toLongLong());
    }
    return children;
}

} // namespace

std::optional<qint64> parsePss(const QByteArray& smapsRollup) {
    for (const QByteArray& line : smapsRollup.split('\n')) {
        if (!line.startsWith("Pss:"))
            continue;
        const QList<QByteArray> fields = line.simplified().split(' ');
        bool ok = false;
        const qint64 kib = fields.value(1).toLongLong(&ok);
        if (ok && fields.value(2) == "kB")
            return kib * 1024;
    }
    return std::nullopt;
}

std::optional<qint64> pssBytes(const QList<qint64>& processIds) {
    QList<qint64> pending = processIds;
    QSet<qint64> seen;
    std::optional<qint64> total;
    while (!pending.isEmpty()) {
        const qint64 pid = pending.takeLast();
        if (pid <= 0 || seen.contains(pid))
            continue;
        seen.insert(pid);
        if (const auto bytes = parsePss(ProcessControl::readProcFile(pid_t(pid), "smaps_rollup")))
            total = total.value_or(0) + *bytes;
        pending += childrenOf(pid);
    }
    return total;
}

} // namespace ProcessMemory
