#include "LaunchAtLogin/LaunchAtLogin.h"
#include "engine/EngineRig.h"
#include "popover/AppRow.h"
#include "popover/ContentView.h"
#include "settings/Panes.h"
#include "settings/SettingsView.h"
#include "settings/SettingsWindowController.h"
#include "support/Contrast.h"
#include "ui/ApplicationChooser.h"
#include "ui/ElidedLabel.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

namespace {
// Walks the focus chain from the focused widget with Tab until it comes round: checks that
// each stop shows its focus (it draws differently focused) and that an icon-only control has
// an accessible name and a tooltip. The stops, in order.
void tabThrough(QWidget* window, QList<QWidget*>& stops) {
    stops.clear();
    for (QWidget* w = QApplication::focusWidget(); w && !stops.contains(w) && stops.size() < 300;
         w = QApplication::focusWidget()) {
        stops << w;
        QTest::keyClick(w, Qt::Key_Tab);
    }
    for (QWidget* w : std::as_const(stops)) {
        w->setFocus(Qt::TabFocusReason);
        const QImage focused = w->grab().toImage();
        window->setFocus(Qt::OtherFocusReason);
        const QString what = w->metaObject()->className() + (' ' + w->accessibleName());
        QVERIFY2(w->grab().toImage() != focused, qPrintable("no focus shown: " + what));
        const auto* button = qobject_cast<QAbstractButton*>(w);
        if (button && button->text().isEmpty())
            QVERIFY2(!w->accessibleName().isEmpty() && !w->toolTip().isEmpty(), qPrintable(what));
    }
}

// A settings view over an engine rig. The launch-at-login switch reads a private
// autostart folder, never the user's.
struct SettingsRig : EngineRig {
    QTemporaryDir config;
    LaunchAtLogin::Observable launchAtLogin;
    std::unique_ptr<SettingsView> view;

    SettingsRig() { qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit()); }

    SettingsView& open(SettingsPane pane = SettingsPane::general) {
        startAndDrain();
        view = std::make_unique<SettingsView>(*engine, launchAtLogin, pane);
        return *view;
    }
    // The control whose accessible name or button text is `name`.
    template <typename W> W* control(const QString& name) const {
        for (W* widget : view->findChildren<W*>()) {
            if (widget->accessibleName() == name)
                return widget;
            if constexpr (std::is_base_of_v<QAbstractButton, W>)
                if (widget->text() == name)
                    return widget;
        }
        return nullptr;
    }
};
} // namespace

// The settings window: its panes, each bound live to the store, and how it reads.
class TestSettings : public QObject {
    Q_OBJECT
private slots:
    // Text on an accent fill (the selected sidebar row, gold for Presets) and a switched-off
    // row's name in the popover read at 4.5:1, as painted, in a light and a dark palette.
    void textReadsOnItsGround() {
        const QPalette light = QApplication::palette();
        const QPalette dark(QColor(0x353535), QColor(0x2b2b2b)); // light text, dark bases
        for (const QPalette& palette : {light, dark}) {
            QApplication::setPalette(palette);
            SettingsRig rig;
            SettingsView& view = rig.open(SettingsPane::presets);
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            const QImage row = view.sidebarButton(SettingsPane::presets)->grab().toImage();
            QVERIFY(strongest(row, row.rect().adjusted(40, 4, -4, -4), row.pixelColor(4, 4)) >=
                    4.5);
            rig.engine->setToggle("Editor", false);
            rig.workspace.add({.name = "Editor"});
            rig.engine->addCurrentRunningApps();
            ContentView popover(*rig.engine);
            popover.show();
            QVERIFY(QTest::qWaitForWindowExposed(&popover));
            const QImage rows = popover.grab().toImage();
            const QWidget* name = popover.rows().value(0)->nameLabel();
            QVERIFY(strongest(rows, QRect(name->mapTo(&popover, QPoint()), name->size()),
                              rows.pixelColor(2, 2)) >= 4.5);
        }
        QApplication::setPalette(light);
    }

