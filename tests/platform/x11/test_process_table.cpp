// ProcessTable on plain window data: no X server, no /proc.

#include "platform/x11/ProcessTable.h"

#include <QTest>

#include <functional>

namespace {

constexpr WindowId kRoot = 0x1e0;
constexpr qint64 kOwnPid = 4242;
using T = WindowType;

// Window ids are client bits | resource bits, as the server hands them out.
WindowId windowOf(quint32 client, quint32 n) {
    return (client << 20) | n;
}

// A mapped window whose client the server names (resPid), changed by `edit`.
WindowState served(qint64 pid, T type = T::Normal,
                   const std::function<void(WindowState&)>& edit = {}) {
    WindowState w;
    w.resPid = pid;
    w.type = type;
    w.deleteWindowProtocol = true;
    w.mapped = w.everMapped = true;
    if (edit)
        edit(w);
    return w;
}

// A window only the client's own _NET_WM_PID names.
WindowState claiming(qint64 pid) {
    return served(0, T::Normal, [&](WindowState& w) { w.netWmPid = pid; });
}

struct Rig {
    // Start times of the live local processes; a missing PID has ended.
    QHash<qint64, quint64> startTimes{{10, 1000}, {20, 2000}, {30, 3000}, {kOwnPid, 7}};
    ProcessTable table{kRoot, 0x000fffff, kOwnPid, [this](qint64 pid) {
                           return startTimes.contains(pid) ? std::optional(startTimes[pid])
                                                           : std::nullopt;
                       }};
    QList<WindowId> list;

    // A new window managed at the end of the client list, or a known one changed.
    ProcessKey add(WindowId id, const WindowState& w) {
        table.setWindow(id, w);
        setList(list.contains(id) ? list : list + QList{id});
        return *table.owner(id);
    }
    void remove(WindowId id) {
        table.removeWindow(id);
        setList(list, id);
    }
    void setList(const QList<WindowId>& windows, WindowId without = 0) {
        list = windows;
        list.removeAll(without);
        table.setClientList(list);
        table.regroup();
    }
};

} // namespace

class TestProcessTable : public QObject {
    Q_OBJECT
private slots:
    // Only the server's PID names a local process; a client's own claim never does.
    void serverPidNamesTheProcessHintNever() {
        Rig rig;
        WindowState liar = served(10, T::Normal, [](WindowState& w) { w.netWmPid = 20; });
        const ProcessKey server = rig.add(windowOf(1, 1), liar);
        QCOMPARE(server, (ProcessKey{10, 1000, 0}));
        QVERIFY(ProcessTable::isLocalProcess(server));
        // Only the claim (a remote client, or no X-Resource): never local, never the local
        // process with that PID; no PID at all is never local either.
        const ProcessKey hint = rig.add(windowOf(2, 1), claiming(10));
        QVERIFY(!ProcessTable::isLocalProcess(hint) && !(hint == server));
        QVERIFY(!ProcessTable::isLocalProcess(rig.add(windowOf(5, 1), served(0))));

        // The start time is the one of the process first seen holding the window: a PID
        // reused meanwhile does not become this application.
        rig.startTimes[10] = 5555;
        liar.hidden = true;
        QCOMPARE(rig.add(windowOf(1, 1), liar), server);
        QCOMPARE(rig.add(windowOf(6, 1), served(10)), (ProcessKey{10, 5555, 0}));
        // A process that ended before it was seen has no start time to trust.
        QCOMPARE(rig.add(windowOf(7, 1), served(99)).startTime, quint64(0));

        // Ourselves, whether the server says so or a client claims our PID.
        QVERIFY(rig.table.isOwnProcess(rig.add(windowOf(8, 1), served(kOwnPid))));
        QVERIFY(rig.table.isOwnProcess(rig.add(windowOf(9, 1), claiming(kOwnPid))));
        QVERIFY(!rig.table.isOwnProcess(server));
    }

    // Main windows get the polite request; secondary ones ask the user something.
    void secondaryWindows() {
        Rig rig;
        const WindowId main = windowOf(1, 1);
        const ProcessKey app = rig.add(main, served(10));
        QVERIFY(rig.table.acceptsPoliteQuit(app) && !rig.table.isAskingUser(app));
        // "Transient for the desktop" is a main window.
        rig.add(windowOf(1, 2),
                served(10, T::Untyped, [](WindowState& w) { w.transientFor = kRoot; }));
        const auto noDelete = [](WindowState& w) { w.deleteWindowProtocol = false; };
        rig.add(windowOf(1, 3), served(10, T::Utility, noDelete));
        QCOMPARE(rig.table.mainWindows(app),
                 (QList<WindowId>{main, windowOf(1, 2), windowOf(1, 3)}));
        QVERIFY(!rig.table.acceptsPoliteQuit(app)); // the window manager would kill it
        rig.remove(windowOf(1, 3));

        for (const WindowState& w :
             {served(10, T::Dialog, noDelete),
              served(10, T::Untyped, [&](WindowState& s) { s.transientFor = main; }),
              served(10, T::Normal, [](WindowState& s) { s.modal = true; })}) {
            rig.add(windowOf(1, 9), w);
            QCOMPARE(rig.table.mainWindows(app), (QList<WindowId>{main, windowOf(1, 2)}));
            QVERIFY(rig.table.isAskingUser(app));
            QCOMPARE(rig.table.hasModalWindow(app), w.modal);
            QVERIFY(rig.table.acceptsPoliteQuit(app)); // only main windows must take it
            rig.remove(windowOf(1, 9));
        }
        // Nothing but a question: no window to ask.
        QVERIFY(!rig.table.acceptsPoliteQuit(rig.add(windowOf(2, 1), served(30, T::Dialog))));
    }

    void role() {
        const auto skipTaskbar = [](WindowState& w) { w.skipTaskbar = true; };
        const auto transient = [](WindowState& w) { w.transientFor = 5; };
        const std::pair<QList<WindowState>, AppRole> rows[] = {
            {{served(10, T::Untyped, transient)}, AppRole::Auxiliary},
            {{served(10, T::Normal, skipTaskbar)}, AppRole::Auxiliary},
            {{served(10, T::Utility), served(10, T::Desktop)}, AppRole::DesktopPart},
            {{served(10, T::Dock), served(10, T::Normal)}, AppRole::Regular},
        };
        for (const auto& [windows, policy] : rows) {
            Rig rig;
            ProcessKey key;
            for (int i = 0; i < windows.size(); ++i)
                key = rig.add(windowOf(1, quint32(i)), windows[i]);
            QCOMPARE(rig.table.role(key), policy);
            // A process without windows left is never one to track.
            rig.setList({});
            QCOMPARE(rig.table.role(key), AppRole::DesktopPart);
        }
    }
};

QTEST_APPLESS_MAIN(TestProcessTable)
#include "test_process_table.moc"
