#include "engine/EngineRig.h"
#include "preferences/AppIdentity.h"
#include "ui/AppIcon.h"
#include "ui/ApplicationChooser.h"
#include "ui/Artwork.h"
#include "ui/ExclusionList.h"
#include "ui/Symbols.h"

#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Pixels drawn at least `minAlpha` opaque; -1 when one of them is not `color`.
int drawnIn(const QImage& source, const QColor& color, int minAlpha = 64) {
    const QImage img = source.convertToFormat(QImage::Format_ARGB32);
    int drawn = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (c.alpha() < minAlpha)
                continue;
            if (qAbs(c.red() - color.red()) + qAbs(c.green() - color.green()) +
                    qAbs(c.blue() - color.blue()) >
                6)
                return -1;
            ++drawn;
        }
    return drawn;
}

QStringList names(const ExclusionList& list) {
    QStringList out;
    for (const ExcludedAppRow* row : list.rows())
        out << row->app().name + (row->isSelected() ? "*" : "");
    return out;
}

QString addEntry(EngineRig& rig, const QString& id, const QString& name) {
    const QString path = "/apps/" + id + ".desktop";
    rig.workspace.addEntry(path, ApplicationEntry{id, name});
    return path;
}
} // namespace

// Shared widgets and drawings: symbols, icons, the exclusions list and its chooser.
class TestUi : public QObject {
    Q_OBJECT
private slots:
    // Every symbol name the views write has a bundled drawing: dotted names anywhere, and
    // plain ones passed to Symbols or to an icon or symbol parameter.
    void everySymbolTheAppNamesHasADrawing() {
        static const QRegularExpression dotted(
            QStringLiteral(R"re("([a-z0-9]+(?:\.[a-z0-9]+)+)")re"));
        static const QRegularExpression passed(QStringLiteral(
            R"re((?:Symbols::\w+\(|[Ss]ymbol\w*\s*[:=({,]|[Ii]con\w*\s*[:=({,])\s*(?:QStringLiteral\()?"([a-z0-9.]+)")re"));
        int found = 0;
        for (const char* folder : {"popover", "settings", "ui"}) {
            QDirIterator it(QStringLiteral(IDLEWATCH_SOURCE_DIR "/") + folder, {"*.cpp"});
            while (it.hasNext()) {
                QFile f(it.next());
                QVERIFY(f.open(QIODevice::ReadOnly));
                const QString text = QString::fromUtf8(f.readAll());
                for (const auto* re : {&dotted, &passed})
                    for (auto m = re->globalMatch(text); m.hasNext(); ++found) {
                        const QString name = m.next().captured(1);
                        QVERIFY2(Symbols::isKnown(name) || name.endsWith(".png"), qPrintable(name));
                    }
            }
        }
        QVERIFY(found > 25);
    }

    // Tinted silhouettes at any scale, cached per colour, faded when disabled; an unknown
    // name still draws.
    void symbolsAreTintedSilhouettes() {
        for (const char* name : {"x.circle", "plus", "no.such.symbol"}) {
            const QPixmap pm = Symbols::pixmap(name, 16, QColor(0, 122, 255), 2.0);
            QCOMPARE(pm.width(), 32);
            const int drawn = drawnIn(pm.toImage(), QColor(0, 122, 255));
            QVERIFY(drawn > 32 * 32 / 40 && drawn < 32 * 32 * 9 / 10);
            QCOMPARE(drawnIn(Symbols::pixmap(name, 16, Qt::red, 2.0).toImage(), Qt::red), drawn);
            const QImage disabled =
                Symbols::icon(name, Qt::red).pixmap(QSize(16, 16), QIcon::Disabled).toImage();
            QCOMPARE(drawnIn(disabled, Qt::red, 128), 0);
        }
        QVERIFY(Symbols::names().contains("menubar.rectangle"));
    }