    // The application chooser (the Exclusions pane's "Add App") acts on what it shows: a search
    // drops the selection it hides and finds generic names, keywords and programs; Return and a
    // double-click choose; Idlewatch itself is not offered.
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
            QCOMPARE(list->model()->rowCount(), 2); // CopyQ and Vim, by name
            const auto at = [list](int row) {
                QTest::qWait(0); // laid out
                return list->visualRect(list->model()->index(row, 0)).center();
            };
            QTest::keyClicks(search, "clipboard");
            QVERIFY(list->isRowHidden(1) && !list->isRowHidden(0));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at(0));
            search->clear();
            QTest::keyClicks(search, "editor");
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at(1));
            if (doubleClick) // the second click of a double-click comes as a double-click event
                QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at(1));
            else
                QTest::keyClick(list, Qt::Key_Return);
            QCOMPARE(chooser.result(), int(QDialog::Accepted));
            QCOMPARE(chooser.chosenPaths(), QStringList{"/a/vim.desktop"});
        }
    }

    // Everything works from the keyboard: every control of the popover and of each pane shows
    // its focus, the popover's Tab order runs top to bottom, icon-only controls are named,
    // and Escape and Ctrl+W close the settings window.
    void keyboardReachesEverything() {
        SettingsRig rig;
        rig.workspace.addEntry("/apps/v.desktop", ApplicationEntry{"org.v", "Viewer"});
        rig.store->setBoolean("showCloseButton", true);
        const auto editor = rig.workspace.add({.name = "Editor"});
        rig.startAndDrain();
        rig.engine->addExcludedApp("/apps/v.desktop");
        ContentView popover(*rig.engine);
        popover.show();
        popover.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&popover));
        QApplication::focusWidget()->clearFocus(); // Tab from nothing: the chain's start
        QTest::keyClick(&popover, Qt::Key_Tab);
        QList<QWidget*> stops;
        tabThrough(&popover, stops);
        QVERIFY(!QTest::currentTestFailed() && stops.size() >= 7);
        const auto y = [&](const QWidget* w) {
            return w->mapTo(&popover, QPoint()).y() + w->height() / 2;
        };
        for (qsizetype i = 1; i < stops.size(); ++i)
            QVERIFY(y(stops[i - 1]) <= y(stops[i]) + 4); // middles, as a line reads
        rig.clock.advance(60);
        QTest::keyClick(stops.value(1), Qt::Key_Return); // Restart, pressed as Space would
        QTRY_COMPARE(rig.stamp(editor), rig.clock.now());

        SettingsWindowController controller(*rig.engine, rig.launchAtLogin);
        controller.openSettings(SettingsPane::general);
        QWidget* window = controller.window();
        QVERIFY(QTest::qWaitForWindowActive(window));
        for (SettingsPane pane : SettingsPanes::all()) {
            controller.view()->setSelectedPane(pane);
            controller.view()->sidebarButton(pane)->setFocus(Qt::TabFocusReason);
            tabThrough(window, stops);
            QVERIFY(!QTest::currentTestFailed() && stops.size() > 1);
        }
        for (const QKeySequence& close : {QKeySequence(Qt::Key_Escape), QKeySequence("Ctrl+W")}) {
            controller.openSettings(SettingsPane::general);
            QVERIFY(QTest::qWaitForWindowActive(window));
            QTest::keySequence(window, close);
            QVERIFY(!window->isVisible());
        }
        QCOMPARE(controller.view()->selectedPane(), SettingsPane::support); // as it was left
    }

    // Every edit of hours or minutes ends in one write clamped to the key's range, and
    // only a change restarts the countdowns. -1: nothing stored.
    void idleTimeEdits() {
        enum Field { Hours, Minutes };
        const struct {
            qint64 start;
            Field field;
            const char* typed; // empty: one step of `step`
            int step;
            qint64 stored;
        } cases[] = {{60, Hours, "0", 0, 1},       {1, Minutes, "", -1, 1},
                     {150, Hours, "72", 0, 4320},  {-1, Hours, "8", 0, -1},
                     {150, Minutes, "45", 0, 165}, {5000, Hours, "", -1, 4260}};
        for (const auto& c : cases) {
            SettingsRig rig;
            if (c.start >= 0)
                rig.store->setInteger("minutesUntilClose", c.start);
            const RunningApplication app = rig.workspace.add({.name = "Editor"});
            rig.open().show();
            QVERIFY(QTest::qWaitForWindowActive(rig.view.get()));
            const double stamp = rig.stamp(app);
            rig.clock.advance(100);
            QSpinBox* field = rig.control<QSpinBox>(c.field == Hours ? "Hours" : "Minutes");
            if (*c.typed) {
                field->setFocus();
                field->selectAll();
                QTest::keyClicks(field, c.typed);
                QTest::keyClick(field, Qt::Key_Return);
            } else {
                field->stepBy(c.step);
            }
            QCOMPARE(rig.store->integer("minutesUntilClose").value_or(-1), c.stored);
            QCOMPARE(rig.stamp(app),
                     c.stored == qMax<qint64>(c.start, 0) || c.stored < 0 ? stamp : stamp + 100);
        }
    }

    // Each switch and number field that decides what is quit, and when, writes the one key
    // its label names.
    void controlsWriteTheirOwnKey() {
        const std::pair<const char*, const char*> keys[] = {
            {"Enable automatic quitting", "quittingEnabled"},
            {"New apps are enabled by default", "newAppsEnabled"},
            {"Show manual quit button in app rows", "showCloseButton"},
            {"Ignore hidden apps", "ignoreHiddenApps"},
            {"Force quit if normal quit fails", "forceQuitIfTerminateFails"},
            {"Launch grace period", "launchGraceMinutes"},
            {"Refresh running apps every", "openAppsRefreshSeconds"}};
        SettingsRig rig;
        rig.open();
        QSignalSpy changed(&rig.store.store(), &UserDefaults::changed);
        for (const auto& [label, key] : keys) {
            changed.clear();
            if (auto* box = rig.control<QCheckBox>(label))
                box->click();
            else if (auto* spin = rig.control<QSpinBox>(label))
                spin->stepBy(1);
            QCOMPARE(changed.size(), 1);
            QCOMPARE(changed.at(0).at(0).toString(), QString::fromLatin1(key));
        }
    }
    // Each preset button applies its preset (the values themselves: the engine's preset
    // test), and the other panes show them at once; the preset in use is checked. Applying
    // says what changed and can be undone, countdowns included. The maintenance buttons do
    // what they say; restoring the appearance leaves the timeout alone.
    void buttonsDoWhatTheySay() {
        SettingsRig rig;
        const auto app = rig.workspace.add({.name = "Editor"});
        rig.open(SettingsPane::presets);
        const auto inUse = [&](const char* title) {
            return rig.control<QAbstractButton>(title)->isChecked();
        };
        QVERIFY(!inUse("Battery Saver") && !inUse("Focus Sprint") && !inUse("Deep Clean"));
        for (const auto& [title, minutes] :
             {std::pair{"Battery Saver", 10}, {"Focus Sprint", 45}, {"Deep Clean", 5}}) {
            rig.clock.advance(60);
            rig.control<QAbstractButton>(title)->click();
            QCOMPARE(rig.store->integer("minutesUntilClose"), qint64(minutes));
            QCOMPARE(rig.control<QSpinBox>("Minutes")->value(), minutes);
            QVERIFY(inUse(title) && !inUse("Focus Sprint") == (minutes != 45));
        }
        auto* undo = rig.control<QAbstractButton>("Undo");
        QVERIFY(undo && undo->isVisibleTo(rig.view.get()));
        QVERIFY(rig.control<QLabel>("What the preset changed")->text().contains("45m → 5m"));
        undo->click();
        QCOMPARE(rig.store->integer("minutesUntilClose"), 45);
        QCOMPARE(rig.stamp(app), rig.clock.now() - 60); // as Focus Sprint left it
        QVERIFY(inUse("Focus Sprint") && !inUse("Deep Clean"));
        QVERIFY(!undo->isVisibleTo(rig.view.get()));
        rig.store->setInteger("popoverWidth", 500);
        const auto late = rig.workspace.add({.name = "Late"});
        for (const char* button : {"Re-scan running apps", "Clear per-app on/off choices",
                                   "Restore appearance defaults", "Reset all timers"}) {
            rig.clock.advance(1);
            rig.control<QAbstractButton>(button)->click();
            rig.drain();
        }
        QVERIFY(rig.stamp(app) == rig.clock.now() && rig.stamp(late) == rig.clock.now());
        QVERIFY(rig.engine->toggleStatus().isEmpty() && rig.store->integer("popoverWidth") == 320);
        QCOMPARE(rig.store->integer("minutesUntilClose"), 45);
    }
};

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
