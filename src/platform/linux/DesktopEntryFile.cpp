#include "DesktopEntryFile.h"

#include "SafeFile.h"

#include <QStringDecoder>

namespace {

constexpr QLatin1StringView kMainGroup("Desktop Entry");

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

QByteArrayView trimmed(QByteArrayView v) {
    while (!v.isEmpty() && isSpace(v.front()))
        v = v.sliced(1);
    while (!v.isEmpty() && isSpace(v.back()))
        v.chop(1);
    return v;
}

// Key names are ASCII; a locale suffix in brackets may follow: Name[sr_RS@latin].
bool isValidKey(QByteArrayView key) {
    const qsizetype open = key.indexOf('[');
    const QByteArrayView base = open < 0 ? key : key.first(open);
    if (base.isEmpty())
        return false;
    for (char c : base) {
        if (c <= ' ' || c > '~' || c == ']')
            return false;
    }
    if (open < 0)
        return true;
    const QByteArrayView locale = key.sliced(open + 1);
    if (locale.size() < 2 || locale.back() != ']')
        return false;
    for (char c : locale.first(locale.size() - 1)) {
        if (c <= ' ' || c > '~' || c == '[' || c == ']')
            return false;
    }
    return true;
}

bool isValidGroupName(QByteArrayView name) {
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '[' || c == ']')
            return false;
    }
    return true;
}

std::optional<QString> decodeUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// Resolves \s \n \t \r \\ (and, inside lists, \;). Any other escape is kept as written.
QString unescape(QStringView raw, bool inList) {
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c != u'\\' || i + 1 == raw.size()) {
            out += c;
            continue;
        }
        const QChar next = raw[++i];
        switch (next.unicode()) {
        case 's':
            out += u' ';
            break;
        case 'n':
            out += u'\n';
            break;
        case 't':
            out += u'\t';
            break;
        case 'r':
            out += u'\r';
            break;
        case '\\':
            out += u'\\';
            break;
        case ';':
            if (inList) {
                out += u';';
                break;
            }
            [[fallthrough]];
        default:
            out += u'\\';
            out += next;
        }
    }
    return out;
}

} // namespace

std::optional<DesktopEntryFile> DesktopEntryFile::parse(const QByteArray& bytes) {
    DesktopEntryFile file;
    bool seenGroup = false;
    bool inMain = false;
    const QByteArrayView all(bytes);
    qsizetype pos = 0;
    while (pos <= all.size()) {
        qsizetype end = all.indexOf('\n', pos);
        if (end < 0)
            end = all.size();
        const QByteArrayView line = trimmed(all.sliced(pos, end - pos));
        pos = end + 1;

        if (line.isEmpty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            if (line.back() != ']')
                return std::nullopt;
            const QByteArrayView name = line.sliced(1, line.size() - 2);
            if (!isValidGroupName(name))
                return std::nullopt;
            // The entry's own group must come first; a repeated one is merged into it.
            if (!seenGroup && name != QByteArrayView(kMainGroup.data(), kMainGroup.size()))
                return std::nullopt;
            seenGroup = true;
            inMain = name == QByteArrayView(kMainGroup.data(), kMainGroup.size());
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (eq < 0 || !seenGroup)
            return std::nullopt;
        const QByteArrayView key = trimmed(line.first(eq));
        if (!isValidKey(key))
            return std::nullopt;
        if (!inMain)
            continue;
        // A value that is not UTF-8 is dropped alone, so one bad translation does not
        // hide the whole application.
        if (auto value = decodeUtf8(trimmed(line.sliced(eq + 1))))
            file.m_values.insert(QString::fromLatin1(key), *value);
        else
            file.m_values.remove(QString::fromLatin1(key));
    }
    if (!seenGroup)
        return std::nullopt;
    return file;
}

std::optional<DesktopEntryFile> DesktopEntryFile::load(const QString& path) {
    const SafeFile::Contents contents = SafeFile::read(path, maxFileSize);
    if (!contents.isRead())
        return std::nullopt;
    return parse(contents.bytes);
}

QString DesktopEntryFile::string(const QString& key) const {
    const auto it = m_values.constFind(key);
    return it == m_values.cend() ? QString() : unescape(*it, false);
}

QString DesktopEntryFile::localeString(const QString& key, const QString& locale) const {
    for (const QString& candidate : localeCandidates(locale)) {
        const QString localized = key + u'[' + candidate + u']';
        if (m_values.contains(localized))
            return string(localized);
    }
    return string(key);
}

bool DesktopEntryFile::boolean(const QString& key) const {
    return m_values.value(key) == QLatin1String("true");
}

QStringList DesktopEntryFile::list(const QString& key) const {
    const auto it = m_values.constFind(key);
    if (it == m_values.cend())
        return {};
    QStringList items;
    const QString& raw = *it;
    qsizetype start = 0;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == u'\\') {
            ++i; // the escaped character never separates
        } else if (raw[i] == u';') {
            items += unescape(QStringView(raw).sliced(start, i - start), true);
            start = i + 1;
        }
    }
    if (start < raw.size())
        items += unescape(QStringView(raw).sliced(start), true);
    return items;
}