    // A template is a silhouette in the panel's colour with a contrasting halo; otherwise
    // the icon keeps its own colours.
    void menuBarIconSizeAndRendering() {
        QCOMPARE(Artwork::clampedMenuBarIconSize(std::numeric_limits<qint64>::max()), 24);
        QCOMPARE(Artwork::clampedMenuBarIconSize(-5), 14);
        const QColor panelText(30, 200, 90);
        const QImage own = Artwork::menuBarIcon(24, false, panelText);
        QCOMPARE(drawnIn(own, panelText, 255), -1);
        const QImage silhouette = Artwork::menuBarIcon(14, true, panelText, 2.0);
        QCOMPARE(silhouette.size(), QSize(28, 28));
        QVERIFY(drawnIn(silhouette, panelText, 255) > 0);
        QVERIFY(drawnIn(silhouette, panelText, 100) == -1); // the halo
        const QImage image = Artwork::image(34, 2.0).toImage();
        QCOMPARE(qAlpha(image.pixel(34, 34)), 255);
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0); // rounded corner
    }

    // An Icon= value is an absolute path, a file in a pixmaps folder, or a theme name (also
    // written with an extension), in that order; nothing usable still draws.
    void applicationIconsByName() {
        QTemporaryDir dir;
        auto save = [&dir](const QString& file, Qt::GlobalColor color) {
            QImage image(24, 24, QImage::Format_ARGB32);
            image.fill(color);
            QVERIFY(QDir().mkpath(QFileInfo(dir.filePath(file)).path()));
            QVERIFY(image.save(dir.filePath(file)));
        };
        auto colorOf = [](const QString& name) {
            return iconForApplication(name).pixmap(24).toImage().pixelColor(12, 12);
        };
        save("red.png", Qt::red);
        save("share/pixmaps/mini.app.xpm", Qt::blue);
        save("icons/t/24x24/apps/mini.app.png", Qt::green);
        save("icons/t/24x24/apps/themed.png", Qt::green);
        QFile index(dir.filePath("icons/t/index.theme"));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=t\nDirectories=24x24/apps\n"
                    "[24x24/apps]\nSize=24\nType=Fixed\n");
        index.close();
        qputenv("XDG_DATA_DIRS", dir.filePath("share").toLocal8Bit());
        QIcon::setThemeSearchPaths({dir.filePath("icons")});
        QIcon::setThemeName("t");
        QCOMPARE(colorOf(dir.filePath("red.png")), QColor(Qt::red));
        QCOMPARE(colorOf("mini.app"), QColor(Qt::blue));
        QCOMPARE(colorOf("themed.png"), QColor(Qt::green));
        // The desktop names a theme that is not installed: every lookup still ends in hicolor.
        save("icons/hicolor/48x48/apps/only.hicolor.png", Qt::yellow);
        QIcon::setThemeName("breeze-missing");
        QIcon::setFallbackThemeName("breeze-missing");
        QCOMPARE(colorOf("only.hicolor"), QColor(Qt::yellow));

        QIcon::setThemeSearchPaths({});
        for (const QString& name : {QString(), QStringLiteral("none"), dir.filePath("none")})
            QVERIFY(iconForApplication(name).pixmap(32).toImage().pixelColor(16, 16).alpha() > 0);
    }
    // Additions select the last record made; a removal while the list is shown moves the
    // selection to the first remaining record. A hidden list (a closed popover) keeps its
    // selection, and drops it when shown if the record is gone: never a record the user
    // did not pick.
    void selectionFollowsTheList() {
        for (const auto look : {ExclusionList::Look::popover, ExclusionList::Look::pane}) {
            EngineRig rig;
            rig.startAndDrain();
            const QString a = addEntry(rig, "org.a", "Alpha");
            const QString b = addEntry(rig, "org.b", "Bass");
            const QString c = addEntry(rig, "org.c", "Cello");
            ExclusionList list(*rig.engine, look);
            list.show();
            QList<QStringList> answers{{}, {c, "/apps/notes.txt", a, b, "/apps/broken.desktop"}};
            list.setChooser([&answers](QWidget*) { return answers.takeFirst(); });
            list.addButton()->click(); // cancelled
            QVERIFY(rig.engine->excludedApps().isEmpty());
            QVERIFY(!list.removeButton()->isEnabled());
            list.addButton()->click();
            QCOMPARE(names(list), (QStringList{"Alpha", "Bass*", "Cello"}));
            QTest::mouseClick(list.rows().at(2), Qt::LeftButton);
            list.removeButton()->click();
            QCOMPARE(names(list), (QStringList{"Alpha*", "Bass"}));
            rig.engine->removeExcludedApp("org.a"); // from the other list
            QCOMPARE(names(list), QStringList{"Bass*"});

            list.hide();
            rig.engine->removeExcludedApp("org.b");
            rig.engine->addExcludedApp(c);
            QVERIFY(list.selectedID() != "org.c");
            list.show();
            QCOMPARE(names(list), QStringList{"Cello"});
            QVERIFY(!list.removeButton()->isEnabled());
        }
    }

    // Removing an exclusion brings its running application back at once, freshly stamped.
    void removingAnExclusionTracksItsAppAgain() {
        EngineRig rig;
        const RunningApplication term =
            rig.workspace.add({.name = "Terminal", .applicationId = "org.term"});
        const QString path = addEntry(rig, "org.term", "Terminal");
        rig.startAndDrain();
        ExclusionList list(*rig.engine, ExclusionList::Look::popover);
        list.setChooser([path](QWidget*) { return QStringList{path}; });
        list.addExclusion();
        QVERIFY(!rig.tracked(term));
        rig.clock.advance(3600);
        list.removeSelectedExclusion();
        rig.drain();
        QCOMPARE(rig.stamp(term), rig.clock.now());
    }

    // A row may be the sender of the signal that removes it: rows are retired and deleted
    // later, never in place. The icon comes from the workspace's name for the entry.
    void rowsAreRetiredSafely() {
        EngineRig rig;
        rig.startAndDrain();
        QTemporaryDir dir;
        QImage red(16, 16, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(dir.filePath("red.png")));
        const QString path = addEntry(rig, "org.a", "Alpha");
        rig.workspace.setIconName(path, dir.filePath("red.png"));
        rig.engine->addExcludedApp(path);
        ExclusionList list(*rig.engine, ExclusionList::Look::pane);
        QPointer<ExcludedAppRow> row = list.rows().value(0);
        const QImage icon = row->findChild<QLabel*>()->pixmap().toImage();
        QCOMPARE(icon.pixelColor(icon.width() / 2, icon.height() / 2), QColor(Qt::red));
        connect(row, &QAbstractButton::clicked, rig.engine.get(),
                [&rig] { rig.engine->removeExcludedApp("org.a"); });
        QTest::mouseClick(row, Qt::LeftButton);
        QVERIFY(list.rows().isEmpty());
        QVERIFY(row && row->isHidden());
        QTRY_VERIFY(!row);
    }

    // Running applications first, then by name; the search narrows; several are chosen
    // at once, in list order.
    void chooserListsFiltersAndChoosesSeveral() {
        EngineRig rig;
        rig.workspace.installed = {{"/a/zed.desktop", "Zed", ""},
                                   {"/a/beta.desktop", "beta", ""},
                                   {"/a/alpha.desktop", "Alpha", ""},
                                   {"/a/term.desktop", "Terminal", ""},
                                   {"/a/self.desktop", "Idlewatch", ""}};
        rig.workspace.add({.name = "Terminal", .entryPath = "/a/term.desktop"});
        // Idlewatch itself is never offered: it is never quit anyway.
        rig.workspace.add({.name = "Idlewatch",
                           .applicationId = QString::fromLatin1(kAppIdentifier),
                           .entryPath = "/a/self.desktop"});
        ApplicationChooser chooser(rig.workspace);
        QListWidget* list = chooser.list();
        QStringList order;
        for (int i = 0; i < list->count(); ++i)
            order << list->item(i)->text();
        QCOMPARE(order, (QStringList{"Terminal", "Alpha", "beta", "Zed"}));
        QVERIFY(!chooser.acceptButton()->isEnabled());
        chooser.searchField()->setText("E");
        QVERIFY(list->item(1)->isHidden()); // Alpha
        QVERIFY(!list->item(0)->isHidden() && !list->item(2)->isHidden());
        list->item(3)->setSelected(true);
        list->item(0)->setSelected(true);
        QCOMPARE(chooser.chosenPaths(), (QStringList{"/a/term.desktop", "/a/zed.desktop"}));
        QVERIFY(chooser.acceptButton()->isEnabled());
    }
};

QTEST_MAIN(TestUi)
#include "test_ui.moc"
