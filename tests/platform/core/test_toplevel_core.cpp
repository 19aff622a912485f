// The core on plain toplevels from a fake source: no desktop, no /proc. A new backend's
// source needs only its own integration test; these rules hold for every one.

#include "platform/core/ToplevelWorkspace.h"
#include "platform/linux/DesktopEntryIndex.h"
#include "preferences/AppIdentity.h"

#include <QTest>

#include <functional>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

using K = ToplevelKind;

// A source whose toplevels the test sets; it reports them at the next update.
struct FakeSource final : ToplevelSource {
    QList<Toplevel> changed;
    QList<ToplevelId> closed, asked, forced;
    // Start times of the live processes; a missing PID has ended.
    QHash<qint64, quint64> startTimes{{10, 1000}, {20, 2000}};
    const int fd = ::eventfd(0, EFD_CLOEXEC);
    ~FakeSource() override { ::close(fd); }

    int fileDescriptor() const override { return fd; }
    void update(ToplevelSink& sink, bool) override {
        for (ToplevelId id : std::exchange(closed, {}))
            sink.toplevelClosed(id);
        for (const Toplevel& t : std::exchange(changed, {}))
            sink.toplevelChanged(t);
    }
    bool isBroken() const override { return false; }
    bool requestClose(const QList<ToplevelId>& ids) override { return asked += ids, true; }
    bool canForceClose() const override { return true; }
    bool forceClose(const QList<ToplevelId>& ids) override { return forced += ids, true; }
    std::optional<quint64> processStartTime(qint64 pid) const override {
        return startTimes.contains(pid) ? std::optional(startTimes[pid]) : std::nullopt;
    }
};

// A shown, closeable window of the process the server names (`pid`), changed by `edit`.
Toplevel served(ToplevelId id, qint64 pid, K kind = K::Normal,
                const std::function<void(Toplevel&)>& edit = {}) {
    Toplevel t;
    t.id = id;
    t.pid = pid;
    t.pidSource = pid ? PidSource::Proven : PidSource::None;
    t.client = id >> 8;
    t.kind = kind;
    if (edit)
        edit(t);
    return t;
}

struct Rig {
    DesktopEntryIndex index;
    FakeSource* source = new FakeSource;
    ToplevelWorkspace ws{std::unique_ptr<ToplevelSource>(source), index};

    // Reports `t`; the application whose main window has its title, the newest if several.
    RunningApplication add(const Toplevel& t) {
        source->changed += t;
        return app(t.title);
    }
    void close(ToplevelId id) {
        source->closed += id;
        ws.runningApplications();
    }
    RunningApplication app(const QString& title) {
        const QList<RunningApplication> apps = ws.runningApplications();
        for (auto it = apps.crbegin(); it != apps.crend(); ++it)
            if (it->windowTitle() == title)
                return *it;
        return {};
    }
};

Toplevel titled(Toplevel t, const char* title = "main") {
    t.title = QString::fromLatin1(title);
    return t;
}

} // namespace

class TestToplevelCore : public QObject {
    Q_OBJECT
private slots:
    // Only a proven PID names a process; a claim, a client or an app id only group.
    void grouping() {
        Rig rig;
        const auto byApp = [](ToplevelId id, const char* appId) {
            return titled(served(id, 0, K::Normal,
                                 [&](Toplevel& t) {
                                     t.appId = QString::fromLatin1(appId);
                                     t.client = 0;
                                 }),
                          appId);
        };
        const RunningApplication proven = rig.add(titled(served(0x1001, 10), "proven"));
        QCOMPARE(proven.key(), (ProcessKey{10, 1000, 0}));
        QCOMPARE(proven.processIds(), QList<qint64>{10});
        QCOMPARE(rig.add(titled(served(0x1002, 10), "proven")), proven);
        const RunningApplication claimed = rig.add(
            titled(served(0x2001, 10, K::Normal, [](auto& t) { t.pidSource = PidSource::Claimed; }),
                   "claimed"));
        QVERIFY(claimed.key().domain != 0 && claimed.processIds().isEmpty());
        const RunningApplication client = rig.add(titled(served(0x3001, 0), "client"));
        QVERIFY(client.key().domain != 0 && client.key() != claimed.key());
        // Two toplevels with one app id are one application; none with another app id.
        const RunningApplication foot = rig.add(byApp(0x4001, "foot"));
        QCOMPARE(rig.add(byApp(0x4002, "foot")), foot);
        QVERIFY(rig.add(byApp(0x4003, "other")) != foot);
        // Ourselves, proven, claimed or by app id, are never listed.
        rig.add(served(0x5001, ::getpid()));
        rig.add(served(0x5002, ::getpid(), K::Normal,
                       [](auto& t) { t.pidSource = PidSource::Claimed; }));
        rig.add(byApp(0x5003, kAppIdentifier));
        QCOMPARE(rig.ws.runningApplications().size(), 5);

        // The start time is the one of the process first seen holding the window: a PID
        // reused meanwhile does not become this application.
        rig.source->startTimes[10] = 5555;
        const auto hidden = [](auto& t) { t.minimized = true; };
        QCOMPARE(rig.add(titled(served(0x1001, 10, K::Normal, hidden), "proven")), proven);
        QCOMPARE(rig.add(titled(served(0x6001, 10), "reused")).key(), (ProcessKey{10, 5555, 0}));
        // A group that empties and comes back is a new application, as a relaunch is.
        rig.close(0x4001);
        rig.close(0x4002);
        QVERIFY(rig.add(byApp(0x4004, "foot")) != foot);
    }

