#include "SettingsRig.h"

#include "settings/SettingsWindowController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

class TestSettingsWindow : public QObject {
    Q_OBJECT
private slots:
    void openingTwiceKeepsOneWindowAndItsPane() {
        SettingsRig rig;
        rig.engine = std::make_unique<RunningAppsManager>(rig.workspace, *rig.store, rig.clock);
        SettingsWindowController controller(*rig.engine, rig.launchAtLogin);
        QVERIFY(!controller.window());

        controller.openSettings(SettingsPane::general);
        QWidget* window = controller.window();
        QVERIFY(window);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->windowTitle(), QStringLiteral("Idlewatch Settings"));
        QCOMPARE(window->size(), QSize(880, 560));
        QCOMPARE(controller.view()->selectedPane(), SettingsPane::general);

        QTest::mouseClick(controller.view()->sidebarButton(SettingsPane::menuBar), Qt::LeftButton);
        window->close();
        QVERIFY(!window->isVisible());

        controller.openSettings(SettingsPane::support);
        QCOMPARE(controller.window(), window);
        QVERIFY(window->isVisible());
        QCOMPARE(controller.view()->selectedPane(), SettingsPane::menuBar);
        const QWidgetList windows = QApplication::topLevelWidgets();
        QCOMPARE(std::count_if(windows.begin(), windows.end(),
                               [](QWidget* w) { return w->windowTitle() == "Idlewatch Settings"; }),
                 1);
    }

    void windowCannotShrinkBelowItsMinimum() {
        SettingsRig rig;
        rig.engine = std::make_unique<RunningAppsManager>(rig.workspace, *rig.store, rig.clock);
        SettingsWindowController controller(*rig.engine, rig.launchAtLogin);
        controller.openSettings(SettingsPane::appearance);
        QWidget* window = controller.window();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->minimumSize(), QSize(780, 500));
        window->resize(400, 300);
        QCOMPARE(window->size(), QSize(780, 500));
        // Every pane's content fits the minimum width: nothing needs a sideways scroll,
        // and the taller panes scroll vertically.
        SettingsView* view = controller.view();
        for (SettingsPane pane : SettingsPanes::all()) {
            view->setSelectedPane(pane);
            QApplication::processEvents();
            QVERIFY2(!view->detailScrollArea()->horizontalScrollBar()->isVisible(),
                     qPrintable(SettingsPanes::rawValue(pane)));
        }
        view->setSelectedPane(SettingsPane::appearance);
        QApplication::processEvents();
        QVERIFY(view->detailScrollArea()->verticalScrollBar()->maximum() > 0);
        // A short pane does not scroll as far as the tallest one would.
        view->setSelectedPane(SettingsPane::exclusions);
        QApplication::processEvents();
        QCOMPARE(view->detailScrollArea()->verticalScrollBar()->maximum(), 0);
    }

    // A click on a sidebar row shows that pane alone, under its own title.
    void sidebarSelectsPanes() {
        SettingsRig rig;
        SettingsView& view = rig.open(SettingsPane::support);
        view.resize(880, 560);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QSignalSpy changes(&view, &SettingsView::selectedPaneChanged);
        for (SettingsPane pane : SettingsPanes::all()) {
            QTest::mouseClick(view.sidebarButton(pane), Qt::LeftButton);
            QCOMPARE(view.selectedPane(), pane);
            QCOMPARE(view.paneTitleLabel()->text(), SettingsPanes::title(pane));
            for (SettingsPane other : SettingsPanes::all()) {
                QCOMPARE(view.paneBody(other)->isVisible(), other == pane);
                QCOMPARE(view.sidebarButton(other)->isChecked(), other == pane);
            }
        }
        QCOMPARE(changes.size(), SettingsPanes::all().size());
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "test_settings_window.moc"
