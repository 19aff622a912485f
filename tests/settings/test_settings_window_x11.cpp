#include "support/X11Session.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

// The settings window must come in front of the application the user was in, under a
// real window manager that guards against focus stealing.
class TestSettingsWindowX11 : public QObject {
    Q_OBJECT

    X11Session m_session;
    int m_others = 0;

    QString activeWindowName() {
        QByteArray name;
        if (m_session.run({"xdotool", "getactivewindow", "getwindowname"}, &name) != 0)
            return {};
        return QString::fromUtf8(name).trimmed();
    }

    bool waitForActive(const QString& name) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 5000) {
            if (activeWindowName() == name)
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    // Starts another application and gives it the focus, as a user clicking into it would.
    void focusAnotherApplication() {
        const QString title = QStringLiteral("other-%1").arg(++m_others);
        QVERIFY(m_session.spawn({"xterm", "-T", title, "-geometry", "200x60+0+0"}) > 0);
        if (m_session.run({"xdotool", "search", "--sync", "--name", "^" + title + "$",
                           "windowactivate", "--sync"}) != 0)
            QFAIL(qPrintable(m_session.logText()));
        QVERIFY(waitForActive(title));
    }

    static void send(QProcess& helper, const QByteArray& command) {
        helper.write(command + '\n');
        QVERIFY(helper.waitForReadyRead(5000));
        QCOMPARE(helper.readLine().trimmed(), QByteArray("done"));
    }

private slots:
    void initTestCase() {
        for (const char* tool : {"Xvfb", "openbox", "xdotool", "xterm"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(tool)));
        QVERIFY2(m_session.start(), qPrintable(m_session.errorString()));
    }

    void openingComesInFrontOfTheFocusedApplication() {
        QProcess helper;
        QProcessEnvironment env = m_session.environment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        helper.setProcessEnvironment(env);
        helper.start(QStringLiteral(SETTINGS_WINDOW_HELPER), {});
        QVERIFY(helper.waitForStarted());

        // First opening, then a reopening of the closed window, each while xterm has the
        // focus; then a window left open behind xterm.
        for (const QByteArray& before : {QByteArray(), QByteArray("close"), QByteArray()}) {
            if (!before.isEmpty())
                send(helper, before);
            focusAnotherApplication();
            // Let the user stay in the other application for a moment, so that the last
            // event this program saw is older than that application's focus.
            QTest::qWait(700);
            send(helper, "open");
            QVERIFY2(waitForActive(QStringLiteral("Idlewatch Settings")),
                     qPrintable(activeWindowName()));
        }

        // The window goes before the engine it shows, also under the sanitizers.
        helper.write("quit\n");
        QVERIFY(helper.waitForFinished(5000));
        QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
        QCOMPARE(helper.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSettingsWindowX11)
#include "test_settings_window_x11.moc"
