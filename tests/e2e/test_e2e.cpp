// The installed program on a private desktop (Xvfb, openbox, tint2 or xfce4-panel as the tray
// host), driven the way a user or a script would: clicks and keys through xdotool, windows
// found by name, and the running instance read through `idlewatch --status`.

#include "preferences/UserDefaults.h"
#include "support/Contrast.h"
#include "support/Files.h"
#include "support/X11Session.h"

#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <sys/wait.h>

namespace {

// Idlewatch's clocks, the boot-time one its countdowns use included, and its timers with them,
// run this many times faster than real time: the one-minute timeout passes in three seconds.
constexpr int kClockSpeed = 20;
#ifdef IDLEWATCH_SANITIZED
const bool kCanSpeedUpClock = false; // faketime cannot be preloaded before the sanitizer
#else
const bool kCanSpeedUpClock = sizeof(FAKETIME_LIBRARY) > 1;
#endif

// Installs the build tree into `prefix` the way a user or a package would.
bool installInto(const QString& prefix, QString* log) {
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(CMAKE_COMMAND), {"--install", BUILD_DIR, "--prefix", prefix});
    const bool ok = install.waitForFinished(120000) &&
                    install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0;
    *log = QString::fromLocal8Bit(install.readAll());
    return ok;
}

struct Run {
    int exitCode = -1; // -1: did not end, or crashed
    QByteArray out;
    QByteArray err;
};

// One short launch of the installed binary, as from a terminal.
Run launch(const QString& binary, const QProcessEnvironment& env, const QStringList& args) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(binary, args);
    const bool ended = p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit;
    return {ended ? p.exitCode() : -1, p.readAllStandardOutput(), p.readAllStandardError()};
}

// The running instance, started from the installed binary; its output is kept for failures.
struct Idlewatch {
    Idlewatch(const QString& path, const QProcessEnvironment& environment)
        : binary(path)
        , env(environment) {
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(binary);
    }
    ~Idlewatch() {
        process.kill();
        process.waitForFinished(5000);
    }
    QString log() { return QString::fromUtf8(process.peek(process.bytesAvailable())); }
    bool waitUntilUp(X11Session& session) const {
        return session.waitFor([&] { return !status().isEmpty(); }, 20000);
    }
    // What `--status` reports; empty while nothing answers.
    QJsonObject status() const {
        const Run run = launch(binary, env, {QStringLiteral("--status")});
        return run.exitCode == 0 ? QJsonDocument::fromJson(run.out).object() : QJsonObject();
    }

    QString binary;
    QProcessEnvironment env;
    QProcess process;
};

// Idlewatch's popover, or with `popover` false its icon as tint2 embedded it (never as high),
// once two looks agree; empty while there is none.
QRect windowOn(X11Session& session, bool popover) {
    static const QRegularExpression re(
        QStringLiteral(R"(Position: (-?\d+),(-?\d+)[^\n]*\n\s*Geometry: (\d+)x(\d+))"));
    QRect last;
    for (int look = 0; look < 50; ++look) {
        QByteArray out;
        session.run({"xdotool", "search", "--onlyvisible", "--classname", "^idlewatch$",
                     "getwindowgeometry", "%@"},
                    &out, 10000, false);
        QRect now;
        for (auto m = re.globalMatch(QString::fromLatin1(out)); m.hasNext();) {
            const QRegularExpressionMatch g = m.next();
            const QRect r(g.captured(1).toInt(), g.captured(2).toInt(), g.captured(3).toInt(),
                          g.captured(4).toInt());
            if ((r.height() > 64) == popover)
                now = r;
        }
        if (now.isEmpty() || now == last)
            return now;
        last = now;
        QTest::qWait(150);
    }
    return {};
}
bool click(X11Session& session, const QPoint& at) {
    return session.run({"xdotool", "mousemove", QString::number(at.x()), QString::number(at.y()),
                        "click", "1"}) == 0;
}

// With "Only quit while I'm away" as given: the desktop's idle time is real time, two minutes
// of it, where Idlewatch's minute passes in three seconds.
bool writeOneMinuteTimeout(const QString& folder, bool onlyWhileAway) {
    return writeFile(folder + "/defaults.json",
                     QByteArray(R"({"format":"com.Idlewatch.defaults","version":1,)"
                                R"("values":{"minutesUntilClose":{"integer":"1"},)"
                                R"("onlyQuitWhileAway":{"boolean":)") +
                         (onlyWhileAway ? "true" : "false") + "}}}");
}

