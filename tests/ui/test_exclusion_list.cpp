#include "engine/EngineRig.h"
#include "ui/ExclusionList.h"

#include <QLabel>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

namespace {
QStringList names(const ExclusionList& list) {
    QStringList out;
    for (const ExcludedAppRow* row : list.rows())
        out << row->app().name + (row->isSelected() ? "*" : "");
    return out;
}
} // namespace

// The one exclusions list of the popover and the settings pane.
class TestExclusionList : public QObject {
    Q_OBJECT

    static QString addEntry(EngineRig& rig, const QString& id, const QString& name) {
        const QString path = "/apps/" + id + ".desktop";
        rig.workspace.addEntry(path, ApplicationEntry{id, name});
        return path;
    }

private slots:
    // Additions select the last record made; removal, here or anywhere else, moves the
    // selection to the first remaining record, so Remove never acts on a stale one.
    void selectionFollowsTheList() {
        for (const ExclusionList::Look look :
             {ExclusionList::Look::popover, ExclusionList::Look::pane}) {
            EngineRig rig;
            rig.startAndDrain();
            const QString a = addEntry(rig, "org.a", "Alpha");
            const QString b = addEntry(rig, "org.b", "Bass");
            const QString c = addEntry(rig, "org.c", "Cello");
            ExclusionList list(*rig.engine, look);
            QList<QStringList> answers{{}, {c, "/apps/notes.txt", a, b, "/apps/broken.desktop"}};
            list.setChooser([&answers](QWidget*) { return answers.takeFirst(); });
            QVERIFY(!list.removeButton()->isEnabled());

            list.addButton()->click(); // cancelled
            QVERIFY(rig.engine->excludedApps().isEmpty());
            QVERIFY(!list.selectedID());

            list.addButton()->click();
            QCOMPARE(names(list), (QStringList{"Alpha", "Bass*", "Cello"}));
            QTest::mouseClick(list.rows().at(2), Qt::LeftButton);
            QCOMPARE(names(list), (QStringList{"Alpha", "Bass", "Cello*"}));

            list.removeButton()->click();
            QCOMPARE(names(list), (QStringList{"Alpha*", "Bass"}));
            rig.engine->removeExcludedApp("org.a"); // from the other list
            QCOMPARE(names(list), QStringList{"Bass*"});
            list.removeButton()->click();
            QVERIFY(list.rows().isEmpty());
            QVERIFY(!list.selectedID());
            QVERIFY(!list.removeButton()->isEnabled());
            if (list.countLabel())
                QCOMPARE(list.countLabel()->text(), QStringLiteral("0 active"));
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
        QVERIFY(row);
        const QImage icon = row->findChild<QLabel*>()->pixmap().toImage();
        QCOMPARE(icon.pixelColor(icon.width() / 2, icon.height() / 2), QColor(Qt::red));

        connect(row, &QAbstractButton::clicked, rig.engine.get(),
                [&rig] { rig.engine->removeExcludedApp("org.a"); });
        QTest::mouseClick(row, Qt::LeftButton);
        QVERIFY(list.rows().isEmpty());
        QVERIFY(row);
        QVERIFY(row->isHidden());
        QTRY_VERIFY(!row);
    }
};

QTEST_MAIN(TestExclusionList)
#include "test_exclusion_list.moc"
