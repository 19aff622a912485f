#include "PopoverRig.h"

#include "popover/ExcludedAppRow.h"
#include "popover/ExclusionSection.h"
#include "ui/Accent.h"

#include <QEnterEvent>
#include <QFrame>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <limits>

namespace {

QColor pixelAt(QWidget* widget, QPoint point) {
    return widget->grab().toImage().pixelColor(point);
}

bool near(const QColor& a, const QColor& b) {
    return qAbs(a.red() - b.red()) <= 3 && qAbs(a.green() - b.green()) <= 3 &&
           qAbs(a.blue() - b.blue()) <= 3 && a.alpha() == 255;
}

bool containsColor(const QImage& image, const QColor& color) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (near(image.pixelColor(x, y), color))
                return true;
    return false;
}

void addBundle(FakeWorkspace& workspace, const QString& path, const QString& id,
               const QString& name) {
    workspace.addBundle(path, BundleInfo{id, {{QStringLiteral("CFBundleName"), name}}});
}

QStringList exclusionNames(ExclusionSection* section) {
    QStringList out;
    for (ExcludedAppRow* row : section->rows())
        out << row->app().name;
    return out;
}

} // namespace

class TestContentView : public QObject {
    Q_OBJECT
private slots:
    void widthIsClampedAndFollowsTheStore_data();
    void widthIsClampedAndFollowsTheStore();
    void sortOrders_data();
    void sortOrders();
    void nameOrderIsCodePointOrderOfComposedNames();
    void emptyState_data();
    void emptyState();
    void followsEnginePublishing();
    void exclusionsSectionCanBeHidden();
    void footerHighlightAndActions();

    void exclusionsStartEmptyAndUnselected();
    void addingSeveralSelectsTheLastAdded();
    void removingSelectsTheFirstRemaining();
    void removingAnExclusionTracksTheAppAgain();
    void cancelledChooserChangesNothing();
    void exclusionIconSizes_data();
    void exclusionIconSizes();
};

void TestContentView::widthIsClampedAndFollowsTheStore_data() {
    QTest::addColumn<bool>("stored");
    QTest::addColumn<qint64>("popoverWidth");
    QTest::addColumn<int>("width");
    QTest::newRow("default") << false << qint64(0) << 320;
    QTest::newRow("too narrow") << true << qint64(100) << 280;
    QTest::newRow("too wide") << true << qint64(1000) << 520;
    QTest::newRow("in range") << true << qint64(440) << 440;
    QTest::newRow("most negative") << true << std::numeric_limits<qint64>::min() << 280;
    QTest::newRow("largest") << true << std::numeric_limits<qint64>::max() << 520;
}

void TestContentView::widthIsClampedAndFollowsTheStore() {
    QFETCH(bool, stored);
    QFETCH(qint64, popoverWidth);
    QFETCH(int, width);
    PopoverRig rig;
    rig.workspace.add({.name = "Editor"});
    ContentView& view = rig.open();
    QCOMPARE(view.width(), 320 + 10);
    if (stored)
        rig.set("popoverWidth", popoverWidth); // seen by the open view at once
    QCOMPARE(view.contentWidth(), width);
    QCOMPARE(view.width(), width + 10);
    QCOMPARE(view.rows().first()->width(), width - 20); // the list block's side padding
}

void TestContentView::sortOrders_data() {
    QTest::addColumn<QString>("sortMode");
    QTest::addColumn<QStringList>("order");
    // Mid was deactivated 10 minutes ago (overdue with the 9-minute timeout), Zulu 2
    // minutes ago, Alpha just now.
    QTest::newRow("name") << "name" << QStringList{"Alpha", "Mid", "Zulu"};
    QTest::newRow("remaining, overdue first") << "remaining" << QStringList{"Mid", "Zulu", "Alpha"};
    QTest::newRow("recent") << "recent" << QStringList{"Alpha", "Zulu", "Mid"};
    QTest::newRow("unknown mode sorts by name") << "Name" << QStringList{"Alpha", "Mid", "Zulu"};
}

void TestContentView::sortOrders() {
    QFETCH(QString, sortMode);
    QFETCH(QStringList, order);
    PopoverRig rig;
    const auto mid = rig.workspace.add({.name = "Mid"});
    const auto zulu = rig.workspace.add({.name = "Zulu"});
    const auto alpha = rig.workspace.add({.name = "Alpha"});
    rig.set("minutesUntilClose", qint64(9));
    rig.store->setText(QStringLiteral("sortMode"), sortMode);
    ContentView& view = rig.open();
    emit rig.workspace.didDeactivateApplication(mid);
    rig.drain();
    rig.clock.advance(8 * 60);
    emit rig.workspace.didDeactivateApplication(zulu);
    rig.drain();
    rig.clock.advance(2 * 60);
    emit rig.workspace.didDeactivateApplication(alpha);
    rig.drain();
    QVERIFY(view.remainingSeconds(mid) < 0);
    QCOMPARE(rig.names(), order);
}

