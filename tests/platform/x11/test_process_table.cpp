// ProcessTable on plain window data: no X server, no /proc.

#include "platform/x11/ProcessTable.h"

#include <QTest>

namespace {

constexpr WindowId kRoot = 0x1e0;
// Window ids are client bits | resource bits, as the server hands them out.
constexpr quint32 kResourceMask = 0x000fffff;
constexpr qint64 kOwnPid = 4242;

WindowId windowOf(quint32 client, quint32 n) {
    return (client << 20) | n;
}

WindowState served(qint64 pid, WindowType type = WindowType::Normal) {
    WindowState w;
    w.resPid = pid;
    w.type = type;
    w.deleteWindowProtocol = true;
    w.mapped = w.everMapped = true;
    return w;
}

WindowState claiming(qint64 pid, const QByteArray& machine = "host") {
    WindowState w = served(0);
    w.netWmPid = pid;
    w.clientMachine = machine;
    return w;
}

struct Rig {
    // Start times of the live local processes; a missing PID has ended.
    QHash<qint64, quint64> startTimes;
    ProcessTable table{kRoot, kResourceMask, kOwnPid, [this](qint64 pid) {
                           return startTimes.contains(pid) ? std::optional(startTimes[pid])
                                                           : std::nullopt;
                       }};
    QList<WindowId> list;

    // A new window managed at the end of the client list.
    ProcessKey add(WindowId id, const WindowState& w) {
        table.setWindow(id, w);
        list.append(id);
        table.setClientList(list);
        table.regroup();
        return *table.owner(id);
    }
    void remove(WindowId id) {
        table.removeWindow(id);
        list.removeAll(id);
        table.setClientList(list);
        table.regroup();
    }
    QList<ProcessKey> keys() const {
        QList<ProcessKey> keys;
        for (const auto& a : table.applications())
            keys.append(a.key);
        return keys;
    }
    QList<WindowId> windows(const ProcessKey& key) const {
        const auto* a = table.application(key);
        return a ? a->windows : QList<WindowId>{};
    }
};

} // namespace

class TestProcessTable : public QObject {
    Q_OBJECT
private slots:
    // One application per process, ordered by its first window in the client list.
    void groupsWindowsInClientListOrder() {
        Rig rig;
        rig.startTimes = {{10, 1000}, {20, 2000}, {30, 3000}};
        const ProcessKey ten = rig.add(windowOf(1, 1), served(10));
        const ProcessKey twenty = rig.add(windowOf(2, 1), served(20));
        rig.add(windowOf(1, 2), served(10));
        // Without any PID, windows group by the connection that made them.
        const ProcessKey anon = rig.add(windowOf(3, 1), served(0));
        QCOMPARE(rig.add(windowOf(3, 2), served(0)), anon);
        const ProcessKey other = rig.add(windowOf(4, 1), served(0));
        QVERIFY(!(other == anon));
        rig.add(windowOf(2, 2), served(20));
        QCOMPARE(rig.keys(), (QList<ProcessKey>{ten, twenty, anon, other}));
        QCOMPARE(rig.windows(ten), (QList<WindowId>{windowOf(1, 1), windowOf(1, 2)}));
        QCOMPARE(rig.windows(twenty), (QList<WindowId>{windowOf(2, 1), windowOf(2, 2)}));
        QCOMPARE(ten, (ProcessKey{10, 1000, 0}));

        // Listed but not loaded yet: not an application until its window is known.
        rig.list.prepend(windowOf(5, 1));
        rig.table.setClientList(rig.list);
        rig.table.regroup();
        QCOMPARE(rig.keys().size(), 4);
        rig.table.setWindow(windowOf(5, 1), served(30));
        rig.table.regroup();
        QCOMPARE(rig.keys().first(), (ProcessKey{30, 3000, 0}));

        // The window manager restacks its list: the order follows.
        rig.list = {windowOf(2, 2), windowOf(4, 1), windowOf(1, 2), windowOf(1, 1)};
        rig.table.setClientList(rig.list);
        rig.table.regroup();
        QCOMPARE(rig.keys(), (QList<ProcessKey>{twenty, other, ten}));
        QCOMPARE(rig.windows(ten), (QList<WindowId>{windowOf(1, 2), windowOf(1, 1)}));
        rig.remove(windowOf(2, 2));
        QCOMPARE(rig.keys(), (QList<ProcessKey>{other, ten}));
        QVERIFY(!rig.table.application(twenty));

        // A change of state alone regroups nothing; a new WM_CLASS may change the identity.
        WindowState w = *rig.table.window(windowOf(1, 1));
        const quint64 generation = rig.table.generation();
        w.hidden = true;
        rig.table.setWindow(windowOf(1, 1), w);
        QVERIFY(!rig.table.regroup());
        QCOMPARE(rig.table.generation(), generation);
        w.wmClass = QStringLiteral("Renamed");
        rig.table.setWindow(windowOf(1, 1), w);
        QVERIFY(rig.table.generation() != generation);
    }

