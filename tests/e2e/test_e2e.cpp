// The installed program on a private desktop (Xvfb, openbox, tint2 as the tray host), driven
// the way a user or a script would: clicks and keys through xdotool, windows found by name,
// and the running instance read through `idlewatch --status`.

#include "preferences/UserDefaults.h"
#include "support/X11Session.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <sys/wait.h>

namespace {

// Idlewatch's wall clock runs this many times faster than real time: the one-minute timeout
// passes in three seconds, while its timers keep real time.
constexpr int kClockSpeed = 20;
const QString kSettingsTitle = QStringLiteral("^Idlewatch Settings$");

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

// One short launch of the installed binary, as from a terminal.
Run launch(const QString& binary, const QProcessEnvironment& env, const QStringList& args) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(binary, args);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(1000);
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// The running instance, started from the installed binary; its output is collected.
class Idlewatch {
public:
    Idlewatch(const QString& binary, const QProcessEnvironment& env)
        : m_binary(binary)
        , m_env(env) {
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&process, &QProcess::readyRead,
                         [this] { m_log += QString::fromUtf8(process.readAll()); });
        process.start(binary, {});
    }
    ~Idlewatch() {
        process.kill();
        process.waitForFinished(5000);
    }
    QProcess process;
    QString log() const { return m_log; }
    Run ask(const QStringList& args) const { return launch(m_binary, m_env, args); }
    // What `--status` reports; empty while nothing answers.
    QJsonObject status() const {
        const Run run = ask({"--status"});
        return run.exitCode == 0 ? QJsonDocument::fromJson(run.out).object() : QJsonObject();
    }
    QJsonValue settingsPane() const { return status().value("settingsPane"); }
    QList<QJsonObject> apps(const QString& name) const {
        QList<QJsonObject> found;
        for (const QJsonValue& app : status().value("apps").toArray())
            if (app.toObject().value("name").toString() == name)
                found.append(app.toObject());
        return found;
    }

private:
    QString m_binary;
    QProcessEnvironment m_env;
    QString m_log;
};

} // namespace

class TestE2e : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup() { m_session.reset(); }
    void statusPopoverSettingsAndQuit();
    void darkPaletteAndSecondLaunch();
    void withoutDisplaySaysSoAndFails();
    void backgroundXtermClosedForegroundKept();
    void entryInstalledAfterStartNamesItsApplication();

