#include "platform/linux/DesktopEntryIndex.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSaveFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

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
        QDir().mkpath(QFileInfo(file).path());
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(file));
        f.write(body);
        return file;
    }
    QString app(const QString& dir, const QString& rel, const QByteArray& name,
                const QByteArray& extra = {}) const {
        return write(dir, rel, "[Desktop Entry]\nType=Application\nName=" + name + "\n" + extra);
    }
};

QString idOf(const std::optional<DesktopApplication>& app) {
    return app ? app->id : "-";
}
QString nameOf(const std::optional<DesktopApplication>& app) {
    return app ? app->name : "-";
}

} // namespace

class TestDesktopEntryIndex : public QObject {
    Q_OBJECT
private slots:
    void idsPrecedenceAndMasking() {
        DataDirs dirs;
        dirs.app("sys2", "vendor/sub/tool.desktop", "Nested");
        dirs.app("sys2", "both.desktop", "from sys2");
        dirs.app("sys1", "both.desktop", "from sys1");
        dirs.write("home", "both.desktop", "[Desktop Entry]\nName=no type\n"); // masks nothing
        dirs.app("sys1", "masked.desktop", "masked");
        dirs.write("home", "masked.desktop", "[Desktop Entry]\nHidden=true\n");
        dirs.app("sys1", "kept.desktop", "kept");
        dirs.write("home", "kept.desktop", "garbage without a group\n"); // skipped, masks nothing
        dirs.app("sys2", "shadowed.desktop", "app");
        dirs.write("sys1", "shadowed.desktop", "[Desktop Entry]\nType=Link\nName=l\nURL=x\n");
        dirs.app("sys2", "lower-hidden.desktop", "visible");
        dirs.write("sys2", "lower/hidden.desktop", "[Desktop Entry]\nHidden=true\n");
        dirs.write("sys1", "nameless.desktop", "[Desktop Entry]\nType=Application\n");
        dirs.app("sys1", "quiet.desktop", "Quiet", "NoDisplay=true\nName[de]=Leise\nIcon=q\n");
        dirs.app("sys1", "not-an-entry.txt", "x");

        DesktopEntryIndex index;
        QCOMPARE(idOf(index.byId("vendor-sub-tool")), QStringLiteral("vendor-sub-tool"));
        QCOMPARE(nameOf(index.byId("both")), QStringLiteral("from sys1"));
        QVERIFY(!index.byId("masked"));
        QCOMPARE(nameOf(index.byId("kept")), QStringLiteral("kept"));
        QVERIFY(!index.byId("shadowed"));
        QVERIFY(!index.byId("nameless"));
        QVERIFY(!index.byId("not-an-entry"));
        // One ID twice in one folder: the file outside the sub-folder wins.
        QCOMPARE(nameOf(index.byId("lower-hidden")), QStringLiteral("visible"));
        const auto quiet = index.byId("quiet");
        QVERIFY(quiet);
        QCOMPARE(quiet->displayName, QStringLiteral("Leise"));
        QCOMPARE(quiet->name, QStringLiteral("Quiet"));
        QCOMPARE(quiet->icon, QStringLiteral("q"));
        QCOMPARE(quiet->path, dirs.path("sys1") + "/applications/quiet.desktop");
        QCOMPARE(DesktopEntryIndex::applicationsFolder(), dirs.path("sys1") + "/applications");
    }

    void entryAtAnyPath() {
        DataDirs dirs;
        const QString nested = dirs.app("sys2", "a/b.desktop", "B");
        const QString outside = dirs.app("elsewhere", "c.d.desktop", "C");
        const QString hidden = dirs.write("home", "h.desktop",
                                          "[Desktop Entry]\nType=Application\nName=H\nHidden=true");
        const QString link = dirs.write("home", "l.desktop", "[Desktop Entry]\nType=Link\nName=L");
        DesktopEntryIndex index;
        QCOMPARE(idOf(index.entryAt(nested)), QStringLiteral("a-b"));
        QCOMPARE(idOf(index.entryAt(outside)), QStringLiteral("c.d"));
        QVERIFY(!index.entryAt(hidden));
        QVERIFY(!index.entryAt(link));
        QVERIFY(!index.entryAt(dirs.path("missing.desktop")));
    }

