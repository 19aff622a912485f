#include "SettingsRig.h"

#include "settings/GeneralPane.h"
#include "settings/SettingsWindowController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

class TestSettingsWindow : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { SettingsWindowController::resetCurrent(); }

    void openingTwiceKeepsOneWindowAndItsPane() {
        SettingsRig rig;
        rig.engine = std::make_unique<RunningAppsManager>(rig.workspace, *rig.store, rig.clock);

        SettingsWindowController::openSettings(*rig.engine, SettingsPane::general);
        SettingsWindowController* first = SettingsWindowController::current();
        QVERIFY(first);
        QWidget* window = first->window();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->windowTitle(), QStringLiteral("Idlewatch Settings"));
        QCOMPARE(window->size(), QSize(880, 560));
        QCOMPARE(first->view()->selectedPane(), SettingsPane::general);

        QTest::mouseClick(first->view()->sidebarButton(SettingsPane::menuBar), Qt::LeftButton);
        window->close();
        QVERIFY(!window->isVisible());

        SettingsWindowController::openSettings(*rig.engine, SettingsPane::support);
        QCOMPARE(SettingsWindowController::current(), first);
        QCOMPARE(first->window(), window);
        QVERIFY(window->isVisible());
        QCOMPARE(first->view()->selectedPane(), SettingsPane::menuBar);
        const QWidgetList windows = QApplication::topLevelWidgets();
        QCOMPARE(std::count_if(windows.begin(), windows.end(),
                               [](QWidget* w) { return w->windowTitle() == "Idlewatch Settings"; }),
                 1);
    }

    void windowCannotShrinkBelowItsMinimum() {
        SettingsRig rig;
        rig.engine = std::make_unique<RunningAppsManager>(rig.workspace, *rig.store, rig.clock);
        SettingsWindowController::openSettings(*rig.engine, SettingsPane::appearance);
        QWidget* window = SettingsWindowController::current()->window();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->minimumSize(), QSize(780, 500));
        window->resize(400, 300);
        QCOMPARE(window->size(), QSize(780, 500));
        // Every pane's content fits the minimum width: nothing needs a sideways scroll,
        // and the taller panes scroll vertically.
        SettingsView* view = SettingsWindowController::current()->view();
        for (SettingsPane pane : SettingsPanes::all()) {
            view->setSelectedPane(pane);
            QApplication::processEvents();
            QVERIFY2(!view->detailScrollArea()->horizontalScrollBar()->isVisible(),
                     qPrintable(SettingsPanes::rawValue(pane)));
        }
        view->setSelectedPane(SettingsPane::appearance);
        QApplication::processEvents();
        QVERIFY(view->detailScrollArea()->verticalScrollBar()->maximum() > 0);
        QCOMPARE(view->sidebar()->width(), 206);
    }

    // The sidebar lists the panes in order, and a click shows the pane's title and subtitle.
    void sidebarSelectsPanes_data() {
        QTest::addColumn<SettingsPane>("pane");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("subtitle");
        QTest::newRow("general") << SettingsPane::general << "General"
                                 << "Startup, enablement, and the main idle timer.";
        QTest::newRow("presets") << SettingsPane::presets << "Presets"
                                 << "One-click bundles of timer, scanning, and popover settings.";
        QTest::newRow("behavior") << SettingsPane::behavior << "Behavior"
                                  << "How Idlewatch scans, waits, and quits apps.";
        QTest::newRow("appearance") << SettingsPane::appearance << "Appearance"
                                    << "Popover layout, countdowns, and visual emphasis.";
        QTest::newRow("menuBar") << SettingsPane::menuBar << "Menu Bar"
                                 << "Menu bar icon and popover composition.";
        QTest::newRow("exclusions") << SettingsPane::exclusions << "Exclusions"
                                    << "Apps that Idlewatch should always leave open.";
        QTest::newRow("advanced") << SettingsPane::advanced << "Advanced"
                                  << "Maintenance tools and local preference resets.";
        QTest::newRow("support") << SettingsPane::support << "Support"
                                 << "Links, diagnostics, and donation support.";
    }
    void sidebarSelectsPanes() {
        QFETCH(SettingsPane, pane);
        QFETCH(QString, title);
        QFETCH(QString, subtitle);
        SettingsRig rig;
        SettingsView& view =
            rig.open(pane == SettingsPane::general ? SettingsPane::support : SettingsPane::general);
        view.resize(880, 560);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QAbstractButton* row = view.sidebarButton(pane);
        QCOMPARE(row->text(), title);
        QTest::mouseClick(row, Qt::LeftButton);
        QCOMPARE(view.selectedPane(), pane);
        QCOMPARE(view.paneTitleLabel()->text(), title);
        QCOMPARE(view.paneSubtitleLabel()->text(), subtitle);
        for (SettingsPane other : SettingsPanes::all())
            QCOMPARE(view.paneBody(other)->isVisible(), other == pane);
    }

    void sidebarOrderAndVersion() {
        SettingsRig rig;
        SettingsView& view = rig.open();
        QStringList titles;
        for (SettingsPane pane : SettingsPanes::all())
            titles << view.sidebarButton(pane)->text();
        QCOMPARE(titles, (QStringList{"General", "Presets", "Behavior", "Appearance", "Menu Bar",
                                      "Exclusions", "Advanced", "Support"}));
        const QRegularExpression version(QStringLiteral("^\\d+\\.\\d+\\.\\d+ \\(\\S+\\)$"));
        QVERIFY2(version.match(view.versionLabel()->text()).hasMatch(),
                 qPrintable(view.versionLabel()->text()));
    }

    // Creating the view converts a legacy idle time, and the General pane shows the result.
    void creationMigratesTheLegacyIdleTime() {
        SettingsRig rig;
        rig.engine = std::make_unique<RunningAppsManager>(rig.workspace, *rig.store, rig.clock);
        rig.store->setInteger("hoursUntilClose", 2);
        // Only the view may have migrated it here: the engine was created before.
        QVERIFY(!rig.store->contains("minutesUntilClose"));
        rig.view = std::make_unique<SettingsView>(*rig.engine, SettingsPane::general);
        QCOMPARE(rig.store->integer("minutesUntilClose"), qint64(120));
        auto& general = rig.pane<GeneralPane>(SettingsPane::general);
        QCOMPARE(general.hoursField()->text(), QStringLiteral("2"));
        QCOMPARE(general.minutesField()->text(), QStringLiteral("0"));
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "test_settings_window.moc"