private:
    QString binary() const { return m_prefix.filePath("bin/idlewatch"); }
    QProcessEnvironment environment() const;
    QString configFile() const {
        return m_session->environment().value("XDG_CONFIG_HOME") + "/Idlewatch/defaults.json";
    }
    bool startXtermInFront(pid_t* pid = nullptr, const QString& geometry = "60x10+520+60");
    QStringList search(const QStringList& query);
    QRect geometry(const QString& window);
    std::pair<QString, QRect> trayIcon();
    QRect popover();
    QRect openPopoverFromTray();
    bool xdotool(const QStringList& args) {
        return m_session->run(QStringList{"xdotool"} + args) == 0;
    }
    bool click(const QPoint& at) {
        return xdotool(
            {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
    }
    // The popover's own background, just inside its border, on a screenshot kept as an
    // artifact.
    int backgroundLightness(const QString& name, const QRect& popover);

    QTemporaryDir m_prefix;
    std::unique_ptr<X11Session> m_session;
};

void TestE2e::initTestCase() {
    // Installed the way a user or a package would.
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(CMAKE_COMMAND, {"--install", BUILD_DIR, "--prefix", m_prefix.path()});
    QVERIFY2(install.waitForFinished(120000) && install.exitCode() == 0, install.readAll());
    QVERIFY(QFileInfo(binary()).isExecutable());
}

void TestE2e::init() {
    if (QTest::currentTestFunction() == QLatin1String("withoutDisplaySaysSoAndFails"))
        return;
    m_session = std::make_unique<X11Session>();
    QVERIFY2(m_session->start({.windowManager = true, .tray = true}),
             qPrintable(m_session->errorString()));
}

QProcessEnvironment TestE2e::environment() const {
    QProcessEnvironment env = m_session->environment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    // Its own desktop entry is found where it was installed.
    env.insert("XDG_DATA_DIRS", m_prefix.filePath("share") + ":/usr/local/share:/usr/share");
    return env;
}

bool TestE2e::startXtermInFront(pid_t* pid, const QString& geometry) {
    const pid_t xterm = m_session->spawn({"xterm", "-geometry", geometry});
    if (pid)
        *pid = xterm;
    // xterm sets _NET_WM_PID, by which its windows are found, only once it is mapped.
    return xterm > 0 &&
           m_session->waitFor([&] { return !m_session->windowsOf(xterm).isEmpty(); }, 20000) &&
           m_session->activate(m_session->windowsOf(xterm).value(0));
}

QStringList TestE2e::search(const QStringList& query) {
    QByteArray out;
    m_session->run(QStringList{"xdotool", "search"} + query, &out, 10000, false);
    return QString::fromLatin1(out).split('\n', Qt::SkipEmptyParts);
}

// A window's inside in root coordinates (its frame excluded).
QRect TestE2e::geometry(const QString& window) {
    QByteArray out;
    m_session->run({"xwininfo", "-id", window}, &out, 10000, false);
    const auto field = [&](const char* name) {
        return QRegularExpression(QStringLiteral("%1:\\s*(-?\\d+)").arg(name))
            .match(QString::fromLatin1(out))
            .captured(1)
            .toInt();
    };
    return {field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
            field("Height")};
}

// The icon's window as tint2 embedded it: its id and place on the screen.
std::pair<QString, QRect> TestE2e::trayIcon() {
    static const QRegularExpression line(
        R"(^\s*(0x[0-9a-f]+) .*\("idlewatch" .*\s(\d+)x(\d+)[+-]\d+[+-]\d+\s+\+(-?\d+)\+(-?\d+)\s*$)",
        QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
    for (const QString& host : search({"--class", "tint2"})) {
        QByteArray tree;
        m_session->run({"xwininfo", "-tree", "-id", host}, &tree, 10000, false);
        const auto m = line.match(QString::fromLatin1(tree));
        if (m.hasMatch())
            return {QString::number(m.captured(1).toULongLong(nullptr, 16)),
                    QRect(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(2).toInt(),
                          m.captured(3).toInt())};
    }
    return {};
}

// The popover's place while it is open, once two looks agree.
QRect TestE2e::popover() {
    const QString icon = trayIcon().first;
    QRect last;
    for (int look = 0; look < 50; ++look) {
        QRect now;
        for (const QString& w : search({"--onlyvisible", "--name", "^Idlewatch$"}))
            if (w != icon)
                now = geometry(w);
        if (now.isEmpty() || now == last)
            return now;
        last = now;
        QTest::qWait(150);
    }
    return {};
}

// Clicks the tray icon until the popover is open (the tray embeds the icon asynchronously).
QRect TestE2e::openPopoverFromTray() {
    QRect open;
    for (int attempt = 0; attempt < 3 && open.isEmpty(); ++attempt) {
        if (const QRect icon = trayIcon().second; !icon.isEmpty())
            click(icon.center());
        m_session->waitFor([&] { return !(open = popover()).isEmpty(); }, 5000);
    }
    return open;
}

int TestE2e::backgroundLightness(const QString& name, const QRect& popover) {
    QDir().mkpath(IDLEWATCH_ARTIFACTS);
    const QString file = QStringLiteral(IDLEWATCH_ARTIFACTS "/") + name;
    if (m_session->run({"import", "-window", "root", file}) != 0)
        return -1;
    return QImage(file).pixelColor(popover.topLeft() + QPoint(3, 3)).lightness();
}

// A user's session from the tray: the status line, the popover, the one settings window
// (also from the command line and the keyboard) and "Quit Idlewatch". An idle time stored in
// hours by an older version is read in minutes from the first start on.
void TestE2e::statusPopoverSettingsAndQuit() {
    const Run none = launch(binary(), environment(), {"--status"});
    QCOMPARE(none.exitCode, 1);
    QVERIFY2(none.out.isEmpty() && none.err.contains("not running"), none.err.constData());
    UserDefaults(configFile()).setInteger("hoursUntilClose", 2);

    QVERIFY(startXtermInFront());
    Idlewatch app(binary(), environment());
    QList<QJsonObject> xterms;
    QVERIFY2(m_session->waitFor([&] { return !(xterms = app.apps("XTerm")).isEmpty(); }, 20000),
             qPrintable(app.log()));
    QCOMPARE(xterms.size(), 1);
    QVERIFY(xterms[0].value("enabled").toBool() && xterms[0].value("secondsLeft").toDouble() > 0);
    QCOMPARE(UserDefaults(configFile()).integer("minutesUntilClose"), qint64(120));
    QCOMPARE(app.ask({"--status"}).out.count('\n'), 1); // one line
    QVERIFY(app.settingsPane().isNull());

    // The footer's last row is "Quit Idlewatch", the one above it "Settings".
    QRect open = openPopoverFromTray();
    QVERIFY2(!open.isEmpty(), qPrintable(app.log()));
    QVERIFY(click({open.center().x(), open.bottom() - 42}));
    QVERIFY(m_session->waitFor([&] { return app.settingsPane() == "general"; }, 10000));
    QCOMPARE(search({"--onlyvisible", "--name", kSettingsTitle}).size(), 1);
    QVERIFY(m_session->activate(search({"--onlyvisible", "--name", kSettingsTitle})[0].toLatin1()));
    // The sidebar has the keyboard: the arrow keys walk the panes.
    QVERIFY(xdotool({"key", "Down"}));
    QVERIFY(m_session->waitFor([&] { return app.settingsPane() == "presets"; }, 10000));
    // Closed, it is opened again from the command line: the same window, as it was left.
    QVERIFY(xdotool({"key", "alt+F4"}));
    QVERIFY(m_session->waitFor([&] { return app.settingsPane().isNull(); }, 10000));
    QCOMPARE(app.ask({"--settings"}).exitCode, 0);
    QVERIFY(m_session->waitFor([&] { return app.settingsPane() == "presets"; }, 10000));
    QCOMPARE(search({"--onlyvisible", "--name", kSettingsTitle}).size(), 1);

    open = openPopoverFromTray();
    QVERIFY(!open.isEmpty());
    QVERIFY(backgroundLightness("popover-light.png", open) > 160);
    // The screenshot upsets the popup's pointer grab under Xvfb: open it anew, after the
    // moment in which a click on the icon would count as the closing one.
    QVERIFY(xdotool({"key", "Escape"}));
    QVERIFY(m_session->waitFor([&] { return popover().isEmpty(); }, 5000));
    QTest::qWait(400);
    open = openPopoverFromTray();
    QVERIFY(click({open.center().x(), open.bottom() - 18}));
    QVERIFY(app.process.waitForFinished(10000));
    QCOMPARE(app.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.process.exitCode(), 0);
}

// A second launch shows the running instance's popover and exits 0: the way in on a desktop
// without a tray. The popover follows a dark (Plasma-style) colour scheme.
void TestE2e::darkPaletteAndSecondLaunch() {
    QFile scheme(m_session->environment().value("XDG_CONFIG_HOME") + "/kdeglobals");
    QVERIFY(scheme.open(QIODevice::WriteOnly));
    for (const char* group : {"Window", "View", "Button"})
        scheme.write(QByteArray("[Colors:") + group +
                     "]\nBackgroundNormal=32,35,38\nForegroundNormal=234,234,234\n");
    scheme.close();
    QProcessEnvironment env = environment();
    env.insert("XDG_CURRENT_DESKTOP", "KDE");
    env.insert("KDE_SESSION_VERSION", "5");
    env.insert("KDE_FULL_SESSION", "true");
    Idlewatch app(binary(), env);
    QVERIFY2(m_session->waitFor([&] { return !app.status().isEmpty(); }, 20000),
             qPrintable(app.log()));
    QVERIFY(popover().isEmpty());

    QCOMPARE(launch(binary(), env, {"--launched-at-login"}).exitCode, 0);
    QRect open;
    QVERIFY(m_session->waitFor([&] { return !(open = popover()).isEmpty(); }, 10000));
    const int lightness = backgroundLightness("popover-dark.png", open);
    QVERIFY2(lightness >= 0 && lightness < 90, qPrintable(QString::number(lightness)));
    QCOMPARE(app.process.state(), QProcess::Running);
}

void TestE2e::withoutDisplaySaysSoAndFails() {
    QTemporaryDir runtime;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    env.insert("QT_QPA_PLATFORM", "xcb");
    const Run run = launch(binary(), env, {});
    QVERIFY(run.exitCode > 0); // a clear exit, not a crash
    QVERIFY2(run.err.contains("X11 display"), run.err.constData());
}

// With a one-minute timeout, the xterm left in the background is closed the way its close
// button would, and the one in front keeps running.
void TestE2e::backgroundXtermClosedForegroundKept() {
#ifdef IDLEWATCH_SANITIZED
    QSKIP("faketime cannot be preloaded before the sanitizer runtime");
#endif
    if (QByteArray(FAKETIME_LIBRARY).isEmpty())
        QSKIP("needs faketime (libfaketime.so.1)");
    UserDefaults(configFile()).setInteger("minutesUntilClose", 1);
    pid_t background = 0, foreground = 0;
    QVERIFY(startXtermInFront(&background, "60x10+20+60"));
    QVERIFY(startXtermInFront(&foreground, "60x10+520+60"));

    QProcessEnvironment env = environment();
    env.insert("LD_PRELOAD", FAKETIME_LIBRARY);
    env.insert("FAKETIME", QStringLiteral("+0 x%1").arg(kClockSpeed));
    env.insert("FAKETIME_DONT_FAKE_MONOTONIC", "1");
    QElapsedTimer sinceStart;
    sinceStart.start();
    Idlewatch app(binary(), env);

    const std::optional<int> status = m_session->waitForExit(background, 90000);
    QVERIFY2(status, qPrintable("the background xterm is still running\n" + app.log()));
    // Idlewatch's clock starts after this timer: sooner than a minute of its time would
    // mean the timeout was not respected.
    QVERIFY(sinceStart.elapsed() >= 60 * 1000 / kClockSpeed);
    QVERIFY(WIFEXITED(*status)); // ended by itself, not by a signal

    // Both were registered together; a faulty engine would have asked the foreground one in
    // the same sweep. Past another timeout it still runs, its countdown renewed.
    QTest::qWait(2 * 60 * 1000 / kClockSpeed);
    QVERIFY(m_session->isRunning(foreground));
    const QList<QJsonObject> left = app.apps("XTerm");
    QCOMPARE(left.size(), 1);
    QVERIFY(left[0].value("secondsLeft").toDouble() > 0);
    QVERIFY2(app.process.state() == QProcess::Running, qPrintable(app.log()));
}

// An application installed while Idlewatch runs is matched to its new desktop entry: named
// by it, and so excludable by its identifier, without a restart.
void TestE2e::entryInstalledAfterStartNamesItsApplication() {
    Idlewatch app(binary(), environment());
    QVERIFY2(m_session->waitFor([&] { return !app.status().isEmpty(); }, 20000),
             qPrintable(app.log()));
    QTest::qWait(500); // the index settles after its first scan, as for a later install
    const QString folder = m_session->environment().value("XDG_DATA_HOME") + "/applications";
    QVERIFY(QDir().mkpath(folder));
    QFile entry(folder + "/org.example.Sleeper.desktop");
    QVERIFY(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Sleeper Pad\nExec=xterm\n"
                "StartupWMClass=SleeperPad\n");
    entry.close();
    QTest::qWait(1500); // the index re-reads its folders a moment after a change
    QVERIFY(m_session->spawn({"xterm", "-class", "SleeperPad"}) > 0);
    QList<QJsonObject> sleeper;
    QVERIFY2(
        m_session->waitFor([&] { return !(sleeper = app.apps("Sleeper Pad")).isEmpty(); }, 20000),
        app.ask({"--status"}).out.constData());
    QCOMPARE(sleeper[0].value("id").toString(), QStringLiteral("org.example.Sleeper"));
}

QTEST_GUILESS_MAIN(TestE2e)
#include "test_e2e.moc"
