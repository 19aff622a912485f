// Desktop entry files and the index of the installed applications.

#include "platform/linux/DesktopEntryFile.h"
#include "platform/linux/DesktopEntryIndex.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

std::optional<DesktopEntryFile> entry(const QByteArray& body) {
    return DesktopEntryFile::parse("[Desktop Entry]\n" + body);
}

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
    void valuesGroupsAndExec() {
        const auto file = entry("Name=First\nComment=a\\sb\\nc\\td\\re\\\\f\\;g\\qh\n"
                                "Keywords=one;two\\;three;\\\\;\n"
                                "NoDisplay=True\nHidden=true\n"
                                "Bad=\xff\xfe\n"
                                "Name=Second\n"
                                "[Desktop Action new]\nName=Action\nExec=other\n"
                                "[Desktop Entry]\nIcon=merged\n");
        QVERIFY(file);
        QCOMPARE(file->string("Name"), QStringLiteral("Second")); // a repeated key: last wins
        QCOMPARE(file->string("Comment"), QStringLiteral("a b\nc\td\re\\f\\;g\\qh"));
        QCOMPARE(file->list("Keywords"), QStringList({"one", "two;three", "\\"}));
        QVERIFY(!file->noDisplay()); // only the literal "true"
        QVERIFY(file->isHidden());
        QVERIFY(!file->contains("Bad") && !file->contains("Exec")); // bad UTF-8: value dropped
        QCOMPARE(file->string("Icon"), QStringLiteral("merged"));
        for (const auto& [exec, program] : {std::pair{"/usr/bin/gedit %U", "gedit"},
                                            {"\"/opt/My App/bin/my app\" --x %f", "my app"},
                                            {"\"/opt/a\\\\\"b/run\\\\\\\\er\" x", "run\\er"}})
            QCOMPARE(entry(QByteArray("Exec=") + exec + "\n")->execProgram(),
                     QString::fromLatin1(program));
    }

    void indexPrecedenceMaskingAndMatchOrder() {
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
        for (const char* id : {"org.gtk", "kde", "klass", "instance"})
            dirs.app("sys1", QString::fromLatin1(id) + ".desktop", id);
        dirs.app("sys1", "startup.desktop", "S", "StartupWMClass=Klass\n");
        dirs.app("sys1", "a-hidden.desktop", "A", "Exec=/usr/bin/prog %U\nNoDisplay=true\n");
        dirs.app("sys1", "z-shown.desktop", "Z", "Exec=prog\n");
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
        QCOMPARE(shown, QStringList({"both", "instance", "kde", "kept", "klass", "org.gtk", "shell",
                                     "startup", "vendor-sub-tool", "z-shown"}));
        QCOMPARE(index.byId("shell")->keywords, QStringList({"Shell", "Konsole", "sh"}));

        // Each row's hints also satisfy later rules, so only the right order passes. The
        // StartupWMClass is exact, the ID by class is in any case; an executable matches a
        // shown entry first.
        const std::pair<WindowHints, const char*> rows[] = {
            {{"org.gtk", "kde", "Klass", "Klass", "prog"}, "org.gtk"},
            {{"nope", "kde", "Klass", "Klass", "prog"}, "kde"},
            {{{}, "/x/kde.desktop", "Klass", "Klass", "prog"}, "kde"},
            {{{}, {}, "klass", "Klass", "prog"}, "startup"},
            {{{}, {}, "instance", "KlAsS", "prog"}, "klass"},
            {{{}, {}, "Instance", "none", "prog"}, "instance"},
            {{{}, {}, "none", "none", "prog"}, "z-shown"},
            {{{}, {}, "none", "none", "other"}, ""},
        };
        for (const auto& [hints, expected] : rows)
            QCOMPARE(index.match(hints).value_or(DesktopApplication{}).id,
                     QString::fromLatin1(expected));
    }

    void noticesChanges() {
        DataDirs dirs;
        dirs.app("sys1", "old.desktop", "Old");
        QDir().mkpath(dirs.path("home")); // home has no applications/ yet
        DesktopEntryIndex index;

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
        dirs.write("home", "old.desktop", "[Desktop Entry]\nHidden=true\n"); // new applications/
        QTRY_VERIFY(!index.byId("old"));
        QFile::remove(dirs.path("sys1") + "/applications/new.desktop");
        QTRY_VERIFY(!index.byId("new"));
    }
};

QTEST_GUILESS_MAIN(TestDesktopEntry)
#include "test_desktop_entry_file.moc"
