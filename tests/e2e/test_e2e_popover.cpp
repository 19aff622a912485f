#include "support/X11Session.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <functional>

namespace {

// Idlewatch started with its debug dump on: it prints where the tray embedded its icon and,
// while the popover is open, the popover's rows and footer items after every render.
class Idlewatch {
public:
    Idlewatch(X11Session& session, const QProcessEnvironment& extra = {}) {
        QProcessEnvironment env = session.environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("IDLEWATCH_TEST_DUMP"), QStringLiteral("1"));
        env.insert(extra);
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
            while (m_process.canReadLine())
                m_lines << QString::fromUtf8(m_process.readLine()).trimmed();
        });
        m_process.start(QStringLiteral(IDLEWATCH_BINARY), {});
    }
    ~Idlewatch() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QProcess& process() { return m_process; }
    QString errors() { return QString::fromUtf8(m_process.readAllStandardError()); }

    // Waits until a line after `from` satisfies `match`; its index, or -1.
    int waitFor(const std::function<bool(const QString&)>& match, int from = 0,
                int timeoutMs = 10000) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            for (int i = from; i < m_lines.size(); ++i)
                if (match(m_lines.at(i)))
                    return i;
            m_process.waitForReadyRead(100);
            QCoreApplication::processEvents();
        }
        return -1;
    }

    // The last four numbers of a dump line as a rectangle.
    static QRect rectOf(const QString& line) {
        const QStringList f = line.split(QLatin1Char(' '));
        if (f.size() < 4)
            return {};
        const int n = f.size();
        return {f[n - 4].toInt(), f[n - 3].toInt(), f[n - 2].toInt(), f[n - 1].toInt()};
    }

    QRect trayIcon() {
        const int i = waitFor([](const QString& l) {
            return l.startsWith(QLatin1String("IDLEWATCH_DUMP tray ")) && !rectOf(l).isEmpty();
        });
        return i < 0 ? QRect() : rectOf(m_lines.at(i));
    }

    // Rows of the first complete popover dump after `from` that satisfies `accept`.
    QStringList popoverRows(int from, const std::function<bool(const QStringList&)>& accept,
                            int* endLine = nullptr) {
        QStringList rows;
        int start = from;
        while (true) {
            const int end = waitFor(
                [](const QString& l) { return l == QLatin1String("IDLEWATCH_DUMP end"); }, start);
            if (end < 0)
                return {};
            rows.clear();
            for (int i = end - 1;
                 i >= 0 && !m_lines.at(i).startsWith(QLatin1String("IDLEWATCH_DUMP popover")); --i)
                if (m_lines.at(i).startsWith(QLatin1String("IDLEWATCH_DUMP row ")))
                    rows.prepend(m_lines.at(i).mid(19));
            if (accept(rows)) {
                if (endLine)
                    *endLine = end;
                return rows;
            }
            start = end + 1;
        }
    }

    QRect item(const QString& name, int before) const {
        for (int i = qMin(before, int(m_lines.size()) - 1); i >= 0; --i)
            if (m_lines.at(i).startsWith(QLatin1String("IDLEWATCH_DUMP item ") + name + ' '))
                return rectOf(m_lines.at(i));
        return {};
    }

    int lineCount() const { return int(m_lines.size()); }

private:
    QProcess m_process;
    QStringList m_lines;
};

bool click(X11Session& session, const QPoint& at) {
    return session.run({QStringLiteral("xdotool"), QStringLiteral("mousemove"),
                        QString::number(at.x()), QString::number(at.y()), QStringLiteral("click"),
                        QStringLiteral("1")}) == 0;
}

