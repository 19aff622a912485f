#include "LaunchAtLogin/LaunchAtLogin.h"
#include "engine/EngineRig.h"
#include "settings/Controls.h"
#include "settings/Panes.h"
#include "settings/SettingsView.h"
#include "ui/ExclusionList.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

namespace {
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
    bool openActive() {
        open().show();
        view->activateWindow();
        return QTest::qWaitForWindowActive(view.get());
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
            QVERIFY(rig.openActive());
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
        } controls[] = {
            {"Enable automatic quitting", "quittingEnabled"},
            {"New apps are enabled by default", "newAppsEnabled"},
            {"Show manual quit button in app rows", "showCloseButton"},
            {"Ignore hidden apps", "ignoreHiddenApps"},
            {"Force quit if normal quit fails", "forceQuitIfTerminateFails"},
            {"Only quit while I'm away", "onlyQuitWhileAway"},
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
            {"Show Exclusions section in the menu bar popover", "showExclusionsInPopover"},
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
    // test), and the other panes show them at once. The maintenance buttons do what they say;
    // restoring the appearance leaves the timeout alone.
    void buttonsDoWhatTheySay() {
        SettingsRig rig;
        const auto app = rig.workspace.add({.name = "Editor"});
        rig.open(SettingsPane::presets);
        for (const auto& [title, minutes] :
             {std::pair{"Battery Saver", 10}, {"Focus Sprint", 45}, {"Deep Clean", 5}}) {
            rig.control<QAbstractButton>(title)->click();
            QCOMPARE(rig.store->integer("minutesUntilClose"), qint64(minutes));
            QCOMPARE(rig.control<QSpinBox>("Minutes")->value(), minutes);
        }
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
        QCOMPARE(rig.store->integer("minutesUntilClose"), 5);

        // The counts and values the diagnostics and the exclusions pane show.
        rig.workspace.addEntry("/x.desktop", {"org.x", "X"});
        rig.engine->addExcludedApp("/x.desktop");
        rig.store->setInteger("openAppsRefreshSeconds", 7);
        QCOMPARE(diagnosticsText(*rig.engine).section('\n', 1),
                 QStringLiteral("Tracked apps: 2\nExclusions: 1\nQuitting enabled: true\n"
                                "Idle timeout: 5m\nRefresh seconds: 7"));
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
