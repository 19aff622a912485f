#include "engine/EngineRig.h"
#include "popover/AppRow.h"
#include "popover/ContentView.h"
#include "popover/Countdown.h"
#include "preferences/PreferenceKeys.h"
#include "ui/AccentCheckBox.h"
#include "ui/ElidedLabel.h"
#include "ui/ExclusionList.h"

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QTest>
#include <QToolButton>

#include <limits>

namespace {
const qint64 kLargest = std::numeric_limits<qint64>::max();
const qint64 kNever = Countdown::kNeverSeconds;

// An engine rig with the popover's content view on top.
struct PopoverRig : EngineRig {
    std::unique_ptr<ContentView> view;

    ContentView& open() {
        startAndDrain();
        view = std::make_unique<ContentView>(*engine);
        view->show();
        return *view;
    }
    AppRow* row(const RunningApplication& app) const {
        for (AppRow* r : view->rows())
            if (r->app() == app)
                return r;
        return nullptr;
    }
};
} // namespace

class TestPopover : public QObject {
    Q_OBJECT
private slots:
    void countdownTexts() {
        const struct {
            qint64 seconds;
            const char* style;
            bool showSeconds;
            const char* text;
        } cases[] = {{7260, "verbose", true, "2h 1m left"}, {3600, "compact", true, "1h"},
                     {59, "compact", false, "<1m"},         {-kLargest - 1, "compact", true, "0s"},
                     {kNever, "compact", true, "23976h"},   {kNever + 1, "verbose", true, "never"}};
        for (const auto& c : cases)
            QCOMPARE(Countdown::formatTime(c.seconds, c.style, c.showSeconds), QString(c.text));
        // Under the threshold clamped to its range: 0 acts as a minute, a huge one as the most.
        const qint64 most = Keys::countdownWarningMinutes.range().maximum * 60;
        const struct {
            qint64 remaining, minutes;
            bool warning;
        } warnings[] = {
            {3599, 60, true}, {3600, 60, false}, {59, 0, true}, {most - 1, kLargest, true}};
        for (const auto& w : warnings)
            QCOMPARE(Countdown::isWarning(w.remaining, w.minutes), w.warning);
    }

    void togglingPersistsAndPausesTheRow() {
        PopoverRig rig;
        const auto app = rig.workspace.add({.name = "Editor"});
        const auto twin = rig.workspace.add({.name = "Editor"}); // one name, one switch
        rig.store->setInteger("minutesUntilClose", 60);
        rig.open();
        rig.clock.advance(120);
        AppRow* row = rig.row(app);
        QTest::mouseClick(row->checkbox(), Qt::LeftButton);
        QVERIFY(rig.store.reopen()->data("com.Idlewatch.toggleStatus")->contains("false"));
        QVERIFY(!rig.row(twin)->checkbox()->isChecked());
        QVERIFY(row->countdownLabel()->isHidden() && !row->restartButton()->isEnabled());
        rig.clock.advance(60);
        QTest::mouseClick(row->checkbox(), Qt::LeftButton); // continues where it was
        QCOMPARE(row->countdownLabel()->text(), QStringLiteral("57m left"));
    }

    // Restart and quit-now; a countdown that would end in nothing says why instead of
    // "0s left" for ever, and offers no quit-now.
    void rowButtons() {
        PopoverRig rig;
        const auto app = rig.workspace.add({.name = "Editor"});
        const auto stuck = rig.workspace.add({.name = "Stuck", .acceptsPoliteQuit = false});
        const auto asking = rig.workspace.add({.name = "Asking"});
        rig.workspace.setAskingUser(asking, true, true);
        rig.store->setBoolean("showCloseButton", true);
        rig.open();
        rig.clock.advance(100 * 60);
        QTest::mouseClick(rig.row(app)->restartButton(), Qt::LeftButton);
        QCOMPARE(rig.stamp(app), rig.clock.now());
        rig.workspace.setQuitEndsApp(app, false);
        QTest::mouseClick(rig.row(app)->quitButton(), Qt::LeftButton);
        QCOMPARE(rig.workspace.requestsFor(app), {FakeWorkspace::RequestKind::Quit});
        QVERIFY(rig.row(app)); // gone only when a sweep finds the application gone
        for (const auto& other : {stuck, asking}) {
            QVERIFY(!rig.row(other)->countdownLabel()->text().endsWith("left"));
            QVERIFY(!rig.row(other)->quitButton()->isEnabled());
        }
        rig.store->setBoolean("forceQuitIfTerminateFails", true);
        rig.row(stuck)->refresh();
        QCOMPARE(rig.row(stuck)->countdownLabel()->text(), QStringLiteral("6h 20m left"));
    }

    // Two copies are told apart by their windows' titles; a row without a desktop entry is
    // excluded from its context menu by its identity, with its executable as the path.
    void copiesAndExcludingAnyRow() {
        PopoverRig rig;
        for (const char* title : {"notes.txt", "todo.txt"})
            rig.workspace.add({.name = "Editor", .windowTitle = title});
        const auto clock = rig.workspace.add({.name = "XClock",
                                              .applicationId = "XClock",
                                              .executablePath = "/usr/bin/xclock",
                                              .windowTitle = "xclock"});
        QStringList texts = rig.open().rowTexts();
        texts.sort();
        QCOMPARE(texts, (QStringList{"Editor\tnotes.txt\t8h left", "Editor\ttodo.txt\t8h left",
                                     "XClock\t8h left"}));
        rig.row(clock)->excludeAction()->trigger();
        const ExcludedApp excluded{"XClock", "XClock", "/usr/bin/xclock"};
        QCOMPARE(rig.engine->excludedApps(), QList{excluded});
        QVERIFY(!rig.row(clock) && rig.engine->isBlockedApp(clock));
    }

