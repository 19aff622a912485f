#include "LaunchAtLogin.h"

#include "platform/linux/SafeFile.h"
#include "preferences/AppIdentity.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>
#include <optional>

Q_LOGGING_CATEGORY(lcLaunchAtLogin, "com.Idlewatch.Idlewatch.main", QtInfoMsg)

namespace LaunchAtLogin {

namespace {

struct Failure {
    QString reason;
};

// What a session manager reads from the entry; nothing when it does not parse.
struct EntryFlags {
    bool hidden = false;
    bool autostartDisabled = false;
};

bool isTrue(const QString& value) {
    return value == QLatin1String("true") || value == QLatin1String("1");
}
bool isFalse(const QString& value) {
    return value == QLatin1String("false") || value == QLatin1String("0");
}

// A desktop entry parses when it is UTF-8, starts (after comments) with the
// [Desktop Entry] group and every other line is a comment, a group header or Key=Value.
// Session managers skip entries that fail this, so such a file does not start us.
// What is no regular file of sane size is never waited on nor read.
std::optional<EntryFlags> readEntry(const QString& path) {
    const SafeFile::Contents contents = SafeFile::read(path);
    if (!contents.isRead())
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(contents.bytes);
    if (decoder.hasError())
        return std::nullopt;

    static const QRegularExpression keyPattern(
        QStringLiteral("^[A-Za-z0-9-]+(\\[[A-Za-z0-9_@.-]+\\])?$"));
    EntryFlags flags;
    QString group;
    bool sawMainGroup = false;
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;
        if (trimmed.startsWith(QLatin1Char('['))) {
            if (!trimmed.endsWith(QLatin1Char(']')))
                return std::nullopt;
            group = trimmed.mid(1, trimmed.size() - 2);
            if (!sawMainGroup && group != QLatin1String("Desktop Entry"))
                return std::nullopt;
            sawMainGroup = true;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!sawMainGroup || eq < 0)
            return std::nullopt;
        const QString key = line.left(eq).trimmed();
        if (!keyPattern.match(key).hasMatch())
            return std::nullopt;
        if (group != QLatin1String("Desktop Entry"))
            continue;
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("Hidden"))
            flags.hidden = isTrue(value);
        else if (key == QLatin1String("X-GNOME-Autostart-enabled"))
            flags.autostartDisabled = isFalse(value);
    }
    if (!sawMainGroup)
        return std::nullopt;
    return flags;
}

// The string-value escapes of a desktop entry.
QString escapeValue(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::optional<Failure> removeEntry() {
    const QString path = autostartFilePath();
    QFile file(path);
    if (!QFileInfo(path).isSymLink() && !file.exists())
        return std::nullopt;
    if (!file.remove())
        return Failure{file.errorString()};
    return std::nullopt;
}

std::optional<Failure> writeEntry() {
    const QString executable = QCoreApplication::applicationFilePath();
    if (executable.isEmpty())
        return Failure{QStringLiteral("the path of the running program is unknown")};
    if (executable.contains(QLatin1Char('=')))
        return Failure{QStringLiteral("the program path %1 contains '=', which a desktop "
                                      "entry cannot start")
                           .arg(executable)};

    const QString folder = autostartFolder();
    if (!QDir().mkpath(folder))
        return Failure{QStringLiteral("cannot create the folder %1").arg(folder)};

    QSaveFile file(autostartFilePath());
    if (!file.open(QIODevice::WriteOnly))
        return Failure{file.errorString()};
    file.write(autostartEntry(executable).toUtf8());
    if (!file.commit())
        return Failure{file.errorString()};
    return std::nullopt;
}

} // namespace

QString autostartFolder() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart");
}

QString autostartFilePath() {
    return autostartFolder() + QLatin1Char('/') + QLatin1String(kAppIdentifier) +
           QStringLiteral(".desktop");
}

QString quoteExecArgument(const QString& argument) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString out = argument;
    out.replace(QLatin1Char('%'), QLatin1String("%%"));
    const bool needsQuotes =
        argument.isEmpty() ||
        std::any_of(argument.begin(), argument.end(), [](QChar c) { return reserved.contains(c); });
    if (!needsQuotes)
        return out;
    QString quoted;
    quoted.reserve(out.size() + 2);
    quoted += QLatin1Char('"');
    for (const QChar c : out) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

QString autostartEntry(const QString& executablePath) {
    const QString exec = quoteExecArgument(executablePath) + QLatin1Char(' ') +
                         QLatin1String(kLaunchedAtLoginArgument);
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=%1\n"
                          "Comment=Quits the applications you have stopped using\n"
                          "Exec=%2\n"
                          "Icon=%3\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(QLatin1String(kAppDisplayName), escapeValue(exec), QLatin1String(kAppIdentifier));
}

bool isEnabled() {
    const std::optional<EntryFlags> flags = readEntry(autostartFilePath());
    return flags && !flags->hidden && !flags->autostartDisabled;
}

void setEnabled(bool enabled) {
    std::optional<Failure> failure;
    if (enabled) {
        // Registering again replaces an entry written by an older install location.
        if (isEnabled())
            (void)removeEntry();
        failure = writeEntry();
    } else {
        failure = removeEntry();
    }
    if (failure)
        qCCritical(lcLaunchAtLogin, "Failed to %s launch at login: %s",
                   enabled ? "enable" : "disable", qUtf8Printable(failure->reason));
}

bool wasLaunchedAtLogin(const QStringList& arguments) {
    // The first argument is the program itself.
    return arguments.indexOf(QLatin1String(kLaunchedAtLoginArgument), 1) >= 1;
}

bool wasLaunchedAtLogin() {
    return QCoreApplication::instance() && wasLaunchedAtLogin(QCoreApplication::arguments());
}

void Observable::setEnabled(bool enabled) {
    LaunchAtLogin::setEnabled(enabled);
    emit changed();
}

} // namespace LaunchAtLogin
