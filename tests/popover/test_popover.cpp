#include "app/PopoverWindow.h"
#include "engine/EngineRig.h"
#include "popover/AppRow.h"
#include "popover/ContentView.h"
#include "popover/Countdown.h"
#include "preferences/PreferenceKeys.h"
#include "ui/Accent.h"
#include "ui/AccentCheckBox.h"
#include "ui/ElidedLabel.h"
#include "ui/ExclusionList.h"
#include "ui/Style.h"

#include <QEnterEvent>
#include <QLabel>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <limits>

namespace {
const qint64 kLargest = std::numeric_limits<qint64>::max();

// An engine rig with the popover's content view on top.
struct PopoverRig : EngineRig {
    std::unique_ptr<ContentView> view;

    ContentView& open() {
        if (!engine)
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
    QStringList names() const {
        QStringList out;
        for (AppRow* r : view->rows())
            out << r->displayName();
        return out;
    }
    void set(const char* key, qint64 value) { store->setInteger(key, value); }
    void set(const char* key, bool value) { store->setBoolean(key, value); }
    void set(const char* key, const QString& value) { store->setText(key, value); }
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
        } cases[] = {{7260, "verbose", true, "2h 1m left"},
                     {7200, "compact", true, "2h"},
                     {3600, "verbose", true, "1h left"},
                     {3659, "verbose", true, "1h left"},
                     {3599, "compact", true, "59m"},
                     {119, "verbose", true, "1m left"},
                     {59, "verbose", true, "59s left"},
                     {59, "compact", false, "<1m"},
                     {-30, "verbose", true, "0s left"},
                     {-kLargest - 1, "compact", true, "0s"},
                     {7200, "Compact", true, "2h left"},
                     {kLargest, "compact", true, "never"},
                     {Countdown::kNeverSeconds, "compact", true, "23976h"},
                     {Countdown::kNeverSeconds + 1, "verbose", true, "never"}};
        for (const auto& c : cases)
            QCOMPARE(Countdown::formatTime(c.seconds, c.style, c.showSeconds), QString(c.text));
        // Under the threshold clamped to its range: 0 acts as a minute, a huge one as the most.
        const qint64 most = Keys::countdownWarningMinutes.range().maximum * 60;
        const struct {
            qint64 remaining, minutes;
            bool warning;
        } warnings[] = {{3599, 60, true}, {3600, 60, false},          {59, 0, true},
                        {60, -10, false}, {most - 1, kLargest, true}, {most, kLargest, false}};
        for (const auto& w : warnings)
            QCOMPARE(Countdown::isWarning(w.remaining, w.minutes), w.warning);
    }

    // Text and bold emphasis under the warning, up to the largest stored timeout.
    void rowCountdownAndEmphasis() {
        const struct {
            qint64 minutes;
            double idle;
            const char* text;
            bool bold;
        } cases[] = {{480, 28800 - 3599, "59m left", true},
                     {480, 28800 - 3600, "1h left", false},
                     {kLargest, 10, "never", false}};
        for (const auto& c : cases) {
            PopoverRig rig;
            const auto app = rig.workspace.add({.name = "Editor"});
            rig.set("minutesUntilClose", c.minutes);
            rig.open();
            rig.clock.advance(c.idle);
            rig.view->render();
            QCOMPARE(rig.row(app)->countdownLabel()->text(), QString(c.text));
            QCOMPARE(rig.row(app)->countdownLabel()->font().bold(), c.bold);
            QCOMPARE(rig.row(app)->nameLabel()->font().bold(), c.bold);
        }
    }

