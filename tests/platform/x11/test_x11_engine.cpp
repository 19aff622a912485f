// The quit engine on a real X server: a background xterm idle past the timeout is closed,
// the foreground one is kept. Under faketime (wall clock 60x) this takes about a second;
// without it, a little over a minute.

#include "support/TempStore.h"
#include "support/X11Session.h"

#include "engine/Clock.h"
#include "engine/RunningAppsManager.h"
#include "platform/linux/DesktopEntryIndex.h"
#include "platform/x11/X11Workspace.h"

#include <QTest>

#include <csignal>
#include <sys/wait.h>

class TestX11Engine : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY2(m_session.start(), qPrintable(m_session.errorString()));
        m_session.exportToCurrentProcess();
    }

    void backgroundXtermIsClosedForegroundKept() {
        DesktopEntryIndex index;
        QString error;
        auto ws = X11Workspace::connect(m_session.display(), &error, index);
        QVERIFY2(ws, qPrintable(error));

        const pid_t background = m_session.spawn({QStringLiteral("xterm")});
        const pid_t foreground = m_session.spawn({QStringLiteral("xterm")});
        auto listed = [&ws](pid_t pid) {
            for (const RunningApplication& app : ws->runningApplications())
                if (app.key().pid == pid)
                    return app;
            return RunningApplication();
        };
        // QTRY_* counts its steps, which faketime shortens: wait on the monotonic clock.
        QVERIFY(m_session.waitFor(
            [&] { return !listed(background).isNull() && !listed(foreground).isNull(); }, 10000));
        // xterm sets _NET_WM_PID (which xdotool searches by) only after it is mapped.
        QVERIFY(
            m_session.waitFor([&] { return !m_session.windowsOf(foreground).isEmpty(); }, 10000));
        QVERIFY(m_session.activate(m_session.windowsOf(foreground).value(0)));
        QVERIFY(m_session.waitFor([&] { return ws->frontmostApplication() == listed(foreground); },
                                  5000));

        TempStore store;
        Preference<qint64>(*store, Keys::minutesUntilClose).set(1);
        SystemClock clock;
        const double start = clock.now();
        RunningAppsManager engine(*ws, *store, clock);

        const std::optional<int> status = m_session.waitForExit(background, 150000);
        const double closedAt = clock.now();
        QVERIFY2(status, "the background xterm was not closed");
        QVERIFY2(closedAt - start >= 60, qPrintable(QString::number(closedAt - start)));
        // Closed politely: xterm ends on its own rather than by a signal.
        QVERIFY(WIFEXITED(*status));

        QVERIFY(m_session.isRunning(foreground));
        QVERIFY(m_session.waitFor([&] { return engine.runningApps().contains(listed(foreground)); },
                                  5000));
        QVERIFY(!engine.runningApps().contains(listed(background)));
        ::kill(foreground, SIGKILL);
        m_session.waitForExit(foreground, 3000);
    }

private:
    X11Session m_session;
};

QTEST_MAIN(TestX11Engine)
#include "test_x11_engine.moc"