QStringList windowsNamed(X11Session& session, const QString& name) {
    QByteArray out;
    session.run({QStringLiteral("xdotool"), QStringLiteral("search"), QStringLiteral("--name"),
                 QStringLiteral("^") + name + QStringLiteral("$")},
                &out);
    return QString::fromLatin1(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool screenshot(X11Session& session, const QString& name) {
    QDir().mkpath(QStringLiteral(IDLEWATCH_ARTIFACTS));
    return session.run({QStringLiteral("import"), QStringLiteral("-window"), QStringLiteral("root"),
                        QStringLiteral(IDLEWATCH_ARTIFACTS "/") + name}) == 0;
}

bool rowsHave(const QStringList& rows, const QRegularExpression& re) {
    return std::any_of(rows.cbegin(), rows.cend(),
                       [&](const QString& r) { return re.match(r).hasMatch(); });
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

const QRegularExpression kXtermCounting(QStringLiteral("^XTerm\\t8h left$"),
                                        QRegularExpression::CaseInsensitiveOption);

} // namespace

class TestE2ePopover : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void trayPopoverSettingsAndQuit();
    void darkPaletteAndSecondLaunch();
    void statusAndSettingsFromTheCommandLine();
    void withoutDisplaySaysSoAndFails();

private:
    std::unique_ptr<X11Session> m_session;
    QString m_xterm;
};

void TestE2ePopover::init() {
    if (QTest::currentTestFunction() == QLatin1String("withoutDisplaySaysSoAndFails"))
        return;
    m_session = std::make_unique<X11Session>();
    QVERIFY2(m_session->start({.windowManager = true, .tray = true}),
             qPrintable(m_session->errorString()));
    QVERIFY(m_session->spawn({QStringLiteral("xterm"), QStringLiteral("-geometry"),
                              QStringLiteral("80x20+300+80")}) > 0);
    QByteArray out;
    QCOMPARE(m_session->run({QStringLiteral("xdotool"), QStringLiteral("search"),
                             QStringLiteral("--sync"), QStringLiteral("--class"),
                             QStringLiteral("xterm")},
                            &out),
             0);
    m_xterm = QString::fromLatin1(out).split(QLatin1Char('\n')).first();
    // In front, so every sweep restamps it and its countdown reads the full timeout.
    QCOMPARE(m_session->run({QStringLiteral("xdotool"), QStringLiteral("windowactivate"),
                             QStringLiteral("--sync"), m_xterm}),
             0);
}

void TestE2ePopover::cleanup() {
    m_session.reset();
}

void TestE2ePopover::trayPopoverSettingsAndQuit() {
    Idlewatch app(*m_session);
    const QRect icon = app.trayIcon();
    QVERIFY2(!icon.isEmpty(), qPrintable("icon never embedded: " + app.errors()));

    int end = 0;
    int mark = app.lineCount();
    QVERIFY(click(*m_session, icon.center()));
    QStringList rows = app.popoverRows(
        mark, [](const QStringList& r) { return rowsHave(r, kXtermCounting); }, &end);
    QVERIFY2(rowsHave(rows, kXtermCounting), qPrintable(rows.join(QLatin1Char('|'))));
    QVERIFY(screenshot(*m_session, QStringLiteral("popover-light.png")));
    // Taking the screenshot upsets the open popup's pointer grab under Xvfb; open it anew.
    QCOMPARE(m_session->run(
                 {QStringLiteral("xdotool"), QStringLiteral("key"), QStringLiteral("Escape")}),
             0);
    QTest::qWait(400);
    mark = app.lineCount();
    QVERIFY(click(*m_session, icon.center()));
    app.popoverRows(
        mark, [](const QStringList&) { return true; }, &end);

    // "Settings" twice: one window, titled "Idlewatch Settings".
    for (int attempt = 0; attempt < 2; ++attempt) {
        const QRect settings = app.item(QStringLiteral("Settings"), end);
        QVERIFY(!settings.isEmpty());
        QVERIFY(click(*m_session, settings.center()));
        QElapsedTimer wait;
        wait.start();
        while (windowsNamed(*m_session, QStringLiteral("Idlewatch Settings")).isEmpty() &&
               wait.elapsed() < 10000)
            QTest::qWait(100);
        QCOMPARE(windowsNamed(*m_session, QStringLiteral("Idlewatch Settings")).size(), 1);
        mark = app.lineCount();
        QVERIFY(click(*m_session, icon.center()));
        app.popoverRows(
            mark, [](const QStringList&) { return true; }, &end);
    }
    QCOMPARE(m_session->run(
                 {QStringLiteral("xdotool"), QStringLiteral("key"), QStringLiteral("Escape")}),
             0);
    QTest::qWait(400);
    QVERIFY(screenshot(*m_session, QStringLiteral("settings-window.png")));
    mark = app.lineCount();
    QVERIFY(click(*m_session, icon.center()));
    app.popoverRows(
        mark, [](const QStringList&) { return true; }, &end);

    const QRect quit = app.item(QStringLiteral("Quit Idlewatch"), end);
    QVERIFY(!quit.isEmpty());
    QVERIFY(click(*m_session, quit.center()));
    QVERIFY(app.process().waitForFinished(10000));
    QCOMPARE(app.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.process().exitCode(), 0);
}

// `--status` reads the running instance as JSON and `--settings` opens its settings window;
// neither starts a second copy.
void TestE2ePopover::statusAndSettingsFromTheCommandLine() {
    QProcessEnvironment env = m_session->environment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    auto launch = [&env](const QString& option, QByteArray* out, QByteArray* err) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(IDLEWATCH_BINARY), {option});
        if (!p.waitForFinished(10000))
            return -1;
        *out = p.readAllStandardOutput();
        *err = p.readAllStandardError();
        return p.exitCode();
    };
    QByteArray out, err;
    QCOMPARE(launch(QStringLiteral("--status"), &out, &err), 1);
    QVERIFY2(out.isEmpty() && err.contains("not running"), err.constData());

    Idlewatch app(*m_session);
    QVERIFY2(!app.trayIcon().isEmpty(), qPrintable(app.errors()));
    QJsonObject xterm;
    QVERIFY(m_session->waitFor(
        [&] {
            if (launch(QStringLiteral("--status"), &out, &err) != 0)
                return false;
            const QJsonArray apps = QJsonDocument::fromJson(out).object().value("apps").toArray();
            for (const QJsonValue& a : apps)
                if (a.toObject().value("name").toString() == QLatin1String("XTerm"))
                    xterm = a.toObject();
            return !xterm.isEmpty();
        },
        10000));
    QCOMPARE(out.count('\n'), 1); // one line
    QVERIFY(xterm.value("enabled").toBool());
    QVERIFY(xterm.value("secondsLeft").toDouble() > 0);
    QVERIFY(QJsonDocument::fromJson(out).object().value("exclusions").isArray());

    QVERIFY(windowsNamed(*m_session, QStringLiteral("Idlewatch Settings")).isEmpty());
    QCOMPARE(launch(QStringLiteral("--settings"), &out, &err), 0);
    QVERIFY(m_session->waitFor(
        [&] { return !windowsNamed(*m_session, QStringLiteral("Idlewatch Settings")).isEmpty(); },
        10000));
    QVERIFY(app.process().state() == QProcess::Running);
}