    // Only the server's PID names a local process; a client's own claim never does.
    void serverPidNamesTheProcessHintNever() {
        Rig rig;
        rig.startTimes = {{10, 1000}, {20, 2000}, {kOwnPid, 7}};
        // A client claiming another process's PID is still the process the server names.
        WindowState liar = served(10);
        liar.netWmPid = 20;
        const ProcessKey server = rig.add(windowOf(1, 1), liar);
        QCOMPARE(server, (ProcessKey{10, 1000, 0}));
        QVERIFY(ProcessTable::isLocalProcess(server));

        // Only the claim (a remote client, or no X-Resource): grouped apart, never local,
        // never the local process with that PID.
        const ProcessKey hint = rig.add(windowOf(2, 1), claiming(10));
        QCOMPARE(hint.pid, 10);
        QVERIFY(!ProcessTable::isLocalProcess(hint));
        QVERIFY(!(hint == server));
        QCOMPARE(rig.add(windowOf(3, 1), claiming(10)), hint);
        QVERIFY(!(rig.add(windowOf(4, 1), claiming(10, "elsewhere")) == hint));
        QVERIFY(!ProcessTable::isLocalProcess(*rig.table.owner(windowOf(4, 1))));
        QVERIFY(!ProcessTable::isLocalProcess(rig.add(windowOf(5, 1), served(0))));

        // The start time is the one of the process first seen holding the window: a PID
        // reused meanwhile does not become this application.
        rig.startTimes[10] = 5555;
        WindowState changed = liar;
        changed.hidden = true;
        rig.table.setWindow(windowOf(1, 1), changed);
        QCOMPARE(*rig.table.owner(windowOf(1, 1)), server);
        // A window of the new process with that PID is another application.
        QCOMPARE(rig.add(windowOf(6, 1), served(10)), (ProcessKey{10, 5555, 0}));
        // A process that ended before it was seen has no start time to trust.
        QCOMPARE(rig.add(windowOf(7, 1), served(99)).startTime, quint64(0));

        // Ourselves, whether the server says so or a client claims our PID; a client
        // without a PID never is.
        QVERIFY(rig.table.isOwnProcess(rig.add(windowOf(8, 1), served(kOwnPid))));
        QVERIFY(rig.table.isOwnProcess(rig.add(windowOf(9, 1), claiming(kOwnPid))));
        QVERIFY(!rig.table.isOwnProcess(server));
        QVERIFY(!rig.table.isOwnProcess(*rig.table.owner(windowOf(5, 1))));
    }

