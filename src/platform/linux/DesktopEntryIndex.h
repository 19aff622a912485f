#pragma once

#include <QObject>
#include <QString>

#include <optional>

// The facts of one application .desktop entry that Idlewatch shows and matches by.
struct DesktopApplication {
    QString id;          // desktop-file ID: relative path, '/' joined by '-', no ".desktop"
    QString path;        // absolute path of the .desktop file
    QString name;        // Name
    QString displayName; // Name[locale] by the Desktop Entry locale rules, else Name
    QString icon;        // Icon (theme name or absolute path), may be empty
    // GenericName and Keywords (localised) and the Exec program: what a search may match.
    QStringList keywords;
};

// Index of the application entries under $XDG_DATA_HOME/applications and
// $XDG_DATA_DIRS/*/applications (earlier folders win for the same ID), refreshed when
// those folders change. Malformed files are skipped.
class DesktopEntryIndex : public QObject {
    Q_OBJECT
public:
    explicit DesktopEntryIndex(QObject* parent = nullptr);
    ~DesktopEntryIndex() override;

    // What an entry can be looked up by. Where several entries qualify, shown ones come
    // before NoDisplay ones, then the lowest ID.
    enum class Key {
        FoldedId,       // the ID, compared in any case
        ShortId,        // the last part of a reverse-DNS ID (org.gnome.gedit: gedit), any case
        StartupWMClass, // StartupWMClass, exactly
        Program,        // the file name of Exec's program or of TryExec
    };
    // `value` for FoldedId and ShortId must be case-folded already.
    std::optional<DesktopApplication> find(Key key, const QString& value) const;
    std::optional<DesktopApplication> byId(const QString& id) const;
    // Reads the entry at any path, indexed or not; nothing when it is not a readable
    // application entry.
    std::optional<DesktopApplication> entryAt(const QString& path) const;
    // Every indexed entry a menu of this desktop would show, by ID: not NoDisplay or
    // Hidden, OnlyShowIn and NotShowIn read against $XDG_CURRENT_DESKTOP, and its TryExec
    // program installed.
    QList<DesktopApplication> shownApplications() const;

    // The first existing applications/ folder of the XDG data dirs (normally
    // /usr/share/applications): where the application chooser starts.
    static QString applicationsFolder();

    // The desktop-file ID of a file below an applications/ folder: its relative path
    // without ".desktop", sub-folders joined by '-' (foo/bar.desktop is foo-bar). Empty
    // when the file is not below the folder.
    static QString desktopFileId(const QString& applicationsFolder, const QString& filePath);

    // Re-reads every folder now; changed() follows when an entry differs.
    void refresh();

signals:
    void changed();

private:
    struct Private;
    Private* d;
};
