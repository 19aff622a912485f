#include "LaunchAtLogin/LaunchAtLogin.h"
#include "engine/EngineRig.h"
#include "popover/AppRow.h"
#include "popover/ContentView.h"
#include "settings/Controls.h"
#include "settings/Panes.h"
#include "settings/SettingsView.h"
#include "settings/SettingsWindowController.h"
#include "support/Contrast.h"
#include "ui/ApplicationChooser.h"
#include "ui/ElidedLabel.h"
#include "ui/ExclusionList.h"

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

    // Every edit of hours or minutes ends in one write clamped to the key's range, taken
    // on Return or when the focus leaves, whatever was typed; only a change restarts the
    // countdowns. -1: nothing stored.
    void idleTimeEdits() {
        enum Field { Hours, Minutes };
        enum Done { Return, FocusLeaves };
        const struct {
            qint64 start;
            Field field;
            const char* typed; // empty: one step of `step`
            int step;
            Done done;
            qint64 stored;
        } cases[] = {{60, Hours, "0", 0, Return, 1},
                     {1, Minutes, "", -1, Return, 1},
                     {150, Hours, "100", 0, FocusLeaves, 4320},
                     {-1, Hours, "8", 0, Return, -1},
                     {150, Minutes, "75", 0, Return, 179},
                     {150, Hours, "-5", 0, FocusLeaves, 30},
                     {5000, Hours, "", -1, Return, 4260}};
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
                if (c.done == Return)
                    QTest::keyClick(field, Qt::Key_Return);
                else
                    rig.control<QSpinBox>(c.field == Hours ? "Minutes" : "Hours")->setFocus();
            } else {
                field->stepBy(c.step);
            }
            QCOMPARE(rig.store->integer("minutesUntilClose").value_or(-1), c.stored);
            QCOMPARE(rig.stamp(app),
                     c.stored == qMax<qint64>(c.start, 0) || c.stored < 0 ? stamp : stamp + 100);
        }
    }

    // Each control writes the one key its label names: what decides what is quit and
    // when, how the popover looks, the tray icon. A picker is given the segment to click.
    void controlsWriteTheirOwnKey() {
        const struct {
            const char *label, *key, *segment = nullptr;
        } controls[] = {{"Enable automatic quitting", "quittingEnabled"},
                        {"New apps are enabled by default", "newAppsEnabled"},
                        {"Show manual quit button in app rows", "showCloseButton"},
                        {"Ignore hidden apps", "ignoreHiddenApps"},
                        {"Force quit if normal quit fails", "forceQuitIfTerminateFails"},
                        {"Only quit while I'm away", "onlyQuitWhileAway"},
                        {"Tell me before closing", "closingNoticeMinutes"},
                        {"Launch grace period", "launchGraceMinutes"},
                        {"Refresh running apps every", "openAppsRefreshSeconds"},
                        {"blue", "accentColor"},
                        {"Popover width", "popoverWidth"},
                        {"App icon size", "rowIconSize"},
                        {"Use compact rows", "compactRows"},
                        {"Show empty state when no apps are counting down", "showEmptyState"},
                        {"Countdown style", "countdownStyle", "compact"},
                        {"Sort apps by", "sortMode", "recent"},
                        {"Show seconds below one minute", "showSecondsInCountdown"},
                        {"Bold countdown under", "countdownWarningMinutes"},
                        {"Icon size", "menuBarIconSize"},
                        {"Monochrome icon in the panel's text color", "menuBarIconTemplate"},
                        {"Show Exclusions section in the popover", "showExclusionsInPopover"},
                        {"Show empty state", "showEmptyState"}};
        SettingsRig rig;
        rig.open();
        QSignalSpy changed(&rig.store.store(), &UserDefaults::changed);
        for (const auto& c : controls) {
            changed.clear();
            if (auto* box = rig.control<QCheckBox>(c.label))
                box->click();
            else if (auto* spin = rig.control<QSpinBox>(c.label))
                spin->stepBy(1);
            else if (auto* picker = rig.control<SegmentedPicker>(c.label))
                picker->segment(c.segment)->click();
            else if (auto* swatch = rig.control<AccentSwatch>(c.label))
                swatch->click();
            QVERIFY2(changed.size() == 1, c.label);
            QCOMPARE(changed.at(0).at(0).toString(), QString::fromLatin1(c.key));
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
        // Every appearance key away from its default; restoring writes all twelve back
        // (gold for the accent) and nothing else.
        const char* appearance[] = {"accentColor",
                                    "popoverWidth",
                                    "rowIconSize",
                                    "compactRows",
                                    "countdownStyle",
                                    "countdownWarningMinutes",
                                    "sortMode",
                                    "showEmptyState",
                                    "menuBarIconSize",
                                    "showSecondsInCountdown",
                                    "menuBarIconTemplate",
                                    "showExclusionsInPopover"};
        const auto defaultOf = [](const QString& key) {
            for (const Keys::Entry& entry : Keys::all())
                if (key == QLatin1String(entry.name))
                    return entry.defaultValue;
            return QVariant();
        };
        for (const char* key : appearance) {
            const QVariant value = defaultOf(key);
            if (value.typeId() == QMetaType::Bool)
                rig.store->setBoolean(key, !value.toBool());
            else if (value.typeId() == QMetaType::LongLong)
                rig.store->setInteger(key, value.toLongLong() + 2);
            else
                rig.store->setText(key, "other");
        }
        const auto late = rig.workspace.add({.name = "Late"});
        for (const char* button : {"Re-scan running apps", "Clear per-app on/off choices",
                                   "Restore appearance defaults", "Reset all timers"}) {
            rig.clock.advance(1);
            rig.control<QAbstractButton>(button)->click();
            rig.drain();
        }
        QVERIFY(rig.stamp(app) == rig.clock.now() && rig.stamp(late) == rig.clock.now());
        QCOMPARE(rig.store.reopen()->data("com.Idlewatch.toggleStatus"), QByteArray("{}"));
        for (const char* key : appearance) {
            const auto stored = rig.store->integer(key) ? QVariant(*rig.store->integer(key))
                                : rig.store->boolean(key)
                                    ? QVariant(*rig.store->boolean(key))
                                    : QVariant(rig.store->text(key).value_or(""));
            QCOMPARE(stored,
                     QLatin1String(key) == "accentColor" ? QVariant("gold") : defaultOf(key));
        }
        QCOMPARE(rig.store->integer("minutesUntilClose"), 45);

        // The counts and values the diagnostics and the exclusions pane show.
        rig.workspace.addEntry("/x.desktop", {"org.x", "X"});
        rig.engine->addExcludedApp("/x.desktop");
        rig.store->setInteger("openAppsRefreshSeconds", 7);
        QCOMPARE(diagnosticsText(*rig.engine).section('\n', 1),
                 QStringLiteral("Tracked apps: 2\nExclusions: 1\nQuitting enabled: true\n"
                                "Idle timeout: 45m\nRefresh seconds: 7"));
        int counts = 0;
        for (const ExclusionList* list : rig.view->findChildren<ExclusionList*>()) {
            if (list->countLabel())
                QVERIFY(++counts && list->countLabel()->text().startsWith("1 "));
        }
        QCOMPARE(counts, 1);
    }
};

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
