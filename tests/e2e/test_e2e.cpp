// The installed program on a private desktop (Xvfb, openbox, tint2 as the tray host), driven
// the way a user or a script would: clicks and keys through xdotool, windows found by name,
// and the running instance read through `idlewatch --status`; once more on a headless sway.

#include "preferences/UserDefaults.h"
#include "support/WaylandSession.h"
#include "support/X11Session.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <sys/wait.h>

namespace {

// Idlewatch's wall clock runs this many times faster than real time: the one-minute timeout
// passes in three seconds, while its timers keep real time.
constexpr int kClockSpeed = 20;

const QString kSettingsTitle = QStringLiteral("^Idlewatch Settings$");

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

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// One short launch of the installed binary, as from a terminal.
Run launch(const QString& binary, const QProcessEnvironment& env, const QStringList& args) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(binary, args);
    Run run;
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(1000);
        return run;
    }
    run.out = p.readAllStandardOutput();
    run.err = p.readAllStandardError();
    if (p.exitStatus() == QProcess::NormalExit)
        run.exitCode = p.exitCode();
    return run;
}

// The running instance, started from the installed binary; its log is collected.
class Idlewatch {
public:
    Idlewatch(const QString& binary, const QProcessEnvironment& env, const QStringList& args = {})
        : m_binary(binary)
        , m_env(env) {
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&m_process, &QProcess::readyRead,
                         [this] { m_log += QString::fromUtf8(m_process.readAll()); });
        m_process.start(binary, args);
    }
    ~Idlewatch() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QProcess& process() { return m_process; }
    bool running() const { return m_process.state() == QProcess::Running; }
    QString log() const { return m_log; }

    // Another launch on the same display, e.g. --status or --settings.
    Run ask(const QStringList& args) const { return launch(m_binary, m_env, args); }
    // What `--status` reports; empty while nothing answers.
    QJsonObject status() const {
        const Run run = ask({QStringLiteral("--status")});
        return run.exitCode == 0 ? QJsonDocument::fromJson(run.out).object() : QJsonObject();
    }
    QJsonValue settingsPane() const { return status().value(QStringLiteral("settingsPane")); }
    // The applications `--status` lists under `name`.
    QList<QJsonObject> apps(const QString& name) const {
        QList<QJsonObject> found;
        for (const QJsonValue& app : status().value(QStringLiteral("apps")).toArray())
            if (app.toObject().value(QStringLiteral("name")).toString() == name)
                found.append(app.toObject());
        return found;
    }

private:
    QString m_binary;
    QProcessEnvironment m_env;
    QProcess m_process;
    QString m_log;
};

// The desktop as a user sees it, through xdotool, xwininfo and import.
class Screen {
public:
    explicit Screen(X11Session& session)
        : m_session(session) {}

