// When a due application is asked to quit, and what its row says meanwhile: once, while the
// user is away, never while a job runs in it; and no wall-clock change moves a countdown.

#include "EngineRig.h"

#include <QDateTime>

namespace {

using State = RunningAppsManager::AppState;
constexpr State kWaiting = State::WaitingForYou;

// The user at the moment the application falls due.
enum class User { NoIdleSource, Away, Typing, TypingRuleOff, WatchingFullscreen };
// What the application has open when it falls due, until a day later.
enum class Has { Nothing, Job, ModalDialog };
// What happens after a request it survived (it asks something inside its window).
enum class Then { Nothing, QuestionTakesFocus, QuestionTakesFocusLater, UserGoesBack, Answered };
// The user, what it has open, then; the requests it has had and its state after the due
// sweep, and the requests a day later, when it waits for its user whatever happened.
using StateRow = std::tuple<User, Has, Then, int, State, int>;

} // namespace

class TestQuitStates : public QObject {
    Q_OBJECT
private slots:
    void askedOnceWhileAwayAndIdle_data() {
        const User away = User::Away, typing = User::Typing;
        const Has no = Has::Nothing;
        const Then none = Then::Nothing;
        const State held = State::HeldUntilAway;
        addRows<StateRow>({
            {"asked once, then nothing", {away, no, none, 1, kWaiting, 1}},
            {"its question takes the focus as the user comes",
             {away, no, Then::QuestionTakesFocus, 1, kWaiting, 1}},
            {"its question takes the focus while away",
             {away, no, Then::QuestionTakesFocusLater, 1, kWaiting, 1}},
            {"the user goes back to it", {away, no, Then::UserGoesBack, 1, kWaiting, 2}},
            {"its dialog is answered", {away, no, Then::Answered, 1, kWaiting, 2}},
            {"typing holds it", {typing, no, none, 0, held, 1}},
            {"rule switched off", {User::TypingRuleOff, no, none, 1, kWaiting, 1}},
            {"a fullscreen film holds it", {User::WatchingFullscreen, no, none, 0, held, 1}},
            {"no idle source", {User::NoIdleSource, no, none, 1, kWaiting, 1}},
            {"busy", {away, Has::Job, none, 0, State::Busy, 1}},
            {"a modal dialog open", {away, Has::ModalDialog, none, 0, kWaiting, 1}},
        });
    }
    void askedOnceWhileAwayAndIdle() {
        QFETCH(StateRow, row);
        const auto& [user, has, then, dueRequests, dueState, dayRequests] = row;
        EngineRig rig(1);
        rig.idleSource = user != User::NoIdleSource;
        rig.store->setBoolean("onlyQuitWhileAway", user != User::TypingRuleOff);
        const auto front =
            rig.workspace.add({.name = "Front", .fullscreen = user == User::WatchingFullscreen});
        const auto app = rig.workspace.add(
            {.name = "Editor", .modal = has == Has::ModalDialog, .busy = has == Has::Job});
        rig.workspace.setQuitEndsApp(app, false);
        rig.workspace.activate(front);
        auto& engine = rig.startAndDrain();
        rig.clock.advance(55);
        if (user == User::Typing || user == User::TypingRuleOff)
            rig.presence.input();
        rig.sweepAfter(6);
        QCOMPARE(rig.asked(app).size(), dueRequests);
        QCOMPARE(engine.appState(app), dueState);

        // Then nobody touches anything for a day; the job, the dialog and the film end.
        rig.workspace.setBusy(app, false);
        rig.workspace.setAskingUser(app, then == Then::Answered);
        rig.workspace.setFullscreen(front, false);
        const auto step = [&](double seconds, bool input, const App& activated) {
            rig.clock.advance(seconds);
            if (input)
                rig.presence.input();
            rig.workspace.activate(activated);
        };
        if (then == Then::QuestionTakesFocus)
            step(5, true, app), step(10, false, front);
        else if (then == Then::QuestionTakesFocusLater)
            step(200, false, app), step(60, true, front);
        else if (then == Then::UserGoesBack)
            step(60, true, app), step(10, false, front);
        else if (then == Then::Answered) // seen open, then gone
            rig.sweepAfter(60), rig.workspace.setAskingUser(app, false);
        EngineRig::drain();
        for (int i = 0; i < 24; ++i)
            rig.sweepAfter(i ? 3600 : 180);
        engine.requestQuit(app, RunningAppsManager::Requester::User); // nor by the user's button
        QCOMPARE(rig.asked(app).size(), dayRequests);
        QCOMPARE(engine.appState(app), kWaiting);
        QVERIFY(rig.asked(front).isEmpty());
    }

    // The wall clock moved a day either way (a bad RTC after suspend, NTP, the user): nothing
    // is quit at once, nothing held off for a day. Run under libfaketime, which lets this
    // process move its own wall clock.
    void wallClockJumpsMoveNoCountdown() {
        EngineRig rig(1);
        SystemClock clock;
        const auto app = rig.workspace.add({.name = "Editor"});
        RunningAppsManager engine(rig.workspace, *rig.store, clock);
        EngineRig::drain();
        for (const char* jump : {"+1d", "-1d"}) {
            const qint64 wall = QDateTime::currentSecsSinceEpoch();
            qputenv("FAKETIME", jump);
            if (qAbs(QDateTime::currentSecsSinceEpoch() - wall) < 80000)
                QSKIP("needs libfaketime preloaded with FAKETIME_NO_CACHE=1");
            engine.checkOpenApps();
            const qint64 left = engine.secondsUntilQuit(app);
            qputenv("FAKETIME", "+0");
            QVERIFY2(rig.asked(app).isEmpty() && left > 50 && left <= 60, jump);
        }
    }
};

QTEST_GUILESS_MAIN(TestQuitStates)
#include "test_quit_states.moc"
