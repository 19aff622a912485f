// The installed program on a private desktop (Xvfb, openbox, tint2): with a one-minute
// timeout, the xterm left in the background is closed and the one in front keeps running;
// and the settings window's sidebar, found through the debug dump, switches panes.

#include "support/X11Session.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <functional>
#include <sys/wait.h>

namespace {

// Idlewatch's wall clock runs this many times faster than real time: the one-minute timeout
// passes in three seconds, while its timers keep real time.
constexpr int kClockSpeed = 20;

// Installs the build tree into `prefix` the way a user or a package would.
bool installInto(const QString& prefix, QString* log) {
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(BUILD_DIR),
                   QStringLiteral("--prefix"), prefix});
    const bool ok = install.waitForFinished(120000) &&
                    install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0;
    *log = QString::fromLocal8Bit(install.readAll());
    return ok;
}

// The installed Idlewatch with its debug dump on; standard output (the dump) and standard
// error (the log) are collected line by line.
class Idlewatch {
public:
    Idlewatch(const QString& binary, const QProcessEnvironment& env) {
        m_process.setProcessEnvironment(env);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
            while (m_process.canReadLine())
                m_dump << QString::fromUtf8(m_process.readLine()).trimmed();
        });
        QObject::connect(&m_process, &QProcess::readyReadStandardError,
                         [this] { m_log += QString::fromUtf8(m_process.readAllStandardError()); });
        m_process.start(binary, {});
    }
    ~Idlewatch() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool running() const { return m_process.state() == QProcess::Running; }
    QString log() const { return m_log; }
    QString dump() const { return m_dump.join(QLatin1Char('\n')); }
    int sweeps() const { return int(m_log.count(QLatin1String("checkOpenApps"))); }

    // The last dump line starting with `prefix`, or an empty text.
    QString last(const QString& prefix) const {
        for (auto it = m_dump.crbegin(); it != m_dump.crend(); ++it)
            if (it->startsWith(QLatin1String("IDLEWATCH_DUMP ") + prefix))
                return *it;
        return {};
    }

    // The rectangle that ends a dump line.
    static QRect rectOf(const QString& line) {
        const QStringList f = line.split(QLatin1Char(' '));
        const qsizetype n = f.size();
        if (n < 4)
            return {};
        return {f[n - 4].toInt(), f[n - 3].toInt(), f[n - 2].toInt(), f[n - 1].toInt()};
    }

private:
    QProcess m_process;
    QStringList m_dump;
    QString m_log;
};

bool click(X11Session& session, const QPoint& at) {
    return session.run({QStringLiteral("xdotool"), QStringLiteral("mousemove"),
                        QString::number(at.x()), QString::number(at.y()), QStringLiteral("click"),
                        QStringLiteral("1")}) == 0;
}

} // namespace

class TestE2eQuit : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void backgroundXtermClosedForegroundKept();
    void sidebarRowsFromTheDumpSelectTheirPanes();
    void entryInstalledAfterStartNamesItsApplication();

private:
    // The session's environment for Idlewatch.
    QProcessEnvironment idlewatchEnvironment();

    QTemporaryDir m_prefix;
    std::unique_ptr<X11Session> m_session;
};

void TestE2eQuit::initTestCase() {
    QVERIFY(m_prefix.isValid());
    QString log;
    QVERIFY2(installInto(m_prefix.path(), &log), qPrintable(log));
    QVERIFY(QFileInfo(m_prefix.filePath(QStringLiteral("bin/idlewatch"))).isExecutable());
}

// A private desktop whose settings file holds "minutesUntilClose" 1.
void TestE2eQuit::init() {
    m_session = std::make_unique<X11Session>();
    QVERIFY2(m_session->start({.windowManager = true, .tray = true}),
             qPrintable(m_session->errorString()));
    const QString folder =
        m_session->environment().value(QStringLiteral("XDG_CONFIG_HOME")) + "/Idlewatch";
    QVERIFY(QDir().mkpath(folder));
    QFile settings(folder + "/defaults.json");
    QVERIFY(settings.open(QIODevice::WriteOnly));
    QVERIFY(settings.write(R"({"format":"com.Idlewatch.defaults","version":1,)"
                           R"("values":{"minutesUntilClose":{"integer":"1"}}})") > 0);
}

void TestE2eQuit::cleanup() {
    m_session.reset();
}

QProcessEnvironment TestE2eQuit::idlewatchEnvironment() {
    QProcessEnvironment env = m_session->environment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("IDLEWATCH_TEST_DUMP"), QStringLiteral("1"));
    // Its own desktop entry is found where it was installed.
    env.insert(QStringLiteral("XDG_DATA_DIRS"), m_prefix.filePath(QStringLiteral("share")) +
                                                    QStringLiteral(":/usr/local/share:/usr/share"));
    return env;
}