// Idlewatch's environment with its clocks sped up.
void speedUpClock(QProcessEnvironment* env) {
    env->insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(FAKETIME_LIBRARY));
    env->insert(QStringLiteral("FAKETIME"), QStringLiteral("+0 x%1").arg(kClockSpeed));
}

// With a one-minute timeout, the idle terminal is asked to close, no sooner than a minute of
// Idlewatch's time after `since`, and ends by itself rather than by a signal; the one in
// front, registered in the same sweep, still runs two timeouts later. Empty, or the fault.
template <typename Session>
QString idleClosedFrontKept(Session& session, pid_t idle, pid_t front, const QElapsedTimer& since) {
    const std::optional<int> status = session.waitForExit(idle, 90000);
    if (!status)
        return QStringLiteral("the idle terminal still runs");
    if (since.elapsed() < 60 * 1000 / kClockSpeed)
        return QStringLiteral("closed before its timeout");
    if (!WIFEXITED(*status))
        return QStringLiteral("killed, not closed");
    QTest::qWait(2 * 60 * 1000 / kClockSpeed);
    return session.isRunning(front) ? QString() : QStringLiteral("the front terminal was closed");
}

QString firstMatch(const QString& text, const QString& pattern) {
    return QRegularExpression(pattern).match(text).captured(1);
}

// The first item registered with the StatusNotifier watcher, as "service/path", or empty.
QString statusNotifierItem(X11Session& session) {
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    return firstMatch(session.busProperty(watcher, QStringLiteral("/StatusNotifierWatcher"),
                                          watcher, QStringLiteral("RegisteredStatusNotifierItems")),
                      QStringLiteral("string \"([^\"]+)\""));
}

// How the tray icon stands out from the panel in the band `rows` of the screen: the median
// contrast, against the panel's own colour (in its middle), of the pixels that differ from
// it. A glyph that only its rim sets off from the panel stays under 3.
double iconContrast(X11Session& session, int top, int rows) {
    QTest::qWait(1000); // drawn, and on tint2 drawn again for the panel's colour
    const QString file = session.path(QStringLiteral("shots")) + QStringLiteral("/root.png");
    if (session.run({QStringLiteral("import"), QStringLiteral("-window"), QStringLiteral("root"),
                     file}) != 0)
        return 0;
    const QImage shot = QImage(file).copy(0, top, 1280, rows);
    const QColor panel = shot.pixelColor(640, rows / 2);
    QList<double> icon;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (const double c = contrast(shot.pixelColor(x, y), panel); c > 1.2)
                icon.append(c);
    std::sort(icon.begin(), icon.end());
    return icon.size() < 20 ? 0 : icon.at(icon.size() / 2);
}

} // namespace

class TestE2e : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void idleXtermClosedThenSecondLaunchShowsThePopover();
    void statusNotifierHostAndEntryInstalledAfterStart();

private:
    QString binary() const { return m_prefix.filePath(QStringLiteral("bin/idlewatch")); }
    QProcessEnvironment environment(const X11Session& session) const {
        QProcessEnvironment env = session.environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // Its own desktop entry is found where it was installed.
        env.insert(QStringLiteral("XDG_DATA_DIRS"),
                   m_prefix.path() + QStringLiteral("/share:/usr/local/share:/usr/share"));
        return env;
    }

    QTemporaryDir m_prefix;
};

// Installs once; without any display the program says so and fails cleanly, not by a crash.
void TestE2e::initTestCase() {
    QString log;
    QVERIFY2(installInto(m_prefix.path(), &log), qPrintable(log));
    QTemporaryDir runtime;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const Run none = launch(binary(), env, {});
    QVERIFY2(none.exitCode > 0 && none.err.contains("X11 display"), none.err.constData());
}

// An xterm, mapped and in front.
bool startXtermInFront(X11Session& session, pid_t* pid, const QString& geometry) {
    *pid = session.spawn({QStringLiteral("xterm"), QStringLiteral("-geometry"), geometry});
    // xterm sets _NET_WM_PID, by which its windows are found, only once it is mapped.
    return *pid > 0 && session.waitFor([&] { return !session.windowsOf(*pid).isEmpty(); }, 20000) &&
           session.activate(session.windowsOf(*pid).value(0));
}

