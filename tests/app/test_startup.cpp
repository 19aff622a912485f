// The program's own start-up, run as a user runs it on a private X11 desktop.

#include "preferences/UserDefaults.h"
#include "support/X11Session.h"

#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>

class TestStartup : public QObject {
    Q_OBJECT

    X11Session m_session;

private slots:
    void initTestCase() {
        for (const char* tool : {"Xvfb", "openbox"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(tool)));
        QVERIFY2(m_session.start(), qPrintable(m_session.errorString()));
    }

    // An idle time stored in hours by an older version is read in minutes from the first
    // start on.
    void startConvertsTheLegacyIdleTime() {
        QProcessEnvironment env = m_session.environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        const QString file = env.value(QStringLiteral("XDG_CONFIG_HOME")) +
                             QStringLiteral("/Idlewatch/defaults.json");
        UserDefaults(file).setInteger(QStringLiteral("hoursUntilClose"), 2);

        QProcess idlewatch;
        idlewatch.setProcessEnvironment(env);
        idlewatch.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        idlewatch.start(QStringLiteral(IDLEWATCH_BINARY), {});
        auto end = qScopeGuard([&] {
            idlewatch.kill();
            idlewatch.waitForFinished(5000);
        });
        QVERIFY(idlewatch.waitForStarted());
        // --status answers once the program has finished starting.
        const auto answers = [&env] {
            QProcess status;
            status.setProcessEnvironment(env);
            status.start(QStringLiteral(IDLEWATCH_BINARY), {QStringLiteral("--status")});
            return status.waitForFinished(10000) && status.exitCode() == 0;
        };
        QVERIFY(m_session.waitFor(answers, 30000));
        QCOMPARE(idlewatch.state(), QProcess::Running);

        const UserDefaults stored(file);
        QCOMPARE(stored.integer(QStringLiteral("minutesUntilClose")), qint64(120));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "test_startup.moc"