void TestE2eQuit::backgroundXtermClosedForegroundKept() {
#ifdef IDLEWATCH_SANITIZED
    QSKIP("faketime cannot be preloaded before the sanitizer runtime");
#endif
    if (QByteArray(FAKETIME_LIBRARY).isEmpty())
        QSKIP("needs faketime (libfaketime.so.1)");
    const pid_t background = m_session->spawn(
        {QStringLiteral("xterm"), QStringLiteral("-geometry"), QStringLiteral("60x10+20+60")});
    const pid_t foreground = m_session->spawn(
        {QStringLiteral("xterm"), QStringLiteral("-geometry"), QStringLiteral("60x10+520+60")});
    QVERIFY(background > 0 && foreground > 0);
    // xterm sets _NET_WM_PID, by which its windows are found, only once it is mapped.
    QVERIFY(m_session->waitFor([&] { return !m_session->windowsOf(background).isEmpty(); }, 20000));
    QVERIFY(m_session->waitFor([&] { return !m_session->windowsOf(foreground).isEmpty(); }, 20000));
    QVERIFY(m_session->activate(m_session->windowsOf(foreground).value(0)));

    QProcessEnvironment env = idlewatchEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(FAKETIME_LIBRARY));
    env.insert(QStringLiteral("FAKETIME"), QStringLiteral("+0 x%1").arg(kClockSpeed));
    env.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"),
               QStringLiteral("com.Idlewatch.Idlewatch.RunningAppsManager.debug=true"));
    QElapsedTimer sinceStart;
    sinceStart.start();
    Idlewatch app(m_prefix.filePath(QStringLiteral("bin/idlewatch")), env);

    const std::optional<int> status = m_session->waitForExit(background, 90000);
    QVERIFY2(status,
             qPrintable(QStringLiteral("the background xterm is still running\n") + app.log()));
    // Idlewatch's clock starts after this timer and runs kClockSpeed times faster: an exit
    // sooner than a minute of its time would mean the timeout was not respected. Load can
    // only make this later.
    QVERIFY2(sinceStart.elapsed() >= 60 * 1000 / kClockSpeed,
             qPrintable(QString::number(sinceStart.elapsed())));
    // Closed the way its close button would: xterm ends by itself, not by a signal.
    QVERIFY(WIFEXITED(*status));

    // Both were registered together; a faulty engine would have asked the foreground one in
    // the same sweep. Two more sweeps and it must still run, Idlewatch too.
    const int sweeps = app.sweeps();
    QVERIFY2(m_session->waitFor([&] { return app.sweeps() >= sweeps + 2; }, 30000),
             qPrintable(app.log()));
    QVERIFY(m_session->isRunning(foreground));
    QVERIFY2(app.running(), qPrintable(app.log()));
}

void TestE2eQuit::sidebarRowsFromTheDumpSelectTheirPanes() {
    Idlewatch app(m_prefix.filePath(QStringLiteral("bin/idlewatch")), idlewatchEnvironment());
    QVERIFY2(
        m_session->waitFor([&] { return !Idlewatch::rectOf(app.last("tray ")).isEmpty(); }, 20000),
        qPrintable(app.log()));
    QVERIFY(click(*m_session, Idlewatch::rectOf(app.last("tray ")).center()));
    QVERIFY(m_session->waitFor([&] { return !app.last("item Settings ").isEmpty(); }, 20000));
    QVERIFY(click(*m_session, Idlewatch::rectOf(app.last("item Settings ")).center()));
    QVERIFY2(m_session->waitFor(
                 [&] { return app.last("selected ") == "IDLEWATCH_DUMP selected general"; }, 20000),
             qPrintable(app.log()));

    // Clicking each row, in an order unlike the sidebar's, selects its pane.
    const QStringList panes = {"support",  "presets",  "menuBar",    "general",
                               "advanced", "behavior", "exclusions", "appearance"};
    for (const QString& pane : panes) {
        // The window manager may still move the window: take the latest rectangles.
        const QRect row = Idlewatch::rectOf(app.last("pane " + pane + ' '));
        QVERIFY2(!row.isEmpty(), qPrintable(pane));
        QVERIFY(Idlewatch::rectOf(app.last("settings ")).contains(row));
        QVERIFY(click(*m_session, row.center()));
        QVERIFY2(
            m_session->waitFor(
                [&] { return app.last("selected ") == "IDLEWATCH_DUMP selected " + pane; }, 10000),
            qPrintable(pane + ": " + app.dump()));
    }
}

// An application installed while Idlewatch runs is matched to its new desktop entry: named
// by it, and so excludable by its identifier, without a restart.
void TestE2eQuit::entryInstalledAfterStartNamesItsApplication() {
    Idlewatch app(m_prefix.filePath(QStringLiteral("bin/idlewatch")), idlewatchEnvironment());
    QVERIFY2(
        m_session->waitFor([&] { return !Idlewatch::rectOf(app.last("tray ")).isEmpty(); }, 20000),
        qPrintable(app.log()));
    // Let the index settle after its first scan, as a user's later install would find it.
    QTest::qWait(500);
    const QString folder =
        m_session->environment().value(QStringLiteral("XDG_DATA_HOME")) + "/applications";
    QVERIFY(QDir().mkpath(folder));
    QFile entry(folder + "/org.example.Sleeper.desktop");
    QVERIFY(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Sleeper Pad\nExec=xterm\n"
                "StartupWMClass=SleeperPad\n");
    entry.close();
    QTest::qWait(1500); // the index re-reads its folders a moment after a change
    const pid_t sleeper = m_session->spawn(
        {QStringLiteral("xterm"), QStringLiteral("-class"), QStringLiteral("SleeperPad")});
    QVERIFY(sleeper > 0);

    QVERIFY(click(*m_session, Idlewatch::rectOf(app.last("tray ")).center()));
    QVERIFY2(m_session->waitFor([&] { return app.dump().contains("row Sleeper Pad"); }, 20000),
             qPrintable(app.dump()));
}

QTEST_GUILESS_MAIN(TestE2eQuit)
#include "test_e2e_quit.moc"
