// Desktop entry files and the index of the installed applications.

#include "platform/linux/DesktopEntryFile.h"
#include "platform/linux/DesktopEntryIndex.h"
#include "platform/linux/SafeFile.h"
#include "support/Files.h"
#include "support/Promptly.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

// XDG data folders in a temporary directory: home, then sys1 and sys2 in that order.
struct DataDirs {
    QTemporaryDir tmp;
    DataDirs() {
        qputenv("XDG_DATA_HOME", path("home").toUtf8());
        qputenv("XDG_DATA_DIRS", (path("sys1") + ':' + path("sys2") + ":relative").toUtf8());
        qputenv("LC_ALL", "");
        qputenv("LC_MESSAGES", "");
        qputenv("LANG", "de_DE.UTF-8");
    }
    QString path(const QString& dir) const { return tmp.filePath(dir); }
    // Writes <dir>/applications/<rel> and returns its path.
    QString write(const QString& dir, const QString& rel, const QByteArray& body) const {
        const QString file = path(dir) + "/applications/" + rel;
        return writeFile(file, body) ? file : QString();
    }
    QString app(const QString& dir, const QString& rel, const QByteArray& name,
                const QByteArray& extra = {}) const {
        return write(dir, rel, "[Desktop Entry]\nType=Application\nName=" + name + "\n" + extra);
    }
};

} // namespace

class TestDesktopEntry : public QObject {
    Q_OBJECT
private slots:
    void indexPrecedenceAndMasking() {
        DataDirs dirs;
        const QString nested = dirs.app("sys2", "vendor/sub/tool.desktop", "Nested");
        dirs.app("sys2", "both.desktop", "from sys2");
        dirs.app("sys1", "both.desktop", "from sys1");
        dirs.write("home", "both.desktop", "[Desktop Entry]\nName=no type\n"); // masks nothing
        dirs.app("sys1", "masked.desktop", "masked");
        dirs.write("home", "masked.desktop", "[Desktop Entry]\nHidden=true\n");
        dirs.app("sys1", "kept.desktop", "kept");
        dirs.write("home", "kept.desktop", "garbage without a group\n"); // skipped, masks nothing
        dirs.app("sys2", "shadowed.desktop", "app");
        dirs.write("sys1", "shadowed.desktop", "[Desktop Entry]\nType=Link\nName=l\nURL=x\n");
        dirs.write("sys1", "nameless.desktop", "[Desktop Entry]\nType=Application\n");
        dirs.app("sys1", "quiet.desktop", "Quiet", "NoDisplay=true\nName[de]=Leise\nIcon=q\n");
        const QString outside = dirs.app("elsewhere", "c.d.desktop", "C");
        dirs.app("sys1", "kde-only.desktop", "K", "OnlyShowIn=KDE;\n");
        dirs.app("sys1", "not-xfce.desktop", "X", "NotShowIn=XFCE;\n");
        dirs.app("sys1", "gone.desktop", "G", "TryExec=/nonexistent/prog\n");
        dirs.app(
            "sys1", "shell.desktop", "Sh",
            "TryExec=sh\nExec=sh -l\nGenericName=Shell\nKeywords[de]=Konsole;\nOnlyShowIn=XFCE;\n");
        qputenv("XDG_CURRENT_DESKTOP", "GNOME:XFCE");

        DesktopEntryIndex index;
        QCOMPARE(index.byId("both").value().name, QStringLiteral("from sys1"));
        QVERIFY(!index.byId("masked"));
        QCOMPARE(index.byId("kept").value().name, QStringLiteral("kept"));
        QVERIFY(!index.byId("shadowed") && !index.byId("nameless"));
        const auto quiet = index.byId("quiet");
        QVERIFY(quiet && quiet->displayName == "Leise" && quiet->name == "Quiet" &&
                quiet->icon == "q");
        QCOMPARE(quiet->path, dirs.path("sys1") + "/applications/quiet.desktop");
        // Any path names its entry, by the ID its data folder gives it.
        QCOMPARE(index.entryAt(nested).value().id, QStringLiteral("vendor-sub-tool"));
        QCOMPARE(index.entryAt(outside).value().id, QStringLiteral("c.d"));
        QVERIFY(!index.entryAt(dirs.path("home") + "/applications/masked.desktop"));
        // A menu of this desktop: no entry of another desktop, none it opts out of, none whose
        // program is missing.
        QStringList shown;
        for (const DesktopApplication& app : index.shownApplications())
            shown << app.id;
        QCOMPARE(shown, QStringList({"both", "kept", "shell", "vendor-sub-tool"}));
        QCOMPARE(index.byId("shell")->keywords, QStringList({"Shell", "Konsole", "sh"}));
    }

    void noticesChanges() {
        DataDirs dirs;
        dirs.app("sys1", "old.desktop", "Old");
        DesktopEntryIndex index; // no home folder at all yet

        dirs.app("sys1", "new.desktop", "New");
        QTRY_VERIFY(index.byId("new"));
        dirs.app("sys1", "later/sub.desktop", "Sub"); // a new sub-folder
        QTRY_VERIFY(index.byId("later-sub"));
        // Replaced at once with the same size: still read again.
        QSaveFile replaced(dirs.path("sys1") + "/applications/old.desktop");
        QVERIFY(replaced.open(QIODevice::WriteOnly));
        replaced.write("[Desktop Entry]\nType=Application\nName=Neu\n");
        QVERIFY(replaced.commit());
        QTRY_COMPARE(index.byId("old").value().name, QStringLiteral("Neu"));
        dirs.write("home", "old.desktop", "[Desktop Entry]\nHidden=true\n"); // folders made now
        QTRY_VERIFY(!index.byId("old"));
        QFile::remove(dirs.path("sys1") + "/applications/new.desktop");
        QTRY_VERIFY(!index.byId("new"));
    }
};

QTEST_GUILESS_MAIN(TestDesktopEntry)
#include "test_desktop_entry_file.moc"