    // A row's own timeout from its context menu counts down for it alone, and Default gives
    // the default back. Its memory is read again only after ten seconds; what the closed
    // applications held, measured when asked, shows in the footer.
    void ownTimeoutMemoryAndFreed() {
        PopoverRig rig;
        FakeMemory memory(300 << 20);
        const auto editor = rig.workspace.add({.name = "Editor", .processIds = {1, 2}});
        const auto other = rig.workspace.add({.name = "Other"});
        rig.startAndDrain();
        rig.engine->setMemoryUsage(&memory);
        rig.view = std::make_unique<ContentView>(*rig.engine);
        const auto choose = [&](const QVariant& minutes) {
            for (QAction* action : rig.row(editor)->timeoutChoices()->actions())
                if (action->data() == minutes)
                    action->trigger();
        };
        choose(30);
        QCOMPARE(rig.engine->appTimeout("Editor"), 30);
        QCOMPARE(rig.view->rowTexts(), (QStringList{"Editor\t30m left", "Other\t8h left"}));
        choose(QVariant());
        QCOMPARE(rig.view->rowTexts(), (QStringList{"Editor\t8h left", "Other\t8h left"}));
        QCOMPARE(rig.row(editor)->memoryLabel()->text(), "600 MB");
        memory.each = 400 << 20;
        rig.clock.advance(9);
        rig.view->render();
        QCOMPARE(rig.row(editor)->memoryLabel()->text(), "600 MB");
        rig.clock.advance(1);
        rig.view->render();
        QCOMPARE(rig.row(other)->memoryLabel()->text(), "400 MB");
        QVERIFY(rig.view->freedText()->isHidden());
        rig.sweepAfter(8 * 3600);
        rig.sweepAfter(5);
        QCOMPARE(rig.view->freedText()->text(), "Freed 1.2 GB today");
        QVERIFY(!rig.view->freedText()->isHidden());
    }

    // A due row says what holds its request back.
    void dueRowsSayWhatHoldsThem() {
        PopoverRig rig;
        rig.store->setInteger("minutesUntilClose", 1);
        rig.idleSource = true;
        rig.workspace.add({.name = "Busy", .busy = true});
        rig.workspace.add({.name = "Held"});
        ContentView& view = rig.open();
        rig.clock.advance(61);
        rig.presence.input();
        rig.sweepAfter(0);
        QCOMPARE(view.rowTexts(), (QStringList{"Busy\tbusy", "Held\twaits until you're away"}));
    }

    // Mid is overdue with the 9-minute timeout, Zulu idle for 4 minutes, Alpha for 2.
    void sortOrders() {
        const QList<std::pair<const char*, QStringList>> cases{
            {"Name", {"Alpha", "Mid", "Zulu"}},
            {"remaining", {"Mid", "Zulu", "Alpha"}},
            {"recent", {"Alpha", "Zulu", "Mid"}}};
        for (const auto& [mode, order] : cases) {
            PopoverRig rig;
            rig.store->setInteger("minutesUntilClose", 9);
            rig.store->setText("sortMode", mode);
            rig.open();
            for (const char* name : {"Mid", "Zulu", "Alpha"}) {
                emit rig.workspace.didDeactivateApplication(rig.workspace.add({.name = name}));
                rig.drain();
                rig.clock.advance(name[0] == 'M' ? 8 * 60 : 2 * 60);
            }
            QStringList names;
            for (AppRow* r : rig.view->rows())
                names << r->displayName();
            QCOMPARE(names, order);
        }
    }

    // The popover's own keys, read live: the width within 280 to 520, the empty state and
    // what it says, the exclusions section, rows 6 shorter when compact.
    void followsItsKeys() {
        PopoverRig rig;
        ContentView& view = rig.open();
        for (const auto& [stored, width] : {std::pair{100, 280}, {1000, 520}, {300, 300}}) {
            rig.store->setInteger("popoverWidth", stored);
            QCOMPARE(view.contentWidth(), width);
        }
        QCOMPARE(view.emptyStateText()->text(), QStringLiteral("No apps are counting down"));
        rig.store->setBoolean("quittingEnabled", false);
        QCOMPARE(view.emptyStateText()->text(), QStringLiteral("Automatic quitting is paused"));
        QVERIFY(view.emptyState()->isVisible() && view.exclusionList()->isVisible());
        rig.store->setBoolean("showEmptyState", false);
        rig.store->setBoolean("showExclusionsInPopover", false);
        QVERIFY(!view.emptyState()->isVisible() && !view.exclusionList()->isVisible() &&
                !view.divider()->isVisible());
        const auto app = rig.workspace.add({.name = "Editor"});
        rig.sweepAfter(1);
        const int tall = rig.row(app)->sizeHint().height();
        rig.store->setBoolean("compactRows", true);
        QCOMPARE(rig.row(app)->sizeHint().height(), tall - 6);
    }
};

QTEST_MAIN(TestPopover)
#include "test_popover.moc"
