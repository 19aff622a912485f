#include "TerminalJobs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <optional>

namespace {

// The fields of /proc/PID/stat this needs.
struct ProcStat {
    qint64 pgrp = 0;
    qint64 ttyNr = 0;
    qint64 tpgid = 0; // the foreground process group of its terminal
};

QByteArray readProc(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::optional<ProcStat> readStat(qint64 pid) {
    const QByteArray text = readProc(QStringLiteral("/proc/%1/stat").arg(pid));
    // "pid (comm) state ppid pgrp session tty_nr tpgid ...": comm may hold anything, but
    // nothing after its last ')' does.
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = text.sliced(close + 1).simplified().split(' ');
    if (fields.size() < 6)
        return std::nullopt;
    return ProcStat{fields[2].toLongLong(), fields[4].toLongLong(), fields[5].toLongLong()};
}

// Children started by any thread of the process.
QList<qint64> childrenOf(qint64 pid) {
    QList<qint64> children;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray list = readProc(tasks + '/' + task + QStringLiteral("/children"));
        for (const QByteArray& child : list.simplified().split(' '))
            if (!child.isEmpty())
                children.append(child.toLongLong());
    }
    return children;
}

// Unix 98 pseudo-terminals (/dev/pts/N) have majors 136 to 143.
bool isPseudoTerminal(qint64 ttyNr) {
    const qint64 major = (ttyNr >> 8) & 0xfff;
    return major >= 136 && major <= 143;
}

QSet<QString> loginShells() {
    QSet<QString> shells;
    for (const QByteArray& raw : readProc(QStringLiteral("/etc/shells")).split('\n')) {
        const QString line = QString::fromLocal8Bit(raw.trimmed());
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        shells.insert(line);
        // /bin/bash is /usr/bin/bash where /bin is a link.
        if (const QString real = QFileInfo(line).canonicalFilePath(); !real.isEmpty())
            shells.insert(real);
    }
    return shells;
}

} // namespace

namespace TerminalJobs {

bool hasRunningJob(const QList<qint64>& pids) {
    std::optional<QSet<QString>> shells;
    for (qint64 pid : pids) {
        const std::optional<ProcStat> terminal = readStat(pid);
        if (!terminal)
            continue;
        for (qint64 child : childrenOf(pid)) {
            const std::optional<ProcStat> process = readStat(child);
            // Only what runs on a terminal of its own: a browser started from a shell shares
            // that shell's terminal with its helpers.
            if (!process || process->ttyNr == terminal->ttyNr || !isPseudoTerminal(process->ttyNr))
                continue;
            if (!shells)
                shells = loginShells();
            // An unreadable executable (another user's) is no shell we know.
            const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(child));
            if (!shells->contains(exe))
                return true;
            if (process->tpgid != process->pgrp || !childrenOf(child).isEmpty())
                return true;
        }
    }
    return false;
}

} // namespace TerminalJobs