    void togglingPersistsAndGreysTheRow() {
        PopoverRig rig;
        const auto app = rig.workspace.add({.name = "Editor"});
        const auto twin = rig.workspace.add({.name = "Editor"}); // one name, one switch
        rig.set("minutesUntilClose", qint64(60));
        rig.open();
        rig.clock.advance(120);
        AppRow* row = rig.row(app);
        QTest::mouseClick(row->checkbox(), Qt::LeftButton);
        QVERIFY(rig.store.reopen()->data("com.Idlewatch.toggleStatus")->contains("false"));
        QVERIFY(!rig.row(twin)->checkbox()->isChecked());
        QVERIFY(row->countdownLabel()->isHidden() && !row->restartButton()->isEnabled());
        QCOMPARE(row->nameLabel()->textColor(), Style::grey());
        QVERIFY(!row->nameLabel()->font().bold()); // the warning shows only while on
        rig.clock.advance(60);
        QTest::mouseClick(row->checkbox(), Qt::LeftButton); // continues where it was
        QCOMPARE(row->countdownLabel()->text(), QStringLiteral("57m left"));

        rig.set("newAppsEnabled", false); // a row without a stored switch follows it
        const auto viewer = rig.workspace.add({.name = "Viewer"});
        emit rig.workspace.didDeactivateApplication(viewer);
        rig.drain();
        QVERIFY(!rig.row(viewer)->checkbox()->isChecked());
        rig.set("newAppsEnabled", true);
        QVERIFY(rig.row(viewer)->checkbox()->isChecked());
    }

    void restartAndQuitButtons() {
        PopoverRig rig;
        const auto app = rig.workspace.add({.name = "Editor"});
        rig.open();
        rig.clock.advance(100 * 60);
        QTest::mouseClick(rig.row(app)->restartButton(), Qt::LeftButton);
        QCOMPARE(rig.stamp(app), rig.clock.now());
        QVERIFY(rig.row(app)->quitButton()->isHidden());
        rig.set("showCloseButton", true);
        rig.workspace.setTerminateEndsApp(app, false);
        QTest::mouseClick(rig.row(app)->quitButton(), Qt::LeftButton);
        QCOMPARE(rig.workspace.requestsFor(app), {FakeWorkspace::RequestKind::Terminate});
        QVERIFY(rig.row(app)); // gone only when a sweep finds the application gone
    }

    // A countdown that would end in nothing says why instead of "0s left" for ever.
    void rowsSayWhenNoRequestWillBeSent() {
        PopoverRig rig;
        const auto stuck = rig.workspace.add({.name = "Stuck", .acceptsPoliteQuit = false});
        const auto asking = rig.workspace.add({.name = "Asking"});
        rig.workspace.setAskingUser(asking, true, true);
        rig.set("showCloseButton", true);
        rig.open();
        for (const auto& app : {stuck, asking}) {
            QVERIFY(!rig.row(app)->countdownLabel()->text().endsWith("left"));
            QVERIFY(!rig.row(app)->quitButton()->isEnabled());
        }
        rig.set("forceQuitIfTerminateFails", true);
        rig.row(stuck)->refresh();
        QCOMPARE(rig.row(stuck)->countdownLabel()->text(), QStringLiteral("8h left"));
    }

    void namelessApplicationIconSizeAndCompactRows() {
        PopoverRig rig;
        const auto app = rig.workspace.add({});
        rig.set("rowIconSize", qint64(36));
        rig.open();
        AppRow* row = rig.row(app);
        QCOMPARE(row->displayName(), QStringLiteral("Unknown"));
        QCOMPARE(row->iconLabel()->size(), QSize(36, 36));
        const int regular = row->sizeHint().height();
        rig.set("compactRows", true);
        QVERIFY(row->sizeHint().height() < regular);
        QTest::mouseClick(row->checkbox(), Qt::LeftButton);
        QCOMPARE(rig.engine->toggleStatus().value(QString(), true), false);
    }

    // Mid is overdue with the 9-minute timeout, Zulu idle for 4 minutes, Alpha for 2.
    void sortOrders() {
        const QStringList byName{"Alpha", "Mid", "Zulu"};
        const QList<std::pair<const char*, QStringList>> cases{
            {"name", byName},
            {"remaining", {"Mid", "Zulu", "Alpha"}},
            {"recent", {"Alpha", "Zulu", "Mid"}},
            {"Name", byName}};
        for (const auto& [mode, order] : cases) {
            PopoverRig rig;
            rig.set("minutesUntilClose", qint64(9));
            rig.set("sortMode", QString(mode));
            rig.open();
            for (const char* name : {"Mid", "Zulu", "Alpha"}) {
                emit rig.workspace.didDeactivateApplication(rig.workspace.add({.name = name}));
                rig.drain();
                rig.clock.advance(name[0] == 'M' ? 8 * 60 : 2 * 60);
            }
            QCOMPARE(rig.names(), order);
        }
    }