    // Windows matching an `xdotool search` query, as decimal ids.
    QStringList search(const QStringList& query) {
        QByteArray out;
        m_session.run(QStringList{QStringLiteral("xdotool"), QStringLiteral("search")} + query,
                      &out, 10000, false);
        return QString::fromLatin1(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QStringList visibleNamed(const QString& pattern) {
        return search({QStringLiteral("--onlyvisible"), QStringLiteral("--name"), pattern});
    }

    // A window's inside in root coordinates (its frame excluded).
    QRect geometry(const QString& window) {
        QByteArray out;
        if (m_session.run({QStringLiteral("xwininfo"), QStringLiteral("-id"), window}, &out, 10000,
                          false) != 0)
            return {};
        const auto field = [&](const char* name) {
            const QRegularExpression re(QStringLiteral("%1:\\s*(-?\\d+)").arg(name));
            return re.match(QString::fromLatin1(out)).captured(1).toInt();
        };
        return {field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
                field("Height")};
    }

    // The icon's window as the tray host embedded it, found in tint2's window tree: its id
    // and place on the screen.
    std::pair<QString, QRect> trayIcon() {
        static const QRegularExpression line(
            QStringLiteral(R"(^\s*(0x[0-9a-f]+) .*\("idlewatch" .*\s(\d+)x(\d+)[+-]\d+[+-]\d+)"
                           R"(\s+\+(-?\d+)\+(-?\d+)\s*$)"),
            QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
        for (const QString& host : search({QStringLiteral("--class"), QStringLiteral("tint2")})) {
            QByteArray tree;
            m_session.run(
                {QStringLiteral("xwininfo"), QStringLiteral("-tree"), QStringLiteral("-id"), host},
                &tree, 10000, false);
            const QRegularExpressionMatch m = line.match(QString::fromLatin1(tree));
            if (m.hasMatch())
                return {QString::number(m.captured(1).toULongLong(nullptr, 16)),
                        QRect(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(2).toInt(),
                              m.captured(3).toInt())};
        }
        return {};
    }

    // The popover's place while it is open; it is settled once two looks agree.
    QRect popover() {
        const QString icon = trayIcon().first;
        QRect last;
        for (int look = 0; look < 50; ++look) {
            QRect now;
            for (const QString& w : visibleNamed(QStringLiteral("^Idlewatch$")))
                if (w != icon)
                    now = geometry(w);
            if (now.isEmpty())
                return {};
            if (now == last)
                return now;
            last = now;
            QTest::qWait(150);
        }
        return {};
    }

    bool click(const QPoint& at) {
        return m_session.run({QStringLiteral("xdotool"), QStringLiteral("mousemove"),
                              QString::number(at.x()), QString::number(at.y()),
                              QStringLiteral("click"), QStringLiteral("1")}) == 0;
    }
    bool key(const QString& keys) {
        return m_session.run({QStringLiteral("xdotool"), QStringLiteral("key"), keys}) == 0;
    }

    // Clicks the tray icon until the popover is open; its place.
    QRect openPopoverFromTray() {
        QRect popover;
        // The tray embeds the icon asynchronously; a click before it is shown is lost.
        for (int attempt = 0; attempt < 3 && popover.isEmpty(); ++attempt) {
            const QRect icon = trayIcon().second;
            if (!icon.isEmpty())
                click(icon.center());
            m_session.waitFor([&] { return !(popover = this->popover()).isEmpty(); }, 5000);
        }
        return popover;
    }
    // Escape, then the moment in which a click on the icon would count as the closing one.
    bool closePopover() {
        key(QStringLiteral("Escape"));
        const bool closed = m_session.waitFor([&] { return popover().isEmpty(); }, 5000);
        QTest::qWait(400);
        return closed;
    }

    // The whole screen, also kept as an artifact.
    QImage screenshot(const QString& name) {
        QDir().mkpath(QStringLiteral(IDLEWATCH_ARTIFACTS));
        const QString file = QStringLiteral(IDLEWATCH_ARTIFACTS "/") + name;
        if (m_session.run({QStringLiteral("import"), QStringLiteral("-window"),
                           QStringLiteral("root"), file}) != 0)
            return {};
        return QImage(file);
    }

private:
    X11Session& m_session;
};

bool writeOneMinuteTimeout(const QString& folder) {
    QFile settings(folder + "/defaults.json");
    return QDir().mkpath(folder) && settings.open(QIODevice::WriteOnly) &&
           settings.write(R"({"format":"com.Idlewatch.defaults","version":1,)"
                          R"("values":{"minutesUntilClose":{"integer":"1"}}})") > 0;
}

// Idlewatch's environment with its wall clock sped up.
void speedUpClock(QProcessEnvironment* env) {
    env->insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(FAKETIME_LIBRARY));
    env->insert(QStringLiteral("FAKETIME"), QStringLiteral("+0 x%1").arg(kClockSpeed));
    env->insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
}

// A call on the session bus through dbus-send: its printed reply, empty on failure.
QString dbusCall(X11Session& session, const QString& service, const QString& path,
                 const QString& method, const QStringList& args = {}) {
    QByteArray out;
    session.run(QStringList{QStringLiteral("dbus-send"), QStringLiteral("--session"),
                            QStringLiteral("--print-reply"), QStringLiteral("--dest=") + service,
                            path, method} +
                    args,
                &out, 10000, false);
    return QString::fromUtf8(out);
}
QString dbusProperty(X11Session& session, const QString& service, const QString& path,
                     const QString& interface, const QString& name) {
    return dbusCall(session, service, path, QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                    {QStringLiteral("string:") + interface, QStringLiteral("string:") + name});
}
QString firstMatch(const QString& text, const QString& pattern) {
    return QRegularExpression(pattern).match(text).captured(1);
}

// The first item registered with the StatusNotifier watcher, as "service/path", or empty.
QString statusNotifierItem(X11Session& session) {
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    return firstMatch(dbusProperty(session, watcher, QStringLiteral("/StatusNotifierWatcher"),
                                   watcher, QStringLiteral("RegisteredStatusNotifierItems")),
                      QStringLiteral("string \"([^\"]+)\""));
}

// The footer's last row is "Quit Idlewatch", the one above it "Settings": points inside
// them, above the popover's bottom margin, for any font between 10 and 20 pixels high.
QPoint quitItem(const QRect& popover) {
    return {popover.center().x(), popover.bottom() - 18};
}
QPoint settingsItem(const QRect& popover) {
    return {popover.center().x(), popover.bottom() - 42};
}

// The popover's own background, just inside its border.
int backgroundLightness(const QImage& screen, const QRect& popover) {
    return screen.pixelColor(popover.topLeft() + QPoint(3, 3)).lightness();
}

// A Plasma-style dark colour scheme, read by Qt's KDE platform theme.
void writeDarkColourScheme(X11Session& session) {
    QFile f(session.environment().value(QStringLiteral("XDG_CONFIG_HOME")) +
            QStringLiteral("/kdeglobals"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[Colors:Window]\nBackgroundNormal=32,35,38\nForegroundNormal=234,234,234\n"
            "[Colors:View]\nBackgroundNormal=20,22,24\nForegroundNormal=234,234,234\n"
            "[Colors:Button]\nBackgroundNormal=41,44,48\nForegroundNormal=234,234,234\n"
            "[Colors:Selection]\nBackgroundNormal=61,174,233\nForegroundNormal=255,255,255\n");
}

} // namespace

class TestE2e : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void statusPopoverSettingsAndQuit();
    void darkPaletteAndSecondLaunch();
    void withoutDisplaySaysSoAndFails();
    void backgroundXtermClosedForegroundKept();
    void entryInstalledAfterStartNamesItsApplication();
    void idleFootClosedFocusedKeptOnSway();
    void statusNotifierHostStartedLater();

private:
    QString binary() const { return m_prefix.filePath(QStringLiteral("bin/idlewatch")); }
    // The session's environment for Idlewatch.
    QProcessEnvironment environment() const;
    // An xterm, mapped and in front.
    bool startXtermInFront(pid_t* pid = nullptr, const QString& geometry = "60x10+520+60");

    QTemporaryDir m_prefix;
    std::unique_ptr<X11Session> m_session;
    std::unique_ptr<Screen> m_screen;
};

void TestE2e::initTestCase() {
    QVERIFY(m_prefix.isValid());
    QString log;
    QVERIFY2(installInto(m_prefix.path(), &log), qPrintable(log));
    QVERIFY(QFileInfo(binary()).isExecutable());
}

void TestE2e::init() {
    if (QTest::currentTestFunction() == QLatin1String("withoutDisplaySaysSoAndFails") ||
        QTest::currentTestFunction() == QLatin1String("idleFootClosedFocusedKeptOnSway"))
        return;
    m_session = std::make_unique<X11Session>();
    // The StatusNotifier case brings its own tray host, later.
    const bool sni =
        QTest::currentTestFunction() == QLatin1String("statusNotifierHostStartedLater");
    QVERIFY2(m_session->start({.windowManager = true, .tray = !sni, .sessionBus = sni}),
             qPrintable(m_session->errorString()));
    m_screen = std::make_unique<Screen>(*m_session);
}

void TestE2e::cleanup() {
    m_screen.reset();
    m_session.reset();
}

QProcessEnvironment TestE2e::environment() const {
    QProcessEnvironment env = m_session->environment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // Its own desktop entry is found where it was installed.
    env.insert(QStringLiteral("XDG_DATA_DIRS"), m_prefix.filePath(QStringLiteral("share")) +
                                                    QStringLiteral(":/usr/local/share:/usr/share"));
    return env;
}

bool TestE2e::startXtermInFront(pid_t* pid, const QString& geometry) {
    const pid_t xterm =
        m_session->spawn({QStringLiteral("xterm"), QStringLiteral("-geometry"), geometry});
    if (pid)
        *pid = xterm;
    // xterm sets _NET_WM_PID, by which its windows are found, only once it is mapped.
    return xterm > 0 &&
           m_session->waitFor([&] { return !m_session->windowsOf(xterm).isEmpty(); }, 20000) &&
           m_session->activate(m_session->windowsOf(xterm).value(0));
}

// A user's session from the tray: the status line, the popover, the one settings window
// (also from the command line and the keyboard) and "Quit Idlewatch".
void TestE2e::statusPopoverSettingsAndQuit() {
    const Run none = launch(binary(), environment(), {QStringLiteral("--status")});
    QCOMPARE(none.exitCode, 1);
    QVERIFY2(none.out.isEmpty() && none.err.contains("not running"), none.err.constData());

    pid_t xterm = 0;
    // An idle time stored in hours by an older version is read in minutes from the start on.
    const QString config = m_session->environment().value(QStringLiteral("XDG_CONFIG_HOME")) +
                           "/Idlewatch/defaults.json";
    UserDefaults(config).setInteger(QStringLiteral("hoursUntilClose"), 2);
    QVERIFY(startXtermInFront(&xterm));
    Idlewatch app(binary(), environment());
    QList<QJsonObject> xterms;
    QVERIFY2(m_session->waitFor([&] { return !(xterms = app.apps("XTerm")).isEmpty(); }, 20000),
             qPrintable(app.log()));
    QCOMPARE(xterms.size(), 1);
    QCOMPARE(UserDefaults(config).integer(QStringLiteral("minutesUntilClose")), qint64(120));
    QVERIFY(xterms[0].value(QStringLiteral("enabled")).toBool());
    QVERIFY(xterms[0].value(QStringLiteral("secondsLeft")).toDouble() > 0);
    const Run status = app.ask({QStringLiteral("--status")});
    QCOMPARE(status.out.count('\n'), 1); // one line
    QVERIFY(QJsonDocument::fromJson(status.out).object().value("exclusions").isArray());
    QVERIFY(app.settingsPane().isNull());

    QRect popover = m_screen->openPopoverFromTray();
    QVERIFY2(!popover.isEmpty(), qPrintable(app.log()));
    QVERIFY(m_screen->click(settingsItem(popover)));
    QVERIFY(m_session->waitFor([&] { return app.settingsPane() == "general"; }, 10000));
    QCOMPARE(m_screen->visibleNamed(kSettingsTitle).size(), 1);
    QVERIFY(m_session->activate(m_screen->visibleNamed(kSettingsTitle).value(0).toLatin1()));
    // The sidebar has the keyboard: the arrow keys walk the panes.
    QVERIFY(m_screen->key(QStringLiteral("Down")));
    QVERIFY(m_session->waitFor([&] { return app.settingsPane() == "presets"; }, 10000));
    QVERIFY(!m_screen->screenshot(QStringLiteral("settings-window.png")).isNull());

    // Closed, it is opened again from the command line: the same window, as it was left.
    QVERIFY(m_screen->key(QStringLiteral("alt+F4")));
    QVERIFY(m_session->waitFor([&] { return app.settingsPane().isNull(); }, 10000));
    // Asked for while the user is in another application, closed or left open behind it,
    // the window comes in front past the window manager's focus-stealing guard.
    const auto settingsInFront = [&] {
        QByteArray name;
        return m_session->run({"xdotool", "getactivewindow", "getwindowname"}, &name, 5000,
                              false) == 0 &&
               name.trimmed() == "Idlewatch Settings";
    };
    for (int round = 0; round < 2; ++round) {
        QVERIFY(m_session->activate(m_session->windowsOf(xterm).value(0)));
        QTest::qWait(700); // the user's last input is older than xterm's focus
        QCOMPARE(app.ask({QStringLiteral("--settings")}).exitCode, 0);
        QVERIFY(m_session->waitFor([&] { return app.settingsPane() == "presets"; }, 10000));
        QVERIFY(m_session->waitFor(settingsInFront, 10000));
    }
    QCOMPARE(m_screen->visibleNamed(kSettingsTitle).size(), 1);

    popover = m_screen->openPopoverFromTray();
    QVERIFY(!popover.isEmpty());
    const QImage screen = m_screen->screenshot(QStringLiteral("popover-light.png"));
    QVERIFY(!screen.isNull());
    QVERIFY2(backgroundLightness(screen, popover) > 160,
             qPrintable(QString::number(backgroundLightness(screen, popover))));
    // Taking the screenshot upsets the open popup's pointer grab under Xvfb; open it anew.
    QVERIFY(m_screen->closePopover());
    popover = m_screen->openPopoverFromTray();
    QVERIFY(!popover.isEmpty());
    QVERIFY(m_screen->click(quitItem(popover)));
    QVERIFY(app.process().waitForFinished(10000));
    QCOMPARE(app.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.process().exitCode(), 0);
}

// A second launch shows the running instance's popover and exits 0: the way in on a desktop
// without a tray. The popover follows a dark colour scheme.
void TestE2e::darkPaletteAndSecondLaunch() {
    writeDarkColourScheme(*m_session);
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("KDE"));
    env.insert(QStringLiteral("KDE_SESSION_VERSION"), QStringLiteral("5"));
    env.insert(QStringLiteral("KDE_FULL_SESSION"), QStringLiteral("true"));
    Idlewatch app(binary(), env);
    QVERIFY2(m_session->waitFor([&] { return !app.status().isEmpty(); }, 20000),
             qPrintable(app.log()));
    QVERIFY(m_screen->popover().isEmpty());