QString DesktopEntryFile::execProgram() const {
    const QStringList args = splitExec(string(QStringLiteral("Exec")));
    if (args.isEmpty())
        return {};
    const QString& program = args.first();
    return program.sliced(program.lastIndexOf(u'/') + 1);
}

QStringList DesktopEntryFile::launchArguments(const QString& path) const {
    QStringList out;
    for (const QString& arg : splitExec(string(QStringLiteral("Exec")))) {
        // A code standing alone may become several arguments or none.
        if (arg == u"%i") {
            if (const QString icon = string(QStringLiteral("Icon")); !icon.isEmpty())
                out << QStringLiteral("--icon") << icon;
            continue;
        }
        if (arg.size() == 2 && arg[0] == u'%' && QStringLiteral("fFuUdDnNvm").contains(arg[1]))
            continue;
        QString expanded;
        for (qsizetype i = 0; i < arg.size(); ++i) {
            if (arg[i] != u'%' || i + 1 == arg.size()) {
                expanded += arg[i];
                continue;
            }
            switch (arg[++i].unicode()) {
            case u'%':
                expanded += u'%';
                break;
            case u'c':
                expanded += localeString(QStringLiteral("Name"), messagesLocale());
                break;
            case u'k':
                expanded += path;
                break;
            default: // a file, a URL, an icon or a deprecated code: nothing to give
                break;
            }
        }
        out << expanded;
    }
    return out;
}

QString DesktopEntryFile::messagesLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        QString value = qEnvironmentVariable(name);
        if (value.isEmpty())
            continue;
        // "C" and "POSIX" (with any encoding) mean untranslated.
        if (localeCandidates(value).isEmpty())
            return {};
        return value;
    }
    return {};
}

QStringList DesktopEntryFile::localeCandidates(const QString& locale) {
    // lang_COUNTRY.ENCODING@MODIFIER; the encoding never takes part in matching.
    QString rest = locale;
    QString modifier;
    if (const qsizetype at = rest.indexOf(u'@'); at >= 0) {
        modifier = rest.sliced(at + 1);
        rest.truncate(at);
    }
    if (const qsizetype dot = rest.indexOf(u'.'); dot >= 0)
        rest.truncate(dot);
    QString lang = rest;
    QString country;
    if (const qsizetype us = rest.indexOf(u'_'); us >= 0) {
        lang = rest.first(us);
        country = rest.sliced(us + 1);
    }
    if (lang.isEmpty() || lang == u"C" || lang == u"POSIX")
        return {};

    QStringList candidates;
    if (!country.isEmpty() && !modifier.isEmpty())
        candidates += lang + u'_' + country + u'@' + modifier;
    if (!country.isEmpty())
        candidates += lang + u'_' + country;
    if (!modifier.isEmpty())
        candidates += lang + u'@' + modifier;
    candidates += lang;
    return candidates;
}

QStringList DesktopEntryFile::splitExec(const QString& exec) {
    QStringList args;
    QString current;
    bool inArg = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == u'"') {
                quoted = false;
            } else if (c == u'\\' && i + 1 < exec.size()) {
                current += exec[++i];
            } else {
                current += c;
            }
        } else if (c == u' ' || c == u'\t' || c == u'\n') {
            if (inArg)
                args += std::exchange(current, QString());
            inArg = false;
        } else if (c == u'"') {
            quoted = true;
            inArg = true;
        } else if (c == u'\\' && i + 1 < exec.size()) {
            current += exec[++i];
            inArg = true;
        } else {
            current += c;
            inArg = true;
        }
    }
    if (inArg)
        args += current;
    return args;
}