    void nameOrderIsCodePointOrderOfComposedNames() {
        PopoverRig rig;
        const QStringList expected{"Unknown",
                                   "Zed",
                                   "cat",
                                   "E\u0301va",
                                   "\u00C9zra",
                                   "\uFF22",
                                   QString::fromUtf8("\xF0\x9F\x98\x80x")};
        rig.workspace.add({});
        for (qsizetype i = expected.size() - 1; i > 0; --i)
            rig.workspace.add({.name = expected[i]});
        rig.open();
        QCOMPARE(rig.names(), expected);
    }

    void followsTheEngineAndTheStore() {
        PopoverRig rig;
        rig.set("showExclusionsInPopover", false);
        const auto editor = rig.workspace.add({.name = "Editor"});
        ContentView& view = rig.open();
        QVERIFY(!view.exclusionList()->isVisible());
        rig.workspace.add({.name = "Viewer"});
        rig.sweepAfter(5);
        QCOMPARE(rig.names(), (QStringList{"Editor", "Viewer"}));
        rig.workspace.quit(editor);
        rig.sweepAfter(2 * 3600 - 5);
        QCOMPARE(view.rowTexts(), QStringList{"Viewer\t6h left"});
        rig.workspace.quit(rig.workspace.runningApplications().value(0));
        rig.sweepAfter(1);
        QVERIFY(view.emptyState()->isVisible());
        rig.set("showEmptyState", false);
        QVERIFY(!view.emptyState()->isVisible());
    }

    // The narrowest popover still leaves a name room to be read, quit button and all.
    void widthAndNameRoom() {
        PopoverRig rig;
        rig.workspace.add({.name = "A rather long application name"});
        rig.set("popoverWidth", qint64(100));
        rig.set("showCloseButton", true);
        ContentView& view = rig.open();
        QVERIFY(view.rows().first()->nameLabel()->width() >= 100);
        rig.set("popoverWidth", qint64(440));
        QCOMPARE(view.width(), 440 + 10);
    }

    // 40 applications on a 1280x800 screen: the list scrolls, the footer stays reachable.
    void fitsTheScreen() {
        PopoverRig rig;
        for (int i = 0; i < 40; ++i)
            rig.workspace.add({.name = QStringLiteral("App %1").arg(i)});
        rig.startAndDrain();
        auto* view = new ContentView(*rig.engine);
        PopoverWindow popover(view);
        popover.showAt({});
        QVERIFY(QTest::qWaitForWindowActive(&popover));
        QCOMPARE(popover.screen()->geometry(), QRect(0, 0, 1280, 800));
        QVERIFY(popover.height() <= popover.screen()->availableGeometry().height());
        QWidget* quit = view->quitItem();
        QVERIFY(popover.rect().contains(QRect(quit->mapTo(&popover, QPoint()), quit->size())));
        for (int i = 0; i < 300 && !quit->hasFocus(); ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(quit->hasFocus());
        QSignalSpy quitRequested(view, &ContentView::quitRequested);
        QTest::keyClick(quit, Qt::Key_Return);
        QCOMPARE(quitRequested.size(), 1);
    }

    void footerHighlightAndActions() {
        PopoverRig rig;
        ContentView& view = rig.open();
        QWidget* settings = view.settingsItem();
        const QPoint inside(settings->width() - 8, settings->height() / 2);
        auto accented = [&](QWidget* w) {
            return w->grab().toImage().pixelColor(inside) == accentColorInUse(*rig.store);
        };
        QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
        QApplication::sendEvent(settings, &enter);
        rig.set("accentColor", QStringLiteral("blue")); // followed on the next redraw
        QVERIFY(accented(settings) && !accented(view.quitItem()));
        view.setLive(false); // closed under the pointer, it sees no leave event
        view.setLive(true);
        QVERIFY(!accented(settings));
        QSignalSpy openSettings(&view, &ContentView::openSettingsRequested);
        QTest::mouseClick(settings, Qt::LeftButton, {}, inside); // far from its text
        QCOMPARE(openSettings.size(), 1);
    }
};

QTEST_MAIN(TestPopover)
#include "test_popover.moc"
