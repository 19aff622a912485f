#include "DesktopEntryIndex.h"

#include "DesktopEntryFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QLoggingCategory>
#include <QSet>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

Q_LOGGING_CATEGORY(lcDesktopEntries, "com.Idlewatch.Idlewatch.DesktopEntryIndex", QtInfoMsg)

namespace {

constexpr int kRefreshDelayMs = 250;
constexpr int kMaxFolderDepth = 8;

// What the index keeps of one application entry besides what it hands out.
struct IndexedEntry {
    DesktopApplication app;
    QString startupWMClass;
    QString execProgram;
    bool noDisplay = false;
    // Whether a menu shows it: only on these desktops, never on those, only with this program.
    QStringList onlyShowIn, notShowIn;
    QString tryExec;

    friend bool operator==(const IndexedEntry& a, const IndexedEntry& b) {
        return a.app.id == b.app.id && a.app.path == b.app.path && a.app.name == b.app.name &&
               a.app.displayName == b.app.displayName && a.app.icon == b.app.icon &&
               a.app.keywords == b.app.keywords && a.startupWMClass == b.startupWMClass &&
               a.execProgram == b.execProgram && a.noDisplay == b.noDisplay &&
               a.onlyShowIn == b.onlyShowIn && a.notShowIn == b.notShowIn && a.tryExec == b.tryExec;
    }

    // By the Desktop Entry rules, on the desktops named in $XDG_CURRENT_DESKTOP.
    bool shownOn(const QStringList& desktops) const {
        const auto any = [&desktops](const QStringList& listed) {
            return std::any_of(listed.cbegin(), listed.cend(),
                               [&desktops](const QString& d) { return desktops.contains(d); });
        };
        if (noDisplay || any(notShowIn) || (!onlyShowIn.isEmpty() && !any(onlyShowIn)))
            return false;
        if (tryExec.isEmpty())
            return true;
        return QDir::isAbsolutePath(tryExec)
                   ? QFileInfo(tryExec).isExecutable() && QFileInfo(tryExec).isFile()
                   : !QStandardPaths::findExecutable(tryExec).isEmpty();
    }
};

QString absoluteEnvDir(const char* name) {
    const QString value = qEnvironmentVariable(name);
    // Relative paths in the XDG variables are invalid and ignored.
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : QString();
}

QString dataHome() {
    const QString home = absoluteEnvDir("XDG_DATA_HOME");
    return home.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share") : home;
}

QStringList dataDirs() {
    QStringList dirs;
    for (const QString& dir :
         qEnvironmentVariable("XDG_DATA_DIRS").split(u':', Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir))
            dirs += QDir::cleanPath(dir);
    }
    if (dirs.isEmpty())
        dirs = {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")};
    return dirs;
}

// Every applications/ folder, most important first.
QStringList applicationRoots() {
    QStringList roots;
    for (const QString& dir : QStringList{dataHome()} + dataDirs()) {
        const QString root = dir + QStringLiteral("/applications");
        if (!roots.contains(root))
            roots += root;
    }
    return roots;
}

std::optional<DesktopApplication> applicationFrom(const DesktopEntryFile& file, QString id,
                                                  QString path, const QString& locale) {
    if (!file.isApplication() || file.isHidden())
        return std::nullopt;
    const QString name = file.string(QStringLiteral("Name"));
    if (name.isEmpty())
        return std::nullopt;
    QStringList keywords;
    if (const QString generic = file.localeString(QStringLiteral("GenericName"), locale);
        !generic.isEmpty())
        keywords << generic;
    for (const QString& key : {QStringLiteral("Keywords"), QStringLiteral("Exec")}) {
        // Lists have no localeList(): the best suffix names the key to read.
        QString localised = key;
        for (const QString& suffix : DesktopEntryFile::localeCandidates(locale))
            if (file.contains(key + u'[' + suffix + u']')) {
                localised = key + u'[' + suffix + u']';
                break;
            }
        keywords << (key == QLatin1String("Exec") ? QStringList{file.execProgram()}
                                                  : file.list(localised));
    }
    keywords.removeAll(QString());
    return DesktopApplication{std::move(id),
                              std::move(path),
                              name,
                              file.localeString(QStringLiteral("Name"), locale),
                              file.localeString(QStringLiteral("Icon"), locale),
                              keywords};
}

// What tells whether a file changed since it was read. The inode catches a replacement
// (by rename) that keeps size and, on a coarse clock, modification time.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;