void TestE2ePopover::darkPaletteAndSecondLaunch() {
    writeDarkColourScheme(*m_session);
    QProcessEnvironment dark;
    dark.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("KDE"));
    dark.insert(QStringLiteral("KDE_SESSION_VERSION"), QStringLiteral("5"));
    dark.insert(QStringLiteral("KDE_FULL_SESSION"), QStringLiteral("true"));
    Idlewatch app(*m_session, dark);
    QVERIFY2(!app.trayIcon().isEmpty(), qPrintable(app.errors()));

    // A second launch shows the running instance's popover and exits 0: the way in on a
    // desktop without a tray.
    const int mark = app.lineCount();
    QProcess second;
    QProcessEnvironment env = m_session->environment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(IDLEWATCH_BINARY), {QStringLiteral("--launched-at-login")});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 0);
    const QStringList rows =
        app.popoverRows(mark, [](const QStringList& r) { return rowsHave(r, kXtermCounting); });
    QVERIFY2(rowsHave(rows, kXtermCounting), qPrintable(rows.join(QLatin1Char('|'))));
    QVERIFY(screenshot(*m_session, QStringLiteral("popover-dark.png")));
    QVERIFY(app.process().state() == QProcess::Running);
}

void TestE2ePopover::withoutDisplaySaysSoAndFails() {
    QTemporaryDir runtime;
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    app.setProcessEnvironment(env);
    app.start(QStringLiteral(IDLEWATCH_BINARY), {});
    QVERIFY(app.waitForFinished(10000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit); // a clear exit, not a crash
    QVERIFY(app.exitCode() != 0);
    const QString err = QString::fromUtf8(app.readAllStandardError());
    QVERIFY2(err.contains(QLatin1String("X11 display")), qPrintable(err));
}

QTEST_GUILESS_MAIN(TestE2ePopover)
#include "test_e2e_popover.moc"
