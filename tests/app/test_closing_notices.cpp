#include "app/ClosingNotices.h"
#include "app/DesktopNotifier.h"

#include "engine/EngineRig.h"
#include "popover/ClosedToday.h"
#include "support/NotificationServer.h"
#include "support/Session.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The engine with the notices around closing, told through a test server on a private bus.
struct NoticeRig : EngineRig {
    using EngineRig::EngineRig;
    BusSession bus;
    std::unique_ptr<NotificationServer> server;
    std::unique_ptr<DesktopNotifier> notifier;
    ClosedToday closed;
    std::unique_ptr<ClosingNotices> notices;

    // No capabilities: no server at all.
    bool begin(const QStringList& capabilities) {
        static int connections = 0;
        const QString suffix = QString::number(++connections);
        if (!bus.start())
            return false;
        server = std::make_unique<NotificationServer>(capabilities);
        if (!capabilities.isEmpty() &&
            !server->serveOn(QDBusConnection::connectToBus(bus.address(), "server" + suffix)))
            return false;
        startAndDrain();
        notifier = std::make_unique<DesktopNotifier>(
            QDBusConnection::connectToBus(bus.address(), "idlewatch" + suffix));
        notices = std::make_unique<ClosingNotices>(*engine, *notifier, closed);
        return true;
    }
    // Not used for `idle` seconds as of now.
    void idleFor(const App& app, double idle) {
        engine->setLastDeactivation(app, clock.now() - idle);
    }
    QList<NotificationServer::Notice> told() const { return server->notices(); }
};

// A desktop entry whose Exec touches "<entry>.reopened" when it is started with no argument
// beyond its own path.
QString touchingEntry(const QTemporaryDir& dir, const QString& name) {
    const QString path = dir.filePath(name + ".desktop");
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(
            "[Desktop Entry]\nType=Application\nName=" + name.toUtf8() +
            "\nExec=sh -c \"test \\\\$# = 0 && touch \\\\\"\\\\$0.reopened\\\\\"\" %k %U %f\n");
    return path;
}

} // namespace

class TestClosingNotices : public QObject {
    Q_OBJECT
private slots:
    // Five minutes ahead (the default), what falls due within one minute shares a notice,
    // each due time is told once, and "Keep open" gives a fresh countdown that is told again
    // when it runs low; "Never close" switches the application off. What is switched off or
    // in front is never told, and a name reads as text, not markup.
    void noticeBeforeClosing() {
        NoticeRig rig(60);
        rig.idleSource = true; // "only while away" holds requests: the notice says so
        const App tom = rig.workspace.add({.name = "Tom & Jerry"});
        const App editor = rig.workspace.add({.name = "Editor"});
        const App late = rig.workspace.add({.name = "Late"});
        const App off = rig.workspace.add({.name = "Off"});
        const App front = rig.workspace.add({.name = "Front"});
        rig.store->setData("com.Idlewatch.toggleStatus", R"({"Off":false})");
        QVERIFY2(rig.begin({"actions", "body-markup"}), qPrintable(rig.bus.errorString()));
        rig.workspace.activate(front);
        rig.idleFor(tom, 3301);    // due in 299 s
        rig.idleFor(editor, 3270); // 31 s later: the same notice
        rig.idleFor(late, 3200);   // 101 s later: a notice of its own, later
        rig.idleFor(off, 3400);
        rig.sweepAfter(0);
        QTRY_COMPARE(rig.told().size(), 1);
        NotificationServer::Notice first = rig.told().first();
        QCOMPARE(first.summary, "Tom & Jerry and Editor will be closed once you are away, in 5 "
                                "minutes at the earliest");
        QCOMPARE(first.body, "Tom &amp; Jerry: not used for 55 min\nEditor: not used for 54 min");
        QCOMPARE(first.actions, (QStringList{"keep", "Keep open", "never", "Never close"}));
        rig.sweepAfter(30);
        rig.sweepAfter(80); // Late is 270 s from due
        QTRY_COMPARE(rig.told().size(), 2);
        QTest::qWait(100); // nothing told twice comes after
        QCOMPARE(rig.told().size(), 2);
        QVERIFY(rig.told().last().summary.startsWith("Late will be closed"));

        rig.server->invokeAction(first.id, "keep");
        QTRY_COMPARE(rig.stamp(tom), rig.clock.now());
        QCOMPARE(rig.stamp(editor), rig.clock.now());
        rig.server->invokeAction(rig.told().last().id, "never");
        QTRY_VERIFY(!rig.engine->toggleValue("Late"));
        rig.sweepAfter(3301); // the fresh countdowns run low in turn
        QTRY_COMPARE(rig.told().size(), 3);
        QVERIFY(rig.told().last().summary.startsWith("Editor and Tom & Jerry will be closed"));
        // A timeout shorter than the notice: whatever is in front is still not told.
        rig.store->setInteger("minutesUntilClose", 3);
        rig.sweepAfter(1);
        QTest::qWait(100);
        for (const auto& notice : rig.told())
            QVERIFY2(!notice.summary.contains("Front") && !notice.summary.contains("Off"),
                     qPrintable(notice.summary));
    }

