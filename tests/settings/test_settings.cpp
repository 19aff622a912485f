#include "LaunchAtLogin/LaunchAtLogin.h"
#include "engine/EngineRig.h"
#include "popover/AppRow.h"
#include "popover/ContentView.h"
#include "popover/Countdown.h"
#include "preferences/BehaviorPreset.h"
#include "preferences/Preferences.h"
#include "settings/Controls.h"
#include "settings/Panes.h"
#include "settings/PreferenceGroup.h"
#include "settings/SettingsView.h"
#include "settings/SettingsWindowController.h"
#include "ui/Artwork.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStyleOption>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

namespace {
// WCAG contrast ratio of two opaque colours.
double contrast(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a) + 0.05, lb = luminance(b) + 0.05;
    return std::max(la, lb) / std::min(la, lb);
}
// The strongest contrast any pixel of `area` of `shot` has against `ground`.
double strongest(const QImage& shot, const QRect& area, const QColor& ground) {
    double best = 1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            best = std::max(best, contrast(shot.pixelColor(x, y), ground));
    return best;
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
    QLabel* label(const QString& prefix) const {
        for (QLabel* l : view->findChildren<QLabel*>())
            if (l->text().startsWith(prefix))
                return l;
        return nullptr;
    }
    RunningApplication addTrackedApp(const QString& name) {
        RunningApplication app = workspace.add({.name = name, .applicationId = "org." + name});
        engine->addCurrentRunningApps();
        drain();
        return app;
    }
    QString addEntry(const QString& id, const QString& name) {
        const QString path = QStringLiteral("/apps/%1.desktop").arg(id);
        workspace.addEntry(path, ApplicationEntry{id, name});
        return path;
    }
};
} // namespace

