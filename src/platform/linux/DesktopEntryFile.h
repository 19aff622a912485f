#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// One file in the freedesktop Desktop Entry format, reduced to its [Desktop Entry] group.
// Keys of other groups (actions, vendor extensions) are read past and dropped.
class DesktopEntryFile {
public:
    // Files larger than this are not read: no real entry comes near it.
    static constexpr qint64 maxFileSize = 1024 * 1024;

    // Parses the bytes of a file. Nothing when they are not a desktop entry: the first
    // group is not [Desktop Entry], a key precedes every group, or a line is neither a
    // comment, a group header nor a key=value pair. A value that is not valid UTF-8 is
    // dropped on its own; when a key repeats, its last value counts.
    static std::optional<DesktopEntryFile> parse(const QByteArray& bytes);
    // Reads and parses a file; nothing when it is unreadable, no regular file, too large or
    // malformed.
    static std::optional<DesktopEntryFile> load(const QString& path);

    bool contains(const QString& key) const { return m_values.contains(key); }
    // A string value with its escapes (\s \n \t \r \\) resolved; empty when absent.
    QString string(const QString& key) const;
    // A localised value: the best `key[locale]` for `locale` (as in LC_MESSAGES,
    // lang_COUNTRY.ENCODING@MODIFIER), else the plain `key`.
    QString localeString(const QString& key, const QString& locale) const;
    // True only for the literal value "true".
    bool boolean(const QString& key) const;
    // A ';'-separated list; "\;" stands for a ';' inside an element.
    QStringList list(const QString& key) const;

    QString type() const { return string(QStringLiteral("Type")); }
    bool isApplication() const { return type() == QLatin1String("Application"); }
    bool isHidden() const { return boolean(QStringLiteral("Hidden")); }
    bool noDisplay() const { return boolean(QStringLiteral("NoDisplay")); }
    // Base name of the program Exec starts (its first argument, unquoted); empty when none.
    QString execProgram() const;
    // The program and arguments Exec starts with no file or URL to open: the field codes
    // for files and URLs and the deprecated ones removed, %i, %c and %k filled in from the
    // entry at `path`, "%%" made "%". Empty when there is no Exec.
    QStringList launchArguments(const QString& path) const;

    // The locale that chooses translations: the first non-empty of LC_ALL, LC_MESSAGES and
    // LANG; empty for "C" and "POSIX".
    static QString messagesLocale();
    // The `key[...]` suffixes to try for `locale`, best first: lang_COUNTRY@MODIFIER,
    // lang_COUNTRY, lang@MODIFIER, lang.
    static QStringList localeCandidates(const QString& locale);
    // The arguments of an Exec value (after string unescaping) by its quoting rules.
    static QStringList splitExec(const QString& exec);

private:
    QHash<QString, QString> m_values; // raw values, escapes still in place
};