    // Main windows get the polite request; secondary ones ask the user something.
    void secondaryWindows() {
        Rig rig;
        const ProcessKey app = rig.add(windowOf(1, 1), served(10));
        const WindowId main = windowOf(1, 1);
        QVERIFY(rig.table.acceptsPoliteQuit(app));
        QVERIFY(!rig.table.isAskingUser(app) && !rig.table.hasModalWindow(app));

        WindowState toRoot = served(10, WindowType::Untyped);
        toRoot.transientFor = kRoot; // "transient for the desktop": a main window
        rig.add(windowOf(1, 2), toRoot);
        WindowState utility = served(10, WindowType::Utility);
        utility.deleteWindowProtocol = false;
        rig.add(windowOf(1, 3), utility);
        QCOMPARE(rig.table.mainWindows(app),
                 (QList<WindowId>{main, windowOf(1, 2), windowOf(1, 3)}));
        QVERIFY(!rig.table.acceptsPoliteQuit(app)); // the window manager would kill it
        rig.remove(windowOf(1, 3));
        QVERIFY(!rig.table.isAskingUser(app));

        WindowState dialog = served(10, WindowType::Dialog);
        dialog.deleteWindowProtocol = false;
        WindowState transient = served(10, WindowType::Untyped);
        transient.transientFor = main;
        WindowState modal = served(10);
        modal.modal = true;
        for (const WindowState& w : {dialog, transient, modal}) {
            rig.add(windowOf(1, 9), w);
            QCOMPARE(rig.table.mainWindows(app), (QList<WindowId>{main, windowOf(1, 2)}));
            QVERIFY(rig.table.isAskingUser(app));
            QCOMPARE(rig.table.hasModalWindow(app), w.modal);
            // Only main windows must take the request.
            QVERIFY(rig.table.acceptsPoliteQuit(app));
            rig.remove(windowOf(1, 9));
        }
        // Nothing but a question: no window to ask.
        dialog.resPid = 30;
        const ProcessKey lone = rig.add(windowOf(2, 1), dialog);
        QVERIFY(rig.table.mainWindows(lone).isEmpty());
        QVERIFY(!rig.table.acceptsPoliteQuit(lone));
        QVERIFY(!rig.table.acceptsPoliteQuit(ProcessKey{77, 1, 0}));
    }

    void activationPolicy_data() {
        QTest::addColumn<QList<WindowState>>("windows");
        QTest::addColumn<ActivationPolicy>("policy");
        auto with = [](WindowType type, bool skipTaskbar = false, WindowId transientFor = 0) {
            WindowState w = served(10, type);
            w.skipTaskbar = skipTaskbar;
            w.transientFor = transientFor;
            return w;
        };
        using T = WindowType;
        const auto regular = ActivationPolicy::Regular;
        const auto accessory = ActivationPolicy::Accessory;
        const auto prohibited = ActivationPolicy::Prohibited;
        QTest::newRow("normal") << QList{with(T::Normal)} << regular;
        QTest::newRow("untyped") << QList{with(T::Untyped)} << regular;
        QTest::newRow("untyped, transient") << QList{with(T::Untyped, false, 5)} << accessory;
        QTest::newRow("skip-taskbar") << QList{with(T::Normal, true)} << accessory;
        QTest::newRow("dialog") << QList{with(T::Dialog)} << accessory;
        QTest::newRow("utility") << QList{with(T::Utility)} << accessory;
        QTest::newRow("splash") << QList{with(T::Other)} << accessory;
        QTest::newRow("dock") << QList{with(T::Dock)} << prohibited;
        QTest::newRow("desktop") << QList{with(T::Desktop)} << prohibited;
        QTest::newRow("desktop and utility")
            << QList{with(T::Utility), with(T::Desktop)} << prohibited;
        QTest::newRow("dock and a normal window")
            << QList{with(T::Dock), with(T::Normal)} << regular;
        QTest::newRow("skip-taskbar and a dialog")
            << QList{with(T::Normal, true), with(T::Dialog)} << accessory;
    }
    void activationPolicy() {
        QFETCH(QList<WindowState>, windows);
        QFETCH(ActivationPolicy, policy);
        Rig rig;
        ProcessKey key;
        for (int i = 0; i < windows.size(); ++i)
            key = rig.add(windowOf(1, quint32(i)), windows[i]);
        QCOMPARE(rig.keys().size(), 1);
        QCOMPARE(rig.table.activationPolicy(key), policy);
        // A process without windows left is never one to track.
        rig.list.clear();
        rig.table.setClientList({});
        rig.table.regroup();
        QCOMPARE(rig.table.activationPolicy(key), ActivationPolicy::Prohibited);
    }