// The settings window: its panes, each bound live to the store, and how it reads.
class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { overrideAppVersion(std::nullopt, std::nullopt); }

    void openingTwiceKeepsOneWindowAndItsPane() {
        SettingsRig rig;
        rig.startAndDrain();
        SettingsWindowController controller(*rig.engine, rig.launchAtLogin);
        controller.openSettings(SettingsPane::general);
        QWidget* window = controller.window();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTest::mouseClick(controller.view()->sidebarButton(SettingsPane::menuBar), Qt::LeftButton);
        window->close();
        controller.openSettings(SettingsPane::support);
        QCOMPARE(controller.window(), window);
        QVERIFY(window->isVisible());
        QCOMPARE(controller.view()->selectedPane(), SettingsPane::menuBar);

        // At its minimum size no pane needs a sideways scroll, and a short pane does not
        // scroll as far as the tallest one.
        window->resize(100, 100);
        SettingsView* view = controller.view();
        for (SettingsPane pane : SettingsPanes::all()) {
            view->setSelectedPane(pane);
            QApplication::processEvents();
            QVERIFY(!view->detailScrollArea()->horizontalScrollBar()->isVisible());
            QCOMPARE(view->paneBody(pane)->isVisible(), true);
        }
        QCOMPARE(view->detailScrollArea()->verticalScrollBar()->maximum(), 0); // support
        view->setSelectedPane(SettingsPane::appearance);
        QApplication::processEvents();
        QVERIFY(view->detailScrollArea()->verticalScrollBar()->maximum() > 0);
    }

    // Text at least 4.5:1 and control borders at least 3:1 against the card they sit on,
    // as painted, in a light and a dark palette.
    void controlsReadOnTheirCards() {
        const QPalette light = QApplication::palette();
        QPalette dark = light;
        for (auto [role, rgb] : {std::pair{QPalette::Window, 0x2b2b2b},
                                 {QPalette::Base, 0x1e1e1e},
                                 {QPalette::Button, 0x353535},
                                 {QPalette::WindowText, 0xeeeeee},
                                 {QPalette::Text, 0xeeeeee},
                                 {QPalette::ButtonText, 0xeeeeee}})
            dark.setColor(role, QColor::fromRgb(rgb));
        for (const QPalette& palette : {light, dark}) {
            QApplication::setPalette(palette);
            SettingsRig rig;
            SettingsView& view = rig.open();
            view.resize(880, 560);
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            const QImage shot = view.grab().toImage();
            auto* box = rig.control<QCheckBox>("Show manual quit button in app rows");
            auto* card = qobject_cast<PreferenceGroup*>(box->parentWidget());
            const QColor ground =
                shot.pixelColor(card->mapTo(&view, QPoint(4, card->height() / 2)));
            QStyleOptionButton option;
            option.initFrom(box);
            const QRect indicator =
                box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
            const QPoint boxAt = box->mapTo(&view, QPoint());
            QVERIFY(strongest(shot,
                              QRect(boxAt + indicator.topLeft(), QSize(1, indicator.height())),
                              ground) >= 3);
            QRect text = box->rect().translated(boxAt);
            text.setLeft(boxAt.x() + indicator.right() + 4);
            QVERIFY(strongest(shot, text, ground) >= 4.5);
            auto* hours = rig.control<QSpinBox>("Hours");
            QVERIFY(strongest(shot, QRect(hours->mapTo(&view, QPoint()), QSize(1, hours->height())),
                              ground) >= 3);
        }
        QApplication::setPalette(light);
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
        } cases[] = {{60, Hours, "0", 0, 1},      {1, Minutes, "", -1, 1},
                     {150, Hours, "72", 0, 4320}, {150, Hours, "2", 0, 150},
                     {-1, Hours, "8", 0, -1},     {150, Minutes, "45", 0, 165},
                     {60, Hours, "", -1, 1},      {5000, Hours, "", -1, 4260}};
        for (const auto& c : cases) {
            SettingsRig rig;
            if (c.start >= 0)
                rig.store->setInteger("minutesUntilClose", c.start);
            SettingsView& view = rig.open();
            view.show();
            view.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&view));
            const RunningApplication app = rig.addTrackedApp("Editor");
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
            const qint64 shown = c.stored < 0 ? 480 : c.stored;
            QCOMPARE(rig.store->contains("minutesUntilClose"), c.stored >= 0);
            QCOMPARE(rig.store->integer("minutesUntilClose").value_or(480), shown);
            QCOMPARE(rig.stamp(app),
                     c.stored == qMax<qint64>(c.start, 0) || c.stored < 0 ? stamp : stamp + 100);
            QCOMPARE(rig.control<QSpinBox>("Hours")->value() * 60 +
                         rig.control<QSpinBox>("Minutes")->value(),
                     shown);
        }
    }

    // A field the user is typing in keeps the typing when the value changes elsewhere.
    void typingSurvivesAWriteFromElsewhere() {
        SettingsRig rig;
        SettingsView& view = rig.open();
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QSpinBox* hours = rig.control<QSpinBox>("Hours");
        hours->setFocus();
        hours->selectAll();
        QTest::keyClicks(hours, "3");
        rig.store->setInteger("minutesUntilClose", 90);
        QCOMPARE(hours->cleanText(), QStringLiteral("3"));
        QCOMPARE(rig.control<QSpinBox>("Minutes")->value(), 30);
        QTest::keyClick(hours, Qt::Key_Return);
        QCOMPARE(rig.store->integer("minutesUntilClose"), qint64(210));
    }
    // A click anywhere on a row writes its eight keys and restarts every countdown, each
    // time; the General pane follows at once.
    void clickAppliesThePreset() {
        for (const BehaviorPreset& preset : BehaviorPreset::all()) {
            SettingsRig rig;
            rig.store->setInteger("minutesUntilClose", 999);
            rig.store->setBoolean("ignoreHiddenApps", !preset.ignoreHiddenApps);
            rig.store->setText("accentColor", "blue");
            rig.store->setInteger("popoverWidth", 500);
            rig.open(SettingsPane::presets);
            const RunningApplication app = rig.addTrackedApp("Editor");
            QAbstractButton* row = rig.control<QAbstractButton>(preset.title);
            for (int round = 0; round < 2; ++round) {
                rig.clock.advance(100);
                QSignalSpy writes(&*rig.store, &UserDefaults::changed);
                QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(row->width() - 4, 4));
                QCOMPARE(writes.count(), 8);
                QCOMPARE(rig.stamp(app), rig.clock.now());
            }
            QCOMPARE(rig.store->integer("minutesUntilClose"), preset.minutesUntilClose);
            QCOMPARE(rig.store->integer("launchGraceMinutes"), preset.launchGraceMinutes);
            QCOMPARE(rig.store->boolean("ignoreHiddenApps"), preset.ignoreHiddenApps);
            QCOMPARE(rig.store->text("sortMode"), preset.sortMode);
            QCOMPARE(rig.store->integer("popoverWidth"), qint64(500));
            QCOMPARE(rig.control<QSpinBox>("Hours")->value(), preset.minutesUntilClose / 60);
            QVERIFY(rig.label("Current timeout: ")
                        ->text()
                        .endsWith(Preferences::formattedIdleTime(preset.minutesUntilClose)));
        }
    }
    // A stored value outside its key's range shows clamped in its control exactly as the
    // popover, the tray icon and the countdowns use it; only a change by the user writes.
    void outOfRangeValuesShowAsTheyAreUsed() {
        const QList<std::pair<const char*, const char*>> controls{
            {"Popover width", "popoverWidth"},
            {"App icon size", "rowIconSize"},
            {"Bold countdown under", "countdownWarningMinutes"},
            {"Icon size", "menuBarIconSize"},
            {"Launch grace period", "launchGraceMinutes"},
            {"Refresh running apps every", "openAppsRefreshSeconds"}};
        for (const qint64 stored : {qint64(-5), std::numeric_limits<qint64>::max()})
            for (const auto& [name, key] : controls) {
                SettingsRig rig;
                rig.workspace.add({.name = "Editor"});
                rig.store->setInteger(key, stored);
                rig.open();
                QSpinBox* spin = rig.control<QSpinBox>(name);
                const int shown = spin->value();
                ContentView popover(*rig.engine);
                const QString k = key;
                if (k == "popoverWidth")
                    QCOMPARE(popover.contentWidth(), shown);
                if (k == "rowIconSize")
                    QCOMPARE(popover.rows().value(0)->iconLabel()->width(), shown);
                if (k == "menuBarIconSize")
                    QCOMPARE(Artwork::clampedMenuBarIconSize(stored), shown);
                if (k == "countdownWarningMinutes")
                    QVERIFY(Countdown::isWarning(qint64(shown) * 60 - 1, stored) &&
                            !Countdown::isWarning(qint64(shown) * 60, stored));
                QCOMPARE(rig.store->integer(key), stored); // showing writes nothing
                if (shown > spin->minimum()) {             // a step goes from what is shown
                    spin->stepDown();
                    QCOMPARE(rig.store->integer(key), qint64(shown - spin->singleStep()));
                }
            }
    }

    void controlsWriteAndFollowTheirKeys() {
        SettingsRig rig;
        rig.store->setText("accentColor", "Blue"); // no swatch of that name
        rig.open();
        auto* appearance =
            rig.control<QCheckBox>("Show empty state when no apps are counting down");
        auto* menuBar = rig.control<QCheckBox>("Show empty state");
        QVERIFY(!rig.store->contains("showEmptyState")); // showing a default writes nothing
        menuBar->click();
        QCOMPARE(rig.store->boolean("showEmptyState"), false);
        QVERIFY(!appearance->isChecked()); // both switches are one key

        const QList<AccentSwatch*> swatches = rig.view->findChildren<AccentSwatch*>();
        QVERIFY(std::none_of(swatches.begin(), swatches.end(),
                             [](AccentSwatch* s) { return s->isRinged(); }));
        rig.control<AccentSwatch>("green")->click();
        QCOMPARE(rig.store->text("accentColor"), QStringLiteral("green"));
        for (AccentSwatch* swatch : swatches)
            QCOMPARE(swatch->isRinged(), swatch->name() == "green");

        auto* sort = rig.control<SegmentedPicker>("Sort apps by");
        QTest::mouseClick(sort->segment("remaining"), Qt::LeftButton);
        QTest::mouseClick(sort->segment("remaining"), Qt::LeftButton); // stays selected
        QCOMPARE(rig.store->text("sortMode"), QStringLiteral("remaining"));
        QCOMPARE(sort->selectedValue(), QStringLiteral("remaining"));
        rig.store->setText("sortMode", "bogus");
        QCOMPARE(sort->selectedValue(), QString());
    }
    // The reset writes twelve appearance keys and nothing else: not the timers, the
    // quitting keys, the exclusions nor the per-app choices.
    void restoreAppearanceDefaults() {
        SettingsRig rig;
        UserDefaults& store = *rig.store;
        store.setText("accentColor", "blue");
        store.setInteger("popoverWidth", 500);
        store.setBoolean("menuBarIconTemplate", false);
        store.setInteger("minutesUntilClose", 45);
        store.setBoolean("showCloseButton", true);
        store.setText("customKeyOfAnotherVersion", "kept");
        rig.open(SettingsPane::advanced);
        rig.engine->addExcludedApp(rig.addEntry("org.example.Mail", "Mail"));
        rig.engine->setToggle("Editor", false);
        const QStringList untouched{"minutesUntilClose", "showCloseButton",
                                    "customKeyOfAnotherVersion", "com.Idlewatch.excludedApps",
                                    "com.Idlewatch.toggleStatus"};
        QMap<QString, QString> before;
        for (const QString& key : untouched)
            before[key] = store.data(key).value_or(QByteArray()) + store.text(key).value_or("") +
                          QByteArray::number(store.integer(key).value_or(-1));
        QSignalSpy writes(&store, &UserDefaults::changed);
        rig.control<QPushButton>("Restore appearance defaults")->click();
        QCOMPARE(writes.count(), 12);
        QCOMPARE(store.text("accentColor"), QStringLiteral("gold"));
        QCOMPARE(store.integer("popoverWidth"), qint64(320));
        QCOMPARE(store.boolean("menuBarIconTemplate"), true);
        for (const QString& key : untouched)
            QCOMPARE(store.data(key).value_or(QByteArray()) + store.text(key).value_or("") +
                         QByteArray::number(store.integer(key).value_or(-1)),
                     before[key]);
    }

    void maintenanceButtonsReachTheEngine() {
        SettingsRig rig;
        rig.open(SettingsPane::advanced);
        const RunningApplication first = rig.addTrackedApp("Editor");
        rig.engine->setToggle("Editor", false);
        const RunningApplication second = rig.workspace.add({.name = "Mail"});
        rig.control<QPushButton>("Re-scan running apps")->click();
        rig.drain();
        QVERIFY(rig.tracked(second));
        rig.clock.advance(50);
        rig.control<QPushButton>("Reset all timers")->click();
        QCOMPARE(rig.stamp(first), rig.clock.now());
        QCOMPARE(rig.stamp(second), rig.clock.now());
        rig.control<QPushButton>("Clear per-app on/off choices")->click();
        QVERIFY(rig.engine->toggleStatus().isEmpty());
    }

    // Six lines, nothing after the last; an empty version leaves two blanks.
    void diagnostics() {
        overrideAppVersion(QString(""), QStringLiteral("45"));
        SettingsRig rig;
        rig.store->setBoolean("quittingEnabled", false);
        rig.store->setInteger("minutesUntilClose", 90);
        rig.store->setInteger("openAppsRefreshSeconds", 12);
        rig.open(SettingsPane::support);
        rig.addTrackedApp("Editor");
        rig.addTrackedApp("Mail");
        rig.engine->addExcludedApp(rig.addEntry("org.example.Notes", "Notes"));
        QVERIFY(rig.label("Version  (45)"));
        QVERIFY(rig.label("2 tracked apps, 1 exclusions"));
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->setText("something older");
        rig.control<QPushButton>("Copy diagnostics")->click();
        QCOMPARE(clipboard->text(), "Idlewatch  (45)\nTracked apps: 2\nExclusions: 1\n"
                                    "Quitting enabled: false\nIdle timeout: 1h 30m\n"
                                    "Refresh seconds: 12");
        QCOMPARE(clipboard->mimeData()->formats(), QStringList{"text/plain"});
    }
};

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