    static std::optional<FileStamp> of(const QString& path) {
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            return std::nullopt;
        return FileStamp{st.st_dev, st.st_ino, st.st_size,
                         qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                         qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
    }
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// One file as last read: whether it claims its ID, and the application entry if any.
struct ReadFile {
    FileStamp stamp;
    bool claimsId = false;
    std::optional<IndexedEntry> entry; // without its ID
};

ReadFile readFile(const QString& path, const FileStamp& stamp, const QString& locale) {
    ReadFile read{stamp, false, std::nullopt};
    const auto file = DesktopEntryFile::load(path);
    // An entry without Type or Name is malformed too; Hidden=true alone masks.
    if (!file || (!file->isHidden() &&
                  (file->type().isEmpty() || !file->contains(QStringLiteral("Name"))))) {
        qCDebug(lcDesktopEntries) << "Skipping malformed desktop entry" << path;
        return read;
    }
    read.claimsId = true;
    if (auto app = applicationFrom(*file, QString(), path, locale)) {
        read.entry = IndexedEntry{*app,
                                  file->string(QStringLiteral("StartupWMClass")),
                                  file->execProgram(),
                                  file->noDisplay(),
                                  file->list(QStringLiteral("OnlyShowIn")),
                                  file->list(QStringLiteral("NotShowIn")),
                                  file->string(QStringLiteral("TryExec"))};
    }
    return read;
}

struct Scan {
    QList<std::pair<QString, QString>> files; // ID, path
    QStringList folders;
    QSet<QString> visited; // canonical folders, against symlink loops
};

void scanFolder(const QString& folder, const QString& idPrefix, int depth, Scan& scan) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || depth > kMaxFolderDepth || scan.visited.contains(canonical))
        return;
    scan.visited.insert(canonical);
    scan.folders += folder;

    // readdir's file types spare a stat() per file, which is most of the cost of a refresh.
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return;
    QStringList files, folders;
    while (const dirent* e = ::readdir(dir)) {
        const QString name = QFile::decodeName(e->d_name);
        if (name == u"." || name == u"..")
            continue;
        unsigned char type = e->d_type;
        if (type == DT_UNKNOWN || type == DT_LNK) {
            struct stat st {};
            const QByteArray path = QFile::encodeName(folder + u'/' + name);
            type = ::stat(path.constData(), &st) != 0 ? DT_UNKNOWN
                   : S_ISDIR(st.st_mode)              ? DT_DIR
                   : S_ISREG(st.st_mode)              ? DT_REG
                                                      : DT_UNKNOWN;
        }
        if (type == DT_DIR)
            folders += name;
        else if (type == DT_REG && name.endsWith(QLatin1String(".desktop")))
            files += name;
    }
    ::closedir(dir);
    files.sort();
    folders.sort();
    // Files before sub-folders: of a-b.desktop and a/b.desktop, the shallower one wins.
    for (const QString& name : std::as_const(files))
        scan.files += {idPrefix + name.chopped(8), folder + u'/' + name};
    for (const QString& name : std::as_const(folders))
        scanFolder(folder + u'/' + name, idPrefix + name + u'-', depth + 1, scan);
}

} // namespace

struct DesktopEntryIndex::Private {
    QHash<QString, IndexedEntry> entries;
    // Lookup tables for matching, one per Key; each list is ordered by preference.
    QHash<QString, QStringList> tables[4];
    QStringList roots;
    // Files as last read, by path, so that a refresh reads only what changed.
    QHash<QString, ReadFile> files;
    QString filesLocale;
    QFileSystemWatcher watcher;
    QTimer refreshTimer;

    std::optional<DesktopApplication> first(const QHash<QString, QStringList>& table,
                                            const QString& key) const {
        if (key.isEmpty())
            return std::nullopt;
        const auto it = table.constFind(key);
        if (it == table.cend() || it->isEmpty())
            return std::nullopt;
        return entries.value(it->first()).app;
    }
};

DesktopEntryIndex::DesktopEntryIndex(QObject* parent)
    : QObject(parent)
    , d(new Private) {
    d->refreshTimer.setSingleShot(true);
    d->refreshTimer.setInterval(kRefreshDelayMs);
    connect(&d->refreshTimer, &QTimer::timeout, this, &DesktopEntryIndex::refresh);
    // Installs and removals come in bursts of file operations: read once they settle.
    connect(&d->watcher, &QFileSystemWatcher::directoryChanged, this, [this](const QString& path) {
        const bool matters = std::any_of(d->roots.cbegin(), d->roots.cend(), [&](const auto& r) {
            if (path == r || path.startsWith(r + u'/'))
                return true;
            // A folder above a missing root matters once the next folder down appears.
            if (!r.startsWith(path + u'/'))
                return false;
            return QFileInfo(path + u'/' + r.sliced(path.size() + 1).section(u'/', 0, 0)).isDir();
        });
        if (matters)
            d->refreshTimer.start();
    });
    refresh();
}

DesktopEntryIndex::~DesktopEntryIndex() {
    delete d;
}

QString DesktopEntryIndex::applicationsFolder() {
    for (const QString& dir : dataDirs()) {
        QString root = dir + QStringLiteral("/applications");
        if (QFileInfo(root).isDir())
            return root;
    }
    const QString home = dataHome() + QStringLiteral("/applications");
    return QFileInfo(home).isDir() ? home : QDir::homePath();
}

QString DesktopEntryIndex::desktopFileId(const QString& applicationsFolder,
                                         const QString& filePath) {
    const QString root = QDir::cleanPath(applicationsFolder) + u'/';
    const QString path = QDir::cleanPath(filePath);
    if (!path.startsWith(root) || !path.endsWith(QLatin1String(".desktop")))
        return {};
    return path.sliced(root.size()).chopped(8).replace(u'/', u'-');
}