    // A sweep's closes are summed up in one notice whose "Reopen all" starts each closed
    // application's desktop entry (field codes removed); one without an entry gets no Reopen.
    // The popover lists them until midnight and reopens from there too.
    void offerAfterClosing() {
        QTemporaryDir dir;
        NoticeRig rig(60);
        const QString firefox = touchingEntry(dir, "Firefox"), gedit = touchingEntry(dir, "gedit");
        rig.workspace.add({.name = "Firefox", .entryPath = firefox});
        rig.workspace.add({.name = "gedit", .entryPath = gedit});
        rig.workspace.add({.name = "xterm"});
        QVERIFY2(rig.begin({"actions"}), qPrintable(rig.bus.errorString()));
        rig.sweepAfter(3601 + 7200); // asked; the next sweep finds them ended
        rig.sweepAfter(5);
        QTRY_COMPARE(rig.told().size(), 1);
        const NotificationServer::Notice notice = rig.told().first();
        QCOMPARE(notice.summary, "Closed 3 applications: Firefox, gedit, xterm");
        QVERIFY(notice.body.startsWith("Firefox: not used for 3 h\n"));
        QCOMPARE(notice.actions, (QStringList{"reopen", "Reopen all"}));

        ClosedTodaySection section(rig.closed);
        QCOMPARE(section.reopenButtons().size(), 2);
        QVERIFY(section.rowTexts().filter("Reopen").join(' ').contains("Firefox"));
        rig.server->invokeAction(notice.id, "reopen");
        QTRY_VERIFY(QFile::exists(firefox + ".reopened") && QFile::exists(gedit + ".reopened"));
        QCOMPARE(rig.closed.entries().size(), 1); // what was reopened leaves the list

        // One close alone, reopened from the popover.
        QFile::remove(firefox + ".reopened");
        const App again = rig.workspace.add({.name = "Firefox", .entryPath = firefox});
        rig.sweepAfter(5);
        rig.sweepAfter(3601);
        rig.sweepAfter(5);
        QTRY_COMPARE(rig.told().size(), 2);
        QCOMPARE(rig.told().last().summary, "Closed Firefox (not used for 1 h)");
        QVERIFY(!rig.workspace.isRunning(again));
        section.reopenButtons().first()->click();
        QTRY_VERIFY(QFile::exists(firefox + ".reopened"));
        QCOMPARE(section.rowTexts().size(), 1);
        QVERIFY(rig.closed.entries(QDate::currentDate().addDays(1)).isEmpty());
    }

    // Without actions the notice says what to do instead; without a server nothing is shown,
    // the application is still closed and listed.
    void withoutActionsOrServer() {
        for (const QStringList& capabilities : {QStringList{"body"}, QStringList{}}) {
            NoticeRig rig(60);
            const App app = rig.workspace.add({.name = "Editor"});
            QVERIFY2(rig.begin(capabilities), qPrintable(rig.bus.errorString()));
            rig.idleFor(app, 3400);
            rig.sweepAfter(0);
            rig.sweepAfter(201);
            rig.sweepAfter(5);
            QTRY_COMPARE(rig.closed.entries().size(), 1);
            if (capabilities.isEmpty())
                continue;
            QTRY_COMPARE(rig.told().size(), 2);
            QCOMPARE(rig.told().first().summary, "Editor will be closed in 4 minutes");
            QVERIFY(rig.told().first().actions.isEmpty());
            QVERIFY(
                rig.told().first().body.endsWith("switch it off in Idlewatch, to keep it open."));
        }
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    TestClosingNotices test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_closing_notices.moc"