    void matchOrder_data() {
        QTest::addColumn<WindowHints>("hints");
        QTest::addColumn<QString>("expected");
        // Each row's hints also satisfy later rules, so only the right order passes.
        QTest::newRow("gtk id") << WindowHints{"org.gtk", "kde", "Klass", "Klass", "prog"}
                                << "org.gtk";
        QTest::newRow("unknown gtk id falls through")
            << WindowHints{"nope", "kde", "Klass", "Klass", "prog"} << "kde";
        QTest::newRow("kde file name")
            << WindowHints{{}, "/x/kde.desktop", "Klass", "Klass", "prog"} << "kde";
        QTest::newRow("StartupWMClass")
            << WindowHints{{}, {}, "klass", "Klass", "prog"} << "startup";
        QTest::newRow("StartupWMClass is exact")
            << WindowHints{{}, {}, "x", "KLASS", "prog"} << "klass";
        QTest::newRow("id by class, any case")
            << WindowHints{{}, {}, "instance", "KlAsS", "prog"} << "klass";
        QTest::newRow("id by instance")
            << WindowHints{{}, {}, "Instance", "none", "prog"} << "instance";
        QTest::newRow("exec program, shown entry first")
            << WindowHints{{}, {}, "none", "none", "prog"} << "z-shown";
        QTest::newRow("nothing") << WindowHints{{}, {}, "none", "none", "other"} << "-";
        QTest::newRow("empty hints match nothing") << WindowHints{} << "-";
    }
    void matchOrder() {
        QFETCH(WindowHints, hints);
        QFETCH(QString, expected);
        DataDirs dirs;
        dirs.app("sys1", "org.gtk.desktop", "G");
        dirs.app("sys1", "kde.desktop", "K");
        dirs.app("sys1", "startup.desktop", "S", "StartupWMClass=Klass\n");
        dirs.app("sys1", "klass.desktop", "Kl");
        dirs.app("sys1", "instance.desktop", "I");
        dirs.app("sys1", "a-hidden.desktop", "A", "Exec=/usr/bin/prog %U\nNoDisplay=true\n");
        dirs.app("sys1", "z-shown.desktop", "Z", "Exec=prog\n");
        DesktopEntryIndex index;
        QCOMPARE(idOf(index.match(hints)), expected);
    }

    void noticesChanges() {
        DataDirs dirs;
        dirs.app("sys1", "old.desktop", "Old");
        QDir().mkpath(dirs.path("home")); // home has no applications/ yet
        DesktopEntryIndex index;
        QSignalSpy changed(&index, &DesktopEntryIndex::changed);

        dirs.app("sys1", "new.desktop", "New");
        QTRY_VERIFY(index.byId("new"));
        dirs.app("sys1", "later/sub.desktop", "Sub"); // a new sub-folder
        QTRY_VERIFY(index.byId("later-sub"));
        {
            // Replaced at once with the same size: still read again.
            QSaveFile replaced(dirs.path("sys1") + "/applications/old.desktop");
            QVERIFY(replaced.open(QIODevice::WriteOnly));
            replaced.write("[Desktop Entry]\nType=Application\nName=Neu\n");
            QVERIFY(replaced.commit());
        }
        QTRY_COMPARE(nameOf(index.byId("old")), QStringLiteral("Neu"));
        dirs.write("home", "old.desktop", "[Desktop Entry]\nHidden=true\n"); // new applications/
        QTRY_VERIFY(!index.byId("old"));
        QFile::remove(dirs.path("sys1") + "/applications/new.desktop");
        QTRY_VERIFY(!index.byId("new"));
        QVERIFY(changed.size() >= 1);

        // Nothing that matters changed: no signal.
        changed.clear();
        index.refresh();
        QCOMPARE(changed.size(), 0);
    }
};

QTEST_MAIN(TestDesktopEntryIndex)
#include "test_desktop_entry_index.moc"
