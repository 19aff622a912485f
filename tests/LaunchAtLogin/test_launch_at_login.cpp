#include "LaunchAtLogin/LaunchAtLogin.h"
#include "LaunchAtLogin/Toggle.h"
#include "support/Promptly.h"

#include <QCheckBox>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

// Messages logged under the login-item category while an object lives.
class LogCapture {
public:
    LogCapture() {
        s_lines.clear();
        m_previous = qInstallMessageHandler(&handler);
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    static QStringList lines() { return s_lines; }

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (QByteArray(context.category) == "com.Idlewatch.Idlewatch.main")
            s_lines << QStringLiteral("%1:%2").arg(type).arg(text);
    }
    static inline QStringList s_lines;
    QtMessageHandler m_previous;
};

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QString execLine(const QByteArray& entry) {
    for (const QByteArray& line : entry.split('\n'))
        if (line.startsWith("Exec="))
            return QString::fromUtf8(line.mid(5));
    return {};
}

} // namespace

class TestLaunchAtLogin : public QObject {
    Q_OBJECT
    QTemporaryDir m_config;

    QString entryPath() const { return LaunchAtLogin::autostartFilePath(); }

private slots:
    void init() {
        QVERIFY(m_config.isValid());
        QDir(m_config.path()).removeRecursively();
        QDir().mkpath(m_config.path());
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    }