// With a one-minute timeout the xterm left in the background waits while the user may be at
// the keyboard, and is closed once the screen is locked; the one in front is kept. A second
// launch shows the running instance's popover and exits 0: the way in on a
// desktop without a tray. A click on the tray icon opens it too, and its "Quit Idlewatch" quits.
void TestE2e::idleXtermClosedThenSecondLaunchShowsThePopover() {
    X11Session session;
    // tint2, dark and telling no colours: the icon reads at 3:1 against it all the same.
    QVERIFY2(session.start({.tray = true}), qPrintable(session.errorString()));
    QProcessEnvironment env = environment(session);
    pid_t background = 0, foreground = 0;
    if (kCanSpeedUpClock) {
        QVERIFY(writeOneMinuteTimeout(session.path("config/Idlewatch"), true));
        QVERIFY(startXtermInFront(session, &background, QStringLiteral("60x10+20+60")));
        QVERIFY(startXtermInFront(session, &foreground, QStringLiteral("60x10+520+60")));
        speedUpClock(&env);
    } else {
        qWarning("the timeout is not checked: no faketime here");
    }
    QElapsedTimer sinceStart;
    sinceStart.start();
    Idlewatch app(binary(), env);
    QVERIFY2(app.waitUntilUp(session), qPrintable(app.log()));
    if (kCanSpeedUpClock) {
        const auto held = [&] {
            for (const QJsonValue& a : app.status().value("apps").toArray())
                if (a["state"] == "heldUntilAway")
                    return true;
            return false;
        };
        QVERIFY2(session.waitFor(held, 20000), qPrintable(app.log()));
        QVERIFY(session.isRunning(background) && session.startScreenSaver());
        const QString fault = idleClosedFrontKept(session, background, foreground, sinceStart);
        QVERIFY2(fault.isEmpty(), qPrintable(fault + "\n" + app.log()));
    }

    QVERIFY(windowOn(session, true).isEmpty());
    QVERIFY(iconContrast(session, 800 - 32, 32) >= 3); // tint2 across the bottom, 32 high
    QCOMPARE(launch(binary(), env, {QStringLiteral("--launched-at-login")}).exitCode, 0);
    QVERIFY(session.waitFor([&] { return !windowOn(session, true).isEmpty(); }, 10000));
    // Closed, then opened from the icon tint2 embedded. A click in the moment after closing
    // would count as the closing one, and one before the icon is embedded is lost: a few tries.
    QCOMPARE(session.run({"xdotool", "key", "Escape"}), 0);
    QVERIFY(session.waitFor([&] { return windowOn(session, true).isEmpty(); }, 5000));
    QRect popover;
    for (int attempt = 0; attempt < 3 && popover.isEmpty(); ++attempt) {
        QRect icon;
        QVERIFY(
            session.waitFor([&] { return !(icon = windowOn(session, false)).isEmpty(); }, 10000));
        QTest::qWait(400);
        QVERIFY(click(session, icon.center()));
        session.waitFor([&] { return !(popover = windowOn(session, true)).isEmpty(); }, 5000);
    }
    QVERIFY(!popover.isEmpty());
    // The footer's last row, "Quit Idlewatch", above the bottom margin for any font size.
    QVERIFY(click(session, {popover.center().x(), popover.bottom() - 18}));
    QVERIFY(app.process.waitForFinished(10000));
    QCOMPARE(app.process.exitCode(), 0);
}

