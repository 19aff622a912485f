#include "ApplicationIdentity.h"

#include "ProcessControl.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace ApplicationIdentity {

namespace {

QString baseName(const QString& path) {
    return path.sliced(path.lastIndexOf(u'/') + 1);
}

// The last part of a reverse-DNS name (org.gnome.gedit: gedit); empty for any other name.
QString shortName(const QString& folded) {
    return folded.count(u'.') >= 2 ? folded.sliced(folded.lastIndexOf(u'.') + 1) : QString();
}

// The programs a process runs as a desktop entry names them: its first argument and its
// executable, and for an interpreter the script it runs.
QStringList programs(const Facts& facts) {
    QStringList out;
    const QString first = facts.commandLine.isEmpty() ? QString() : baseName(facts.commandLine[0]);
    static const QRegularExpression interpreter(
        QStringLiteral("^(python[0-9.]*|perl|ruby|node|gjs|sh|bash|dash)$"));
    if (interpreter.match(first).hasMatch()) {
        for (const QString& arg : facts.commandLine.sliced(1))
            if (!arg.startsWith(u'-')) {
                out += baseName(arg);
                break;
            }
    }
    for (const QString& program : {first, baseName(facts.executable)})
        if (!program.isEmpty() && !out.contains(program))
            out += program;
    return out;
}

} // namespace

void readProcess(qint64 pid, Facts& facts) {
    if (pid <= 0)
        return;
    const auto p = pid_t(pid);
    facts.executable = ProcessControl::executablePath(p);
    facts.commandLine = ProcessControl::commandLine(p);
    facts.flatpakId = flatpakIdFromInfo(ProcessControl::readProcFile(p, "root/.flatpak-info"));
    facts.snapName = snapFromCgroup(ProcessControl::readProcFile(p, "cgroup"));
}

QString flatpakIdFromInfo(const QByteArray& info) {
    bool inApplication = false;
    for (const QByteArray& raw : info.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('['))
            inApplication = line == "[Application]";
        else if (inApplication && line.startsWith("name="))
            return QString::fromUtf8(line.sliced(5));
    }
    return {};
}

QString snapFromCgroup(const QByteArray& cgroup) {
    // .../snap.firefox.firefox-1234.scope or .../snap.firefox.firefox.service
    static const QRegularExpression unit(
        QStringLiteral(R"(/snap\.([a-z0-9-]+)\.([A-Za-z0-9-]+?)(-[0-9a-f-]+)?\.(scope|service))"));
    const QRegularExpressionMatch m = unit.match(QString::fromUtf8(cgroup));
    return m.hasMatch() ? m.captured(1) + u'_' + m.captured(2) : QString();
}

std::optional<DesktopApplication> findEntry(const DesktopEntryIndex& index, const Facts& facts) {
    using Key = DesktopEntryIndex::Key;
    if (!facts.desktopEntry.isEmpty()) {
        // Usually the bare ID; some toolkits give the file name or a full path.
        QString id = baseName(facts.desktopEntry);
        if (id.endsWith(QLatin1String(".desktop")))
            id.chop(8);
        if (auto entry = index.find(Key::FoldedId, id.toCaseFolded()))
            return entry;
    }
    QStringList names;
    for (const QString& name :
         {facts.flatpakId, facts.snapName, facts.appId, facts.wmClass, facts.wmInstance})
        if (!name.isEmpty())
            names += name.toCaseFolded();
    for (const QString& name : std::as_const(names))
        if (auto entry = index.find(Key::FoldedId, name))
            return entry;
    for (const QString& name : std::as_const(names)) {
        // gedit finds org.gnome.gedit, and org.gnome.Gedit finds gedit.
        if (auto entry = index.find(Key::ShortId, name))
            return entry;
        if (auto entry = index.find(Key::FoldedId, shortName(name)))
            return entry;
    }
    for (const QString& name : {facts.wmClass, facts.wmInstance, facts.appId})
        if (auto entry = index.find(Key::StartupWMClass, name))
            return entry;
    for (const QString& program : programs(facts))
        if (auto entry = index.find(Key::Program, program))
            return entry;
    return std::nullopt;
}

Identity resolve(const DesktopEntryIndex& index, const Facts& facts) {
    Identity identity;
    identity.executable = facts.executable;
    identity.entry = findEntry(index, facts);
    if (identity.entry) {
        identity.id = identity.entry->id;
        identity.name = identity.entry->displayName;
        return identity;
    }
    for (const QString& name : {facts.flatpakId, facts.appId, facts.wmClass})
        if (identity.id.isEmpty())
            identity.id = identity.name = name;
    if (identity.id.isEmpty())
        identity.id = facts.executable;
    return identity;
}

} // namespace ApplicationIdentity
