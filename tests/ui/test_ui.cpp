#include "engine/EngineRig.h"
#include "ui/AppIcon.h"
#include "ui/ApplicationChooser.h"
#include "ui/ExclusionList.h"

#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>

namespace {

QStringList names(const ExclusionList& list) {
    QStringList out;
    for (const ExcludedAppRow* row : list.rows())
        out << row->app().name + (row->isSelected() ? "*" : "");
    return out;
}
} // namespace

// Shared widgets: application icons, the exclusions list and its chooser.
class TestUi : public QObject {
    Q_OBJECT
private slots:
    // The chooser acts on what it shows: a search drops the selection it hides and finds
    // generic names, keywords and programs; Return and a double-click choose; Idlewatch
    // itself is not offered.
    void chooserActsOnWhatItShows() {
        FakeWorkspace workspace;
        workspace.setInstalled({{"/a/copyq.desktop", "CopyQ", "", "copyq", {"Clipboard Manager"}},
                                {"/a/vim.desktop", "Vim", "", "vim", {"Text Editor", "vim"}},
                                {"/a/self.desktop", "Idlewatch", "", kAppIdentifier, {}}});
        for (const bool doubleClick : {false, true}) {
            ApplicationChooser chooser(workspace);
            chooser.show();
            auto* search = chooser.findChild<QLineEdit*>();
            auto* list = chooser.findChild<QListView*>();
            const auto rowOf = [&](const QString& name) {
                const QModelIndexList found = list->model()->match(
                    list->model()->index(0, 0), Qt::DisplayRole, name, 1, Qt::MatchExactly);
                QTest::qWait(0); // laid out
                return found.value(0);
            };
            QVERIFY(!rowOf("Idlewatch").isValid() || list->isRowHidden(rowOf("Idlewatch").row()));
            QTest::keyClicks(search, "clipboard");
            QVERIFY(list->isRowHidden(rowOf("Vim").row()));
            QVERIFY(!list->isRowHidden(rowOf("CopyQ").row()));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualRect(rowOf("CopyQ")).center());
            search->clear();
            QTest::keyClicks(search, "editor");
            const QPoint vim = list->visualRect(rowOf("Vim")).center();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, vim);
            if (doubleClick) // the second click of a double-click comes as a double-click event
                QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, vim);
            else
                QTest::keyClick(list, Qt::Key_Return);
            QCOMPARE(chooser.result(), int(QDialog::Accepted));
            QCOMPARE(chooser.chosenPaths(), QStringList{"/a/vim.desktop"});
        }
    }

    // Additions select the last record made; a removal while the list is shown moves the
    // selection to the first remaining record.
    void selectionFollowsTheList() {
        EngineRig rig;
        rig.startAndDrain();
        for (const auto& [id, name] : {std::pair{"a", "Alpha"}, {"b", "Bass"}, {"c", "Cello"}})
            rig.workspace.addEntry(QStringLiteral("/apps/%1.desktop").arg(id),
                                   ApplicationEntry{QStringLiteral("org.") + id, name});
        ExclusionList list(*rig.engine, ExclusionList::Look::pane);
        list.show();
        list.setChooser([&](QWidget*) {
            return QStringList{"/apps/c.desktop", "/apps/notes.txt", "/apps/a.desktop",
                               "/apps/b.desktop", "/apps/broken.desktop"};
        });
        list.addButton()->click();
        QCOMPARE(names(list), (QStringList{"Alpha", "Bass*", "Cello"}));
        QTest::mouseClick(list.rows().at(2), Qt::LeftButton);
        list.removeButton()->click();
        QCOMPARE(names(list), (QStringList{"Alpha*", "Bass"}));
        rig.engine->removeExcludedApp("org.a"); // from the other list
        QCOMPARE(names(list), QStringList{"Bass*"});
    }
};

QTEST_MAIN(TestUi)
#include "test_ui.moc"