    // Main windows get the close request; questions ask the user something.
    void questionsAndRequests() {
        Rig rig;
        const RunningApplication app = rig.add(titled(served(0x101, 10)));
        QVERIFY(app.acceptsPoliteQuit() && !app.isAskingUser());
        rig.add(served(0x102, 10, K::Utility));
        for (const Toplevel& question :
             {served(0x109, 10, K::Dialog),
              served(0x109, 10, K::Normal, [](auto& t) { t.hasParent = true; }),
              served(0x109, 10, K::Normal, [](auto& t) { t.modal = true; })}) {
            rig.add(question);
            QVERIFY(app.isAskingUser() && app.hasModalWindow() == question.modal);
            QVERIFY(app.requestQuit());
            QCOMPARE(rig.source->asked, (QList<ToplevelId>{0x101, 0x102}));
            rig.source->asked.clear();
            rig.close(0x109);
        }
        // A toplevel that appeared after the request is the application asking.
        QVERIFY(!app.isAskingUser());
        rig.add(served(0x103, 10));
        QVERIFY(app.isAskingUser());
        // One main window without a close request of its own: none is asked.
        rig.add(served(0x104, 10, K::Normal, [](auto& t) { t.closeable = false; }));
        QVERIFY(!app.acceptsPoliteQuit() && !app.requestQuit() && rig.source->asked.isEmpty());
        // Nothing but a question: no window to ask.
        QVERIFY(!rig.add(served(0x201, 20, K::Dialog)).acceptsPoliteQuit());
    }

    // A client whose PID another client reused: the stray window without a close request
    // is ended, the window that can be asked never.
    void forceQuitEndsOnlyClientsThatCannotBeAsked() {
        Rig rig;
        const auto stray = [](Toplevel& t) { t.closeable = false; };
        const RunningApplication app = rig.add(titled(served(0x101, 10, K::Normal, stray)));
        rig.add(served(0x201, 10));
        QCOMPARE(rig.ws.runningApplications(), QList{app});
        QVERIFY(!app.acceptsPoliteQuit() && app.canForceQuit());
        QVERIFY(app.forceQuit());
        QCOMPARE(rig.source->forced, (QList<ToplevelId>{0x101}));
        rig.close(0x101);
        QVERIFY(!app.canForceQuit() && !app.forceQuit());
        QCOMPARE(rig.source->forced.size(), 1);
    }

    void role() {
        const auto skipTaskbar = [](Toplevel& t) { t.skipTaskbar = true; };
        const auto child = [](Toplevel& t) { t.hasParent = true; };
        const std::pair<QList<Toplevel>, AppRole> rows[] = {
            {{served(1, 10, K::Normal, child)}, AppRole::Auxiliary},
            {{served(1, 10, K::Normal, skipTaskbar)}, AppRole::Auxiliary},
            {{served(1, 10, K::Utility), served(2, 10, K::DesktopPart)}, AppRole::DesktopPart},
            {{served(1, 10, K::DesktopPart), served(2, 10)}, AppRole::Regular},
        };
        for (const auto& [toplevels, policy] : rows) {
            Rig rig;
            for (const Toplevel& t : toplevels)
                rig.add(t);
            const RunningApplication app = rig.ws.runningApplications().value(0);
            QCOMPARE(app.role(), policy);
            // An application without toplevels left is never one to track.
            for (const Toplevel& t : toplevels)
                rig.close(t.id);
            QCOMPARE(app.role(), AppRole::DesktopPart);
        }
    }
};

QTEST_GUILESS_MAIN(TestToplevelCore)
#include "test_toplevel_core.moc"
