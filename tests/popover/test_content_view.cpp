#include "PopoverRig.h"

#include "ui/Accent.h"
#include "ui/ExclusionList.h"

#include <QEnterEvent>
#include <QFrame>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

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

} // namespace

class TestContentView : public QObject {
    Q_OBJECT
private slots:
    void widthFollowsTheStore();
    void sortOrders_data();
    void sortOrders();
    void nameOrderIsCodePointOrderOfComposedNames();
    void emptyState_data();
    void emptyState();
    void followsEnginePublishing();
    void exclusionsSectionCanBeHidden();
    void footerHighlightAndActions();
};

void TestContentView::widthFollowsTheStore() {
    PopoverRig rig;
    rig.workspace.add({.name = "Editor"});
    ContentView& view = rig.open();
    QCOMPARE(view.width(), 320 + 10);
    rig.set("popoverWidth", qint64(440)); // seen by the open view at once
    QCOMPARE(view.contentWidth(), 440);
    QCOMPARE(view.width(), 440 + 10);
    QCOMPARE(view.rows().first()->width(), 440 - 20); // the list block's side padding
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
    QVERIFY(view.exclusionList()->isVisible());
    rig.set("showExclusionsInPopover", false);
    QVERIFY(!view.divider()->isVisible());
    QVERIFY(!view.exclusionList()->isVisible());
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

QTEST_MAIN(TestContentView)
#include "test_content_view.moc"
