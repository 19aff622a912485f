#include "engine/EngineRig.h"
#include "ui/ExclusionList.h"

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

// Shared widgets: the exclusions list and its chooser.
class TestUi : public QObject {
    Q_OBJECT
private slots:
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