void TestContentView::nameOrderIsCodePointOrderOfComposedNames() {
    PopoverRig rig;
    for (const char* name :
         {"cat", "\xF0\x9F\x98\x80x" /* U+1F600 */, "Zed", "\xEF\xBC\xA2" /* U+FF22 fullwidth B */,
          "\xC3\x89zra" /* Ézra */, "E\xCC\x81va" /* E + combining acute */})
        rig.workspace.add({.name = QString::fromUtf8(name)});
    rig.workspace.add({});
    rig.open();
    const QStringList expected{"Unknown",
                               "Zed",
                               "cat",
                               QString::fromUtf8("E\xCC\x81va"),
                               QString::fromUtf8("\xC3\x89zra"),
                               QString::fromUtf8("\xEF\xBC\xA2"),
                               QString::fromUtf8("\xF0\x9F\x98\x80x")};
    QCOMPARE(rig.names(), expected);
}

void TestContentView::emptyState_data() {
    QTest::addColumn<bool>("showEmptyState");
    QTest::addColumn<bool>("quittingEnabled");
    QTest::addColumn<QString>("text");
    QTest::newRow("counting") << true << true << "No apps are counting down";
    QTest::newRow("paused") << true << false << "Automatic quitting is paused";
    QTest::newRow("hidden") << false << true << "";
}

void TestContentView::emptyState() {
    QFETCH(bool, showEmptyState);
    QFETCH(bool, quittingEnabled);
    QFETCH(QString, text);
    PopoverRig rig;
    rig.set("showEmptyState", showEmptyState);
    rig.set("quittingEnabled", quittingEnabled);
    rig.set("accentColor", "green");
    ContentView& view = rig.open();
    QCOMPARE(view.emptyState()->isVisible(), showEmptyState);
    if (showEmptyState) {
        QCOMPARE(view.emptyStateText()->text(), text);
        QVERIFY(
            containsColor(view.emptyStateIcon()->pixmap().toImage(), accentColorInUse(*rig.store)));
    } else {
        // Only the list block's top padding stands before the footer.
        QCOMPARE(view.listBlock()->sizeHint().height(), 5);
    }
    // Any application hides it.
    rig.workspace.add({.name = "Editor"});
    rig.engine->addCurrentRunningApps();
    rig.drain();
    QVERIFY(!view.emptyState()->isVisible());
    QCOMPARE(view.rows().size(), 1);
}

void TestContentView::followsEnginePublishing() {
    PopoverRig rig;
    const auto editor = rig.workspace.add({.name = "Editor"});
    ContentView& view = rig.open();
    const int oneRowHeight = view.height();
    const auto viewer = rig.workspace.add({.name = "Viewer"});
    rig.sweepAfter(5);
    QCOMPARE(rig.names(), (QStringList{"Editor", "Viewer"}));
    QVERIFY(view.height() > oneRowHeight); // the popover grows, it does not scroll
    rig.workspace.quit(editor);
    rig.sweepAfter(5);
    QCOMPARE(rig.names(), QStringList{"Viewer"});
    // A countdown advances with each published sweep (Viewer was registered 5 s ago).
    rig.sweepAfter(2 * 3600 - 5);
    QCOMPARE(view.rowTexts(), QStringList{"Viewer\t6h left"});
    Q_UNUSED(viewer);
}

void TestContentView::exclusionsSectionCanBeHidden() {
    PopoverRig rig;
    ContentView& view = rig.open();
    QVERIFY(view.divider()->isVisible());
    QVERIFY(view.exclusionSection()->isVisible());
    rig.set("showExclusionsInPopover", false);
    QVERIFY(!view.divider()->isVisible());
    QVERIFY(!view.exclusionSection()->isVisible());
}