    const Run second = launch(binary(), env, {QStringLiteral("--launched-at-login")});
    QCOMPARE(second.exitCode, 0);
    QRect popover;
    QVERIFY(m_session->waitFor([&] { return !(popover = m_screen->popover()).isEmpty(); }, 10000));
    const QImage screen = m_screen->screenshot(QStringLiteral("popover-dark.png"));
    QVERIFY(!screen.isNull());
    QVERIFY2(backgroundLightness(screen, popover) < 90,
             qPrintable(QString::number(backgroundLightness(screen, popover))));
    QVERIFY(app.running());
}

void TestE2e::withoutDisplaySaysSoAndFails() {
    QTemporaryDir runtime;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    QProcess app;
    app.setProcessEnvironment(env);
    app.start(binary(), {});
    QVERIFY(app.waitForFinished(10000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit); // a clear exit, not a crash
    QVERIFY(app.exitCode() != 0);
    const QString err = QString::fromUtf8(app.readAllStandardError());
    QVERIFY2(err.contains(QLatin1String("X11 display")), qPrintable(err));
}

// With a one-minute timeout, the xterm left in the background is closed and the one in front
// keeps running.
void TestE2e::backgroundXtermClosedForegroundKept() {
#ifdef IDLEWATCH_SANITIZED
    QSKIP("faketime cannot be preloaded before the sanitizer runtime");
#endif
    if (QByteArray(FAKETIME_LIBRARY).isEmpty())
        QSKIP("needs faketime (libfaketime.so.1)");
    QVERIFY(writeOneMinuteTimeout(
        m_session->environment().value(QStringLiteral("XDG_CONFIG_HOME")) + "/Idlewatch"));

    pid_t background = 0;
    pid_t foreground = 0;
    QVERIFY(startXtermInFront(&background, QStringLiteral("60x10+20+60")));
    QVERIFY(startXtermInFront(&foreground, QStringLiteral("60x10+520+60")));

    QProcessEnvironment env = environment();
    speedUpClock(&env);
    QElapsedTimer sinceStart;
    sinceStart.start();
    Idlewatch app(binary(), env);

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
    // the same sweep. Once more than a timeout of Idlewatch's time has passed, the one in
    // front still runs, and its countdown shows it was renewed since.
    QTest::qWait(2 * 60 * 1000 / kClockSpeed);
    QVERIFY(m_session->isRunning(foreground));
    const QList<QJsonObject> left = app.apps(QStringLiteral("XTerm"));
    QCOMPARE(left.size(), 1);
    QVERIFY2(left[0].value(QStringLiteral("secondsLeft")).toDouble() > 0,
             qPrintable(QJsonDocument(left[0]).toJson()));
    QVERIFY2(app.running(), qPrintable(app.log()));
}

// An application installed while Idlewatch runs is matched to its new desktop entry: named
// by it, and so excludable by its identifier, without a restart.
void TestE2e::entryInstalledAfterStartNamesItsApplication() {
    Idlewatch app(binary(), environment());
    QVERIFY2(m_session->waitFor([&] { return !app.status().isEmpty(); }, 20000),
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
    QVERIFY(m_session->spawn({QStringLiteral("xterm"), QStringLiteral("-class"),
                              QStringLiteral("SleeperPad")}) > 0);

    QList<QJsonObject> sleeper;
    QVERIFY2(
        m_session->waitFor([&] { return !(sleeper = app.apps("Sleeper Pad")).isEmpty(); }, 20000),
        qPrintable(app.ask({QStringLiteral("--status")}).out));
    QCOMPARE(sleeper[0].value(QStringLiteral("id")).toString(),
             QStringLiteral("org.example.Sleeper"));
}

// Native Wayland windows on a headless sway, the program run as the session's user: `--status`
// lists a foot, and with a one-minute timeout the idle foot is closed, the focused one kept.
void TestE2e::idleFootClosedFocusedKeptOnSway() {
#ifdef IDLEWATCH_SANITIZED
    QSKIP("faketime cannot be preloaded before the sanitizer runtime");
#endif
#ifndef IDLEWATCH_HAVE_WAYLAND
    QSKIP("built without the Wayland backend");
#endif
    if (QByteArray(FAKETIME_LIBRARY).isEmpty())
        QSKIP("needs faketime (libfaketime.so.1)");
    WaylandSession sway;
    bool unavailable = false;
    if (!sway.start(&unavailable)) {
        if (unavailable)
            QSKIP(qPrintable(sway.errorString()));
        QFAIL(qPrintable(sway.errorString()));
    }
    // The session's user cannot read our prefix: an install of its own.
    const QString prefix = sway.path(QStringLiteral("prefix"));
    QString log;
    QVERIFY2(installInto(prefix, &log), qPrintable(log));
    QVERIFY(writeOneMinuteTimeout(sway.path(QStringLiteral("config/Idlewatch"))));
    const QString binary = prefix + QStringLiteral("/bin/idlewatch");
    const auto foot = [&](const char* appId) {
        const pid_t pid = sway.spawn(
            {QStringLiteral("foot"), QStringLiteral("--app-id"), QString::fromLatin1(appId)});
        return sway.waitFor([&] { return !sway.windowIds(QString::fromLatin1(appId)).isEmpty(); },
                            20000)
                   ? pid
                   : -1;
    };
    const pid_t idle = foot("idle-foot");
    const pid_t front = foot("front-foot");
    QVERIFY(idle > 0 && front > 0);
    QCOMPARE(sway.swaymsg({QStringLiteral("[app_id=front-foot] focus")}), 0);

    QProcessEnvironment env;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    env.insert(QStringLiteral("XDG_DATA_DIRS"),
               prefix + QStringLiteral("/share:/usr/local/share:/usr/share"));
    speedUpClock(&env);
    QElapsedTimer sinceStart;
    sinceStart.start();
    const pid_t app = sway.spawn({binary}, env);
    // `--status` as the same user, who owns the instance's socket.
    const QString out = sway.path(QStringLiteral("home")) + QStringLiteral("/status.json");
    const auto listed = [&] {
        const pid_t ask = sway.spawn({QStringLiteral("sh"), QStringLiteral("-c"),
                                      QStringLiteral("exec \"$0\" --status >\"$1\""), binary, out});
        QFile file(out);
        if (!sway.waitForExit(ask, 10000) || !file.open(QIODevice::ReadOnly))
            return false;
        const QJsonArray apps = QJsonDocument::fromJson(file.readAll())["apps"].toArray();
        return std::any_of(apps.begin(), apps.end(), [](const QJsonValue& a) {
            return a[QStringLiteral("id")] == QStringLiteral("idle-foot");
        });
    };
    QVERIFY2(sway.waitFor(listed, 20000), qPrintable(sway.logText()));

    const std::optional<int> status = sway.waitForExit(idle, 90000);
    QVERIFY2(status, qPrintable(QStringLiteral("the idle foot still runs\n") + sway.logText()));
    QVERIFY2(sinceStart.elapsed() >= 60 * 1000 / kClockSpeed,
             qPrintable(QString::number(sinceStart.elapsed())));
    QVERIFY(WIFEXITED(*status)); // asked to close, not killed
    QTest::qWait(2 * 60 * 1000 / kClockSpeed);
    QVERIFY(sway.isRunning(front));
    QVERIFY2(sway.isRunning(app), qPrintable(sway.logText()));
}

// Started before the panel, as at login: the icon reaches the StatusNotifier host as soon as
// the panel is up, under its symbolic name; its menu opens the settings and pauses quitting;
// a restarted panel gets the icon again.
void TestE2e::statusNotifierHostStartedLater() {
    Idlewatch app(binary(), environment());
    QVERIFY2(m_session->waitFor([&] { return !app.status().isEmpty(); }, 20000),
             qPrintable(app.log()));
    pid_t panel = m_session->startStatusNotifierHost(environment());
    if (panel < 0)
        QSKIP(
            qPrintable(QStringLiteral("xfce4-panel cannot start here:\n") + m_session->logText()));
    QString item;
    QElapsedTimer shown;
    shown.start();
    QVERIFY2(m_session->waitFor([&] { return !(item = statusNotifierItem(*m_session)).isEmpty(); },
                                5000),
             qPrintable(app.log()));
    qInfo("icon registered %lld ms after the panel's host", shown.elapsed());
    const QString service = item.section(QLatin1Char('/'), 0, 0);
    const QString path = item.mid(service.size());
    const QString sni = QStringLiteral("org.kde.StatusNotifierItem");
    QVERIFY(dbusProperty(*m_session, service, path, sni, QStringLiteral("IconName"))
                .contains(QLatin1String("com.Idlewatch.Idlewatch-symbolic")));

    const QString menu = firstMatch(dbusProperty(*m_session, service, path, sni, "Menu"),
                                    QStringLiteral("object path \"([^\"]+)\""));
    QVERIFY(!menu.isEmpty() && menu != QLatin1String("/NO_DBUSMENU"));
    QMap<QString, QString> ids; // label -> item id
    const QString layout = dbusCall(*m_session, service, menu, "com.canonical.dbusmenu.GetLayout",
                                    {"int32:0", "int32:-1", "array:string:"});
    for (const QString& entry : layout.split(QStringLiteral("struct {")))
        if (const QString label =
                firstMatch(entry, "string \"label\"\\s+variant\\s+string \"([^\"]*)\"");
            !label.isEmpty())
            ids.insert(label, firstMatch(entry, "int32 (\\d+)"));
    QCOMPARE(ids.keys(), QStringList({"Open Idlewatch", "Pause automatic quitting",
                                      "Quit Idlewatch", "Settings…"}));
    const auto click = [&](const QString& label) {
        dbusCall(*m_session, service, menu, "com.canonical.dbusmenu.Event",
                 {"int32:" + ids.value(label), "string:clicked", "variant:int32:0", "uint32:0"});
    };
    click(QStringLiteral("Settings…"));
    QVERIFY(m_session->waitFor([&] { return app.settingsPane() == "general"; }, 10000));
    click(QStringLiteral("Pause automatic quitting"));
    QVERIFY(
        m_session->waitFor([&] { return app.status().value("quittingEnabled") == false; }, 10000));

    QCOMPARE(::kill(panel, SIGTERM), 0);
    QVERIFY(m_session->waitForExit(panel, 10000));
    QVERIFY(m_session->waitFor([&] { return statusNotifierItem(*m_session).isEmpty(); }, 10000));
    QVERIFY(m_session->startStatusNotifierHost(environment()) > 0);
    QVERIFY2(m_session->waitFor([&] { return !statusNotifierItem(*m_session).isEmpty(); }, 5000),
             qPrintable(app.log()));
}

QTEST_GUILESS_MAIN(TestE2e)
#include "test_e2e.moc"