    // Hidden: every normal window minimised. Finished launching: a window was ever shown.
    void hiddenAndFinishedLaunching() {
        Rig rig;
        WindowState first = served(10);
        WindowState second = served(10);
        const ProcessKey app = rig.add(windowOf(1, 1), first);
        rig.add(windowOf(1, 2), second);
        WindowState dialog = served(10, WindowType::Dialog);
        rig.add(windowOf(1, 3), dialog);
        QVERIFY(!rig.table.isHidden(app));

        first.hidden = true;
        first.mapped = false;
        rig.table.setWindow(windowOf(1, 1), first);
        QVERIFY(!rig.table.isHidden(app));
        second.hidden = true;
        rig.table.setWindow(windowOf(1, 2), second);
        QVERIFY(rig.table.isHidden(app)); // the dialog left open does not count
        QVERIFY(rig.table.isFinishedLaunching(app));

        // Only a dialog, minimised: no normal window to be hidden.
        dialog.hidden = true;
        dialog.resPid = 30;
        QVERIFY(!rig.table.isHidden(rig.add(windowOf(2, 1), dialog)));

        WindowState starting = served(20);
        starting.mapped = starting.everMapped = false;
        const ProcessKey launching = rig.add(windowOf(3, 1), starting);
        QVERIFY(!rig.table.isFinishedLaunching(launching));
        // Minimised before it was first seen: unmapped, yet launched long ago.
        starting.hidden = true;
        rig.table.setWindow(windowOf(3, 1), starting);
        QVERIFY(rig.table.isFinishedLaunching(launching));
        starting.hidden = false;
        starting.mapped = starting.everMapped = true;
        rig.table.setWindow(windowOf(3, 1), starting);
        starting.mapped = false;
        rig.table.setWindow(windowOf(3, 1), starting);
        QVERIFY(rig.table.isFinishedLaunching(launching));
    }

    // Each hint comes from the first window that has it.
    void desktopEntryHints() {
        Rig rig;
        WindowState bare = served(10);
        WindowState gtk = served(10);
        gtk.gtkApplicationId = QStringLiteral("org.example.Gtk");
        gtk.wmInstance = QStringLiteral("first");
        WindowState full = served(10);
        full.gtkApplicationId = QStringLiteral("org.example.Later");
        full.kdeDesktopFile = QStringLiteral("org.kde.app");
        full.wmInstance = QStringLiteral("second");
        full.wmClass = QStringLiteral("Second");
        const ProcessKey app = rig.add(windowOf(1, 1), bare);
        rig.add(windowOf(1, 2), gtk);
        rig.add(windowOf(1, 3), full);
        const WindowHints hints = rig.table.hints(app);
        QCOMPARE(hints.gtkApplicationId, QStringLiteral("org.example.Gtk"));
        QCOMPARE(hints.kdeDesktopFile, QStringLiteral("org.kde.app"));
        // Instance and class stay a pair from one window.
        QCOMPARE(hints.wmClassInstance, QStringLiteral("first"));
        QCOMPARE(hints.wmClassClass, QString());
        QVERIFY(hints.executableName.isEmpty());
        QCOMPARE(rig.table.windowClass(app), QStringLiteral("Second"));
    }
};

QTEST_APPLESS_MAIN(TestProcessTable)
#include "test_process_table.moc"