    void folderFollowsXdgConfigHome_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("usesValue");
        QTest::newRow("absolute") << QByteArray("/abs/config") << true;
        QTest::newRow("unset") << QByteArray() << false;
        QTest::newRow("relative is ignored") << QByteArray("rel/config") << false;
    }
    void folderFollowsXdgConfigHome() {
        QFETCH(QByteArray, value);
        QFETCH(bool, usesValue);
        if (value.isEmpty())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", value);
        const QString expected =
            (usesValue ? QString::fromLocal8Bit(value) : QDir::homePath() + "/.config") +
            "/autostart/com.Idlewatch.Idlewatch.desktop";
        QCOMPARE(LaunchAtLogin::autostartFilePath(), expected);
    }

    // What a session manager would start, read from whatever is in the file.
    void readsExistingEntries_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("enabled");
        const QByteArray head = "# written by hand\n\n[Desktop Entry]\nType=Application\n"
                                "Name=Idlewatch\nExec=idlewatch\n";
        QTest::newRow("plain") << head << true;
        QTest::newRow("Hidden=true") << head + "Hidden=true\n" << false;
        QTest::newRow("Hidden = true, spaced") << head + "Hidden = true\n" << false;
        QTest::newRow("Hidden=false") << head + "Hidden=false\n" << true;
        QTest::newRow("autostart disabled") << head + "X-GNOME-Autostart-enabled=false\n" << false;
        QTest::newRow("autostart enabled") << head + "X-GNOME-Autostart-enabled=true\n" << true;
        QTest::newRow("Hidden in another group") << head + "[Desktop Action x]\nHidden=true\n"
                                                 << true;
        QTest::newRow("CRLF line ends") << QByteArray(head).replace("\n", "\r\n") << true;
        QTest::newRow("empty file") << QByteArray() << false;
        QTest::newRow("no main group") << QByteArray("Type=Application\nExec=x\n") << false;
        QTest::newRow("other group first") << QByteArray("[Other]\nA=b\n") + head << false;
        QTest::newRow("line without =") << head + "garbage\n" << false;
        QTest::newRow("bad key") << head + "Bad Key=1\n" << false;
        QTest::newRow("not UTF-8") << head + "Comment=\xff\xfe\n" << false;
    }
    void readsExistingEntries() {
        QFETCH(QByteArray, content);
        QFETCH(bool, enabled);
        QDir().mkpath(LaunchAtLogin::autostartFolder());
        writeFile(entryPath(), content);
        QCOMPARE(LaunchAtLogin::isEnabled(), enabled);
    }

    // Whatever sits at the entry's path, reading it never blocks nor reads without end;
    // what is no plain desktop entry does not start us.
    void readingAnEntryThatIsNoPlainFileReturnsPromptly_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("link to a device") << "device";
        QTest::newRow("huge") << "huge";
    }
    void readingAnEntryThatIsNoPlainFileReturnsPromptly() {
        QFETCH(QString, kind);
        QDir().mkpath(LaunchAtLogin::autostartFolder());
        if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(entryPath()).constData(), 0600), 0);
        else if (kind == "device")
            QVERIFY(QFile::link("/dev/zero", entryPath()));
        else
            writeFile(entryPath(), "[Desktop Entry]\nType=Application\nName=Idlewatch\n" +
                                       QByteArray(4 << 20, '#'));
        bool enabled = true;
        QVERIFY(returnsWithinASecond([&] { enabled = LaunchAtLogin::isEnabled(); }, entryPath()));
        QVERIFY(!enabled);
    }

    void enableWritesAnEntryForThisProgram() {
        LogCapture log;
        QVERIFY(!LaunchAtLogin::isEnabled()); // no folder at all yet
        LaunchAtLogin::setEnabled(true);
        QVERIFY(LaunchAtLogin::isEnabled());
        QVERIFY(log.lines().isEmpty());

        const QByteArray entry = readAll(entryPath());
        QCOMPARE(execLine(entry),
                 LaunchAtLogin::quoteExecArgument(QCoreApplication::applicationFilePath()) +
                     " --launched-at-login");
    }

    // Switching on when already on registers again: a stale command is replaced.
    void enableAgainReregisters_data() {
        QTest::addColumn<QByteArray>("existing");
        QTest::newRow("enabled, old location")
            << QByteArray("[Desktop Entry]\nType=Application\nName=Idlewatch\n"
                          "Exec=/old/place/idlewatch --launched-at-login\n");
        QTest::newRow("hidden") << QByteArray("[Desktop Entry]\nType=Application\n"
                                              "Name=Idlewatch\nExec=/old/idlewatch\n"
                                              "Hidden=true\n");
    }
    void enableAgainReregisters() {
        QFETCH(QByteArray, existing);
        QDir().mkpath(LaunchAtLogin::autostartFolder());
        writeFile(entryPath(), existing);
        LaunchAtLogin::setEnabled(true);
        QVERIFY(LaunchAtLogin::isEnabled());
        QCOMPARE(readAll(entryPath()),
                 LaunchAtLogin::autostartEntry(QCoreApplication::applicationFilePath()).toUtf8());
        // Twice in a row keeps exactly the one fresh entry.
        LaunchAtLogin::setEnabled(true);
        QVERIFY(LaunchAtLogin::isEnabled());
        QCOMPARE(QDir(LaunchAtLogin::autostartFolder()).entryList(QDir::Files).size(), 1);
    }

    void disableRemovesTheEntryQuietly() {
        LogCapture log;
        LaunchAtLogin::setEnabled(true);
        LaunchAtLogin::setEnabled(false);
        QVERIFY(!LaunchAtLogin::isEnabled());
        QVERIFY(!QFile::exists(entryPath()));
        LaunchAtLogin::setEnabled(false); // already off: nothing to report
        QVERIFY(log.lines().isEmpty());
    }

    void unwritableFolderLogsOnceAndTheSwitchShowsTheTruth() {
        // A plain file where the autostart folder belongs: nothing can be written there,
        // whoever runs the test.
        writeFile(LaunchAtLogin::autostartFolder(), "not a folder");
        LaunchAtLogin::Observable model;
        LaunchAtLogin::Toggle toggle(model);
        QVERIFY(!toggle.switchButton()->isChecked());

        LogCapture log;
        toggle.switchButton()->click();
        QCOMPARE(log.lines().size(), 1);
        QVERIFY2(log.lines().first().startsWith(QStringLiteral("%1:Failed to enable launch at "
                                                               "login: ")
                                                    .arg(QtCriticalMsg)),
                 qPrintable(log.lines().first()));
        QVERIFY(!toggle.switchButton()->isChecked());
        QVERIFY(!LaunchAtLogin::isEnabled());
    }

    void switchesFollowEachOther() {
        LaunchAtLogin::Observable model;
        LaunchAtLogin::Toggle first(model);
        LaunchAtLogin::Toggle second(model);
        first.switchButton()->click();
        QVERIFY(LaunchAtLogin::isEnabled());
        QVERIFY(second.switchButton()->isChecked());

        // A change made by another program shows when the switch is shown again.
        QFile::remove(entryPath());
        second.show();
        QVERIFY(QTest::qWaitForWindowExposed(&second));
        QVERIFY(!second.switchButton()->isChecked());
    }

    // Exec quoting by the Desktop Entry rules, then the string escapes of the file.
    void quotesTheProgramPath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain") << "/usr/bin/idlewatch"
                               << "/usr/bin/idlewatch";
        QTest::newRow("space") << "/opt/Idle Watch/idlewatch"
                               << "\"/opt/Idle Watch/idlewatch\"";
        QTest::newRow("shell characters") << "/x/$HOME`a`\"b\""
                                          << "\"/x/\\$HOME\\`a\\`\\\"b\\\"\"";
        QTest::newRow("backslash") << "/x/a\\b"
                                   << "\"/x/a\\\\b\"";
        QTest::newRow("percent") << "/x/100%/idlewatch"
                                 << "/x/100%%/idlewatch";
        QTest::newRow("tilde and hash") << "/x/~a#b"
                                        << "\"/x/~a#b\"";
    }
    void quotesTheProgramPath() {
        QFETCH(QString, path);
        QFETCH(QString, quoted);
        QCOMPARE(LaunchAtLogin::quoteExecArgument(path), quoted);

        // The file carries the quoted argument with its backslashes escaped once more,
        // and a validator accepts it.
        const QByteArray entry = LaunchAtLogin::autostartEntry(path).toUtf8();
        QCOMPARE(execLine(entry), QString(quoted).replace("\\", "\\\\") + " --launched-at-login");
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        if (validator.isEmpty())
            return;
        QDir().mkpath(LaunchAtLogin::autostartFolder());
        writeFile(entryPath(), entry);
        QProcess process;
        process.start(validator, {entryPath()});
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.readAll(), QByteArray());
        QCOMPARE(process.exitCode(), 0);
    }

    void tellsALoginLaunch_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("atLogin");
        QTest::newRow("by the user") << QStringList{"idlewatch"} << false;
        QTest::newRow("at login") << QStringList{"idlewatch", "--launched-at-login"} << true;
        QTest::newRow("among others")
            << QStringList{"idlewatch", "-platform", "xcb", "--launched-at-login"} << true;
        QTest::newRow("program named like the marker")
            << QStringList{"--launched-at-login"} << false;
        QTest::newRow("similar argument")
            << QStringList{"idlewatch", "--launched-at-login=1"} << false;
        QTest::newRow("no arguments at all") << QStringList{} << false;
    }
    void tellsALoginLaunch() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, atLogin);
        QCOMPARE(LaunchAtLogin::wasLaunchedAtLogin(arguments), atLogin);
    }
};

QTEST_MAIN(TestLaunchAtLogin)
#include "test_launch_at_login.moc"