// An idle time stored in hours by an older version is read in minutes from the start on. An
// application installed meanwhile is matched to its new desktop entry without a restart:
// named by it, and so excludable by its identifier. Started before the panel, as at login:
// the icon reaches the StatusNotifier host once the panel is up, under its symbolic name; its
// menu opens the settings and pauses quitting; a restarted panel, dark this time, gets the
// icon again. On both the icon reads at 3:1.
void TestE2e::statusNotifierHostAndEntryInstalledAfterStart() {
    X11Session session; // its tray host comes later
    QVERIFY2(session.start({.sessionBus = true}), qPrintable(session.errorString()));
    const QProcessEnvironment env = environment(session);
    QCOMPARE(launch(binary(), env, {QStringLiteral("--status")}).exitCode, 1);
    const QString config = session.path("config/Idlewatch/defaults.json");
    UserDefaults(config).setInteger(QStringLiteral("hoursUntilClose"), 2);
    Idlewatch app(binary(), env);
    QVERIFY2(app.waitUntilUp(session), qPrintable(app.log()));
    QCOMPARE(UserDefaults(config).integer(QStringLiteral("minutesUntilClose")), qint64(120));
    QVERIFY(writeFile(session.path("data/applications") + "/org.example.Sleeper.desktop",
                      "[Desktop Entry]\nType=Application\nName=Sleeper Pad\nExec=xterm\n"
                      "StartupWMClass=SleeperPad\n"));
    // Whenever the index sees the entry, the running xterm is named anew: no wait needed.
    QVERIFY(session.spawn({"xterm", "-class", "SleeperPad"}) > 0);
    const auto sleeperId = [&] {
        for (const QJsonValue& a : app.status().value("apps").toArray())
            if (a["name"] == "Sleeper Pad")
                return a["id"].toString();
        return QString();
    };
    QVERIFY2(session.waitFor([&] { return sleeperId() == "org.example.Sleeper"; }, 20000),
             qPrintable(QJsonDocument(app.status()).toJson()));

    const pid_t panel = session.startStatusNotifierHost(env);
    if (panel < 0)
        QSKIP(qPrintable("xfce4-panel cannot start here:\n" + session.logText()));
    QString item;
    QVERIFY2(session.waitFor([&] { return !(item = statusNotifierItem(session)).isEmpty(); }, 5000),
             qPrintable(app.log()));
    QVERIFY(iconContrast(session, 0, 30) >= 3); // xfce4-panel across the top, 30 high
    const QString service = item.section(QLatin1Char('/'), 0, 0);
    const QString path = item.mid(service.size());
    const QString sni = QStringLiteral("org.kde.StatusNotifierItem");
    QVERIFY(session.busProperty(service, path, sni, "IconName")
                .contains(QLatin1String("com.Idlewatch.Idlewatch-symbolic")));
    const QString menu = firstMatch(session.busProperty(service, path, sni, "Menu"),
                                    QStringLiteral("object path \"([^\"]+)\""));
    QMap<QString, QString> ids; // label -> item id
    const QString layout = session.busCall(service, menu, "com.canonical.dbusmenu.GetLayout",
                                           {"int32:0", "int32:-1", "array:string:"});
    for (const QString& part : layout.split(QStringLiteral("struct {")))
        if (const QString label =
                firstMatch(part, "string \"label\"\\s+variant\\s+string \"([^\"]*)\"");
            !label.isEmpty())
            ids.insert(label, firstMatch(part, "int32 (\\d+)"));
    QCOMPARE(ids.keys(), QStringList({"Open Idlewatch", "Pause automatic quitting",
                                      "Quit Idlewatch", "Settings…"}));
    const auto choose = [&](const QString& label) {
        session.busCall(
            service, menu, "com.canonical.dbusmenu.Event",
            {"int32:" + ids.value(label), "string:clicked", "variant:int32:0", "uint32:0"});
    };
    choose(QStringLiteral("Settings…"));
    QVERIFY(
        session.waitFor([&] { return app.status().value("settingsPane") == "general"; }, 10000));
    choose(QStringLiteral("Pause automatic quitting"));
    QVERIFY(session.waitFor([&] { return app.status().value("quittingEnabled") == false; }, 10000));

    QCOMPARE(::kill(panel, SIGTERM), 0);
    QVERIFY(session.waitForExit(panel, 10000));
    QVERIFY(session.waitFor([&] { return statusNotifierItem(session).isEmpty(); }, 10000));
    QVERIFY(session.startStatusNotifierHost(env, true) > 0); // dark this time
    QVERIFY2(session.waitFor([&] { return !statusNotifierItem(session).isEmpty(); }, 5000),
             qPrintable(app.log()));
    QVERIFY(iconContrast(session, 0, 30) >= 3);
}

QTEST_GUILESS_MAIN(TestE2e)
#include "test_e2e.moc"