void DesktopEntryIndex::refresh() {
    const QString locale = DesktopEntryFile::messagesLocale();
    const QStringList roots = applicationRoots();
    QHash<QString, IndexedEntry> entries;
    QHash<QString, ReadFile> files;
    QSet<QString> claimed;
    QStringList watched;
    if (locale != d->filesLocale)
        d->files.clear();
    for (const QString& root : roots) {
        if (!QFileInfo(root).isDir()) {
            // Watch the nearest folder above it that exists, to notice when it appears.
            QString parent = QFileInfo(root).path();
            while (!QFileInfo(parent).isDir() && parent != QDir::rootPath())
                parent = QFileInfo(parent).path();
            if (!watched.contains(parent))
                watched += parent;
            continue;
        }
        Scan scan;
        scanFolder(root, QString(), 0, scan);
        watched += scan.folders;
        for (const auto& [id, path] : std::as_const(scan.files)) {
            if (claimed.contains(id))
                continue;
            const auto stamp = FileStamp::of(path);
            if (!stamp)
                continue;
            const auto known = d->files.constFind(path);
            const ReadFile read = known != d->files.cend() && known->stamp == *stamp
                                      ? *known
                                      : readFile(path, *stamp, locale);
            files.insert(path, read);
            if (!read.claimsId)
                continue;
            claimed.insert(id);
            if (read.entry) {
                IndexedEntry entry = *read.entry;
                entry.app.id = id;
                entries.insert(id, entry);
            }
        }
    }
    d->files = std::move(files);
    d->filesLocale = locale;

    const QStringList stale = d->watcher.directories();
    QStringList toRemove;
    for (const QString& dir : stale) {
        if (!watched.contains(dir))
            toRemove += dir;
    }
    if (!toRemove.isEmpty())
        d->watcher.removePaths(toRemove);
    QStringList toAdd;
    for (const QString& dir : std::as_const(watched)) {
        if (!stale.contains(dir))
            toAdd += dir;
    }
    if (!toAdd.isEmpty())
        d->watcher.addPaths(toAdd);
    d->roots = roots;

    if (entries == d->entries)
        return;
    d->entries = std::move(entries);

    // Shown entries before NoDisplay ones, then by ID, so that a match never depends on
    // the order files were read in.
    QStringList ids = d->entries.keys();
    std::sort(ids.begin(), ids.end(), [this](const QString& a, const QString& b) {
        const bool hiddenA = d->entries[a].noDisplay, hiddenB = d->entries[b].noDisplay;
        return hiddenA != hiddenB ? hiddenB : a < b;
    });
    for (auto& table : d->tables)
        table.clear();
    const auto add = [this](Key key, const QString& value, const QString& id) {
        QStringList& matches = d->tables[int(key)][value];
        if (!value.isEmpty() && !matches.contains(id))
            matches += id;
    };
    for (const QString& id : std::as_const(ids)) {
        const IndexedEntry& e = d->entries[id];
        const QString folded = id.toCaseFolded();
        add(Key::FoldedId, folded, id);
        // Two dots at least: python3.11 is no reverse-DNS name.
        if (folded.count(u'.') >= 2)
            add(Key::ShortId, folded.sliced(folded.lastIndexOf(u'.') + 1), id);
        add(Key::StartupWMClass, e.startupWMClass, id);
        add(Key::Program, e.execProgram, id);
        add(Key::Program, e.tryExec.sliced(e.tryExec.lastIndexOf(u'/') + 1), id);
    }
    qCDebug(lcDesktopEntries) << "Indexed" << d->entries.size() << "application entries";
    emit changed();
}

QList<DesktopApplication> DesktopEntryIndex::shownApplications() const {
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts);
    QList<DesktopApplication> out;
    for (const IndexedEntry& entry : std::as_const(d->entries))
        if (entry.shownOn(desktops))
            out << entry.app;
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
    return out;
}

std::optional<DesktopApplication> DesktopEntryIndex::byId(const QString& id) const {
    const auto it = d->entries.constFind(id);
    if (it == d->entries.cend())
        return std::nullopt;
    return it->app;
}

std::optional<DesktopApplication> DesktopEntryIndex::find(Key key, const QString& value) const {
    return d->first(d->tables[int(key)], value);
}

std::optional<DesktopApplication> DesktopEntryIndex::entryAt(const QString& path) const {
    const auto file = DesktopEntryFile::load(path);
    if (!file)
        return std::nullopt;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QString id;
    for (const QString& root : std::as_const(d->roots)) {
        id = desktopFileId(root, absolute);
        if (!id.isEmpty())
            break;
    }
    if (id.isEmpty()) {
        id = QFileInfo(absolute).fileName();
        if (id.endsWith(QLatin1String(".desktop")))
            id.chop(8);
    }
    return applicationFrom(*file, id, absolute, DesktopEntryFile::messagesLocale());
}