void TestContentView::footerHighlightAndActions() {
    PopoverRig rig;
    rig.set("accentColor", "orange");
    ContentView& view = rig.open();
    QWidget* settings = view.settingsItem();
    QWidget* quit = view.quitItem();
    const QColor accent = accentColorInUse(*rig.store);
    const QPoint inside(settings->width() - 8, settings->height() / 2);

    QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
    QApplication::sendEvent(settings, &enter);
    QCOMPARE(view.hoveredButton(), ContentView::HoveredButton::settings);
    QVERIFY(near(pixelAt(settings, inside), accent));
    QVERIFY(containsColor(settings->grab().toImage(), Qt::white));
    QVERIFY(!near(pixelAt(quit, inside), accent));
    QVERIFY(!containsColor(quit->grab().toImage(), Qt::white));

    // The accent follows the store on the next redraw.
    rig.set("accentColor", "blue");
    QVERIFY(near(pixelAt(settings, inside), accentColorInUse(*rig.store)));

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(settings, &leave);
    QVERIFY(!view.hoveredButton().has_value());
    QVERIFY(!near(pixelAt(settings, inside), accentColorInUse(*rig.store)));

    // A popover closed under the pointer gets no leave event: closing clears the highlight,
    // or it would greet the next opening.
    QApplication::sendEvent(settings, &enter);
    view.setLive(false);
    QVERIFY(!view.hoveredButton().has_value());
    view.setLive(true);

    QSignalSpy openSettings(&view, &ContentView::openSettingsRequested);
    QSignalSpy quitRequested(&view, &ContentView::quitRequested);
    // The whole item is the target, far from its text included.
    QTest::mouseClick(settings, Qt::LeftButton, {}, inside);
    QCOMPARE(openSettings.size(), 1);
    QCOMPARE(quitRequested.size(), 0);
    QTest::mouseClick(quit, Qt::LeftButton, {}, QPoint(quit->width() - 3, quit->height() - 2));
    QCOMPARE(quitRequested.size(), 1);
}

void TestContentView::exclusionsStartEmptyAndUnselected() {
    PopoverRig rig;
    addBundle(rig.workspace, "/apps/a.desktop", "org.a", "Alpha");
    ContentView& view = rig.open();
    ExclusionSection* section = view.exclusionSection();
    QVERIFY(section->emptyLabel()->isVisible());
    QCOMPARE(section->emptyLabel()->text(), QStringLiteral("No apps excluded"));
    QVERIFY(!section->removeButton()->isEnabled());
    QVERIFY(section->addButton()->isEnabled());
    rig.engine->addExcludedApp(QStringLiteral("/apps/a.desktop"));

    // A popover opened later starts with nothing selected, even with exclusions.
    ContentView reopened(*rig.engine);
    QCOMPARE(exclusionNames(reopened.exclusionSection()), QStringList{"Alpha"});
    QVERIFY(!reopened.selectedExclusionID().has_value());
    QVERIFY(!reopened.exclusionSection()->removeButton()->isEnabled());
    QVERIFY(reopened.exclusionSection()->addButton()->isEnabled());
}

void TestContentView::addingSeveralSelectsTheLastAdded() {
    PopoverRig rig;
    addBundle(rig.workspace, "/apps/gamma.desktop", "org.gamma", "gamma");
    addBundle(rig.workspace, "/apps/alpha.desktop", "org.alpha", "Alpha");
    addBundle(rig.workspace, "/apps/beta.desktop", "org.beta", "beta");
    addBundle(rig.workspace, "/apps/other.desktop", "org.alpha", "Alpha 2");
    ContentView& view = rig.open();
    ExclusionSection* section = view.exclusionSection();
    section->setChooser([](QWidget*) {
        return QStringList{"/apps/gamma.desktop", "/apps/alpha.desktop", "/apps/beta.desktop",
                           "/apps/notes.txt", "/apps/unreadable.desktop"};
    });
    QTest::mouseClick(section->addButton(), Qt::LeftButton);
    QCOMPARE(exclusionNames(section), (QStringList{"Alpha", "beta", "gamma"}));
    QCOMPARE(view.selectedExclusionID(), QStringLiteral("org.beta"));
    QVERIFY(section->rows().at(1)->isSelected());
    QVERIFY(!section->rows().at(0)->isSelected());
    QVERIFY(section->removeButton()->isEnabled());
    QVERIFY(!section->emptyLabel()->isVisible());

    // An application already excluded is refreshed and selected, not duplicated.
    section->setChooser([](QWidget*) { return QStringList{"/apps/other.desktop"}; });
    section->addExclusion();
    QCOMPARE(exclusionNames(section), (QStringList{"Alpha 2", "beta", "gamma"}));
    QCOMPARE(view.selectedExclusionID(), QStringLiteral("org.alpha"));
}

void TestContentView::removingSelectsTheFirstRemaining() {
    PopoverRig rig;
    addBundle(rig.workspace, "/apps/c.desktop", "org.c", "Cello");
    addBundle(rig.workspace, "/apps/a.desktop", "org.a", "Alpha");
    addBundle(rig.workspace, "/apps/b.desktop", "org.b", "Bass");
    ContentView& view = rig.open();
    ExclusionSection* section = view.exclusionSection();
    section->setChooser([](QWidget*) {
        return QStringList{"/apps/c.desktop", "/apps/a.desktop", "/apps/b.desktop"};
    });
    section->addExclusion();
    // Clicking a row selects it; clicking it again keeps it.
    QTest::mouseClick(section->rows().at(1), Qt::LeftButton);
    QCOMPARE(view.selectedExclusionID(), QStringLiteral("org.b"));
    QTest::mouseClick(section->rows().at(1), Qt::LeftButton);
    QCOMPARE(view.selectedExclusionID(), QStringLiteral("org.b"));

    QTest::mouseClick(section->removeButton(), Qt::LeftButton);
    QCOMPARE(exclusionNames(section), (QStringList{"Alpha", "Cello"}));
    QCOMPARE(view.selectedExclusionID(), QStringLiteral("org.a"));
    QVERIFY(section->rows().at(0)->isSelected());

    section->removeSelectedExclusion();
    section->removeSelectedExclusion();
    QVERIFY(section->rows().isEmpty());
    QVERIFY(section->emptyLabel()->isVisible());
    QVERIFY(!view.selectedExclusionID().has_value());
    QVERIFY(!section->removeButton()->isEnabled());
    section->removeSelectedExclusion(); // nothing selected: nothing happens
    QVERIFY(rig.engine->excludedApps().isEmpty());
}

void TestContentView::removingAnExclusionTracksTheAppAgain() {
    PopoverRig rig;
    const auto term = rig.workspace.add({.name = "Terminal", .bundleIdentifier = "org.term"});
    addBundle(rig.workspace, "/apps/term.desktop", "org.term", "Terminal");
    ContentView& view = rig.open();
    view.exclusionSection()->setChooser([](QWidget*) { return QStringList{"/apps/term.desktop"}; });
    rig.clock.advance(600);
    view.render();
    QCOMPARE(view.rowTexts(), QStringList{"Terminal\t7h 50m left"});
    view.exclusionSection()->addExclusion();
    QVERIFY(view.rows().isEmpty());

    rig.clock.advance(3600);
    view.exclusionSection()->removeSelectedExclusion();
    rig.drain();
    QCOMPARE(view.rowTexts(), QStringList{"Terminal\t8h left"});
    QCOMPARE(rig.stamp(term), rig.clock.now());
}

void TestContentView::cancelledChooserChangesNothing() {
    PopoverRig rig;
    ContentView& view = rig.open();
    const QByteArray before =
        rig.store->data(QStringLiteral("com.Idlewatch.excludedApps")).value_or("absent");
    view.exclusionSection()->setChooser([](QWidget*) { return QStringList(); });
    view.exclusionSection()->addExclusion();
    QVERIFY(rig.engine->excludedApps().isEmpty());
    QCOMPARE(rig.store->data(QStringLiteral("com.Idlewatch.excludedApps")).value_or("absent"),
             before);
    QVERIFY(!view.selectedExclusionID().has_value());
}

void TestContentView::exclusionIconSizes_data() {
    QTest::addColumn<qint64>("rowIconSize");
    QTest::addColumn<int>("edge");
    QTest::newRow("20") << qint64(20) << 16;
    QTest::newRow("28") << qint64(28) << 20;
    QTest::newRow("40") << qint64(40) << 32;
    QTest::newRow("0") << qint64(0) << 16;
    QTest::newRow("most negative") << std::numeric_limits<qint64>::min() << 16;
    QTest::newRow("largest") << std::numeric_limits<qint64>::max() << 512;
}

void TestContentView::exclusionIconSizes() {
    QFETCH(qint64, rowIconSize);
    QFETCH(int, edge);
    PopoverRig rig;
    addBundle(rig.workspace, "/apps/a.desktop", "org.a", "Alpha");
    ContentView& view = rig.open();
    rig.engine->addExcludedApp(QStringLiteral("/apps/a.desktop"));
    rig.set("rowIconSize", rowIconSize); // the open row follows the store
    ExcludedAppRow* row = view.exclusionSection()->rows().value(0);
    QVERIFY(row);
    QCOMPARE(row->currentIconSize(), edge);
    QCOMPARE(row->findChild<QLabel*>()->size(), QSize(edge, edge));
}

QTEST_MAIN(TestContentView)
#include "test_content_view.moc"
