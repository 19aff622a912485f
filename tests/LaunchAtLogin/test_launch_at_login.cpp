#include "LaunchAtLogin/LaunchAtLogin.h"
#include "LaunchAtLogin/Toggle.h"
#include "support/Promptly.h"

#include <QCheckBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

// Errors logged under the login-item category while an object lives.
struct Errors {
    static inline int count = 0;
    QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString&) {
            count += type >= QtCriticalMsg &&
                     QByteArray(context.category) == "com.Idlewatch.Idlewatch.main";
        });
    Errors() { count = 0; }
    ~Errors() { qInstallMessageHandler(previous); }
};

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QString entryPath() {
    return LaunchAtLogin::autostartFilePath();
}

} // namespace

class TestLaunchAtLogin : public QObject {
    Q_OBJECT
    QTemporaryDir m_config;

private slots:
    void init() {
        QDir(m_config.path()).removeRecursively();
        QDir().mkpath(m_config.path());
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    }

    // A relative XDG_CONFIG_HOME is ignored, as the base directory rules say.
    void folderFollowsXdgConfigHome() {
        const QString file = "/autostart/com.Idlewatch.Idlewatch.desktop";
        QCOMPARE(LaunchAtLogin::autostartFilePath(), m_config.path() + file);
        qputenv("XDG_CONFIG_HOME", "rel/config");
        QCOMPARE(LaunchAtLogin::autostartFilePath(), QDir::homePath() + "/.config" + file);
    }

    // What a session manager would start, read from whatever is in the file.
    void readsExistingEntries_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("enabled");
        const QByteArray head = "# written by hand\n\n[Desktop Entry]\nType=Application\n"
                                "Name=Idlewatch\nExec=idlewatch\n";
        QTest::newRow("plain") << head << true;
        QTest::newRow("Hidden = true, spaced") << head + "Hidden = true\n" << false;
        QTest::newRow("Hidden=false") << head + "Hidden=false\n" << true;
        QTest::newRow("autostart disabled") << head + "X-GNOME-Autostart-enabled=false\n" << false;
        QTest::newRow("Hidden in another group") << head + "[Desktop Action x]\nHidden=true\n"
                                                 << true;
        QTest::newRow("CRLF line ends") << QByteArray(head).replace("\n", "\r\n") << true;
        QTest::newRow("empty file") << QByteArray() << false;
        QTest::newRow("other group first") << QByteArray("[Other]\nA=b\n") + head << false;
        QTest::newRow("line without =") << head + "garbage\n" << false;
        QTest::newRow("not UTF-8") << head + "Comment=\xff\xfe\n" << false;
    }
    void readsExistingEntries() {
        QFETCH(QByteArray, content);
        QFETCH(bool, enabled);
        writeFile(entryPath(), content);
        QCOMPARE(LaunchAtLogin::isEnabled(), enabled);
    }

    // Whatever sits at the entry's path, reading it never blocks nor reads without end.
    void readingAnEntryThatIsNoPlainFileReturnsPromptly() {
        QDir().mkpath(LaunchAtLogin::autostartFolder());
        for (const char* kind : {"fifo", "device", "huge"}) {
            QFile::remove(entryPath());
            if (kind == QByteArray("fifo"))
                QCOMPARE(::mkfifo(QFile::encodeName(entryPath()).constData(), 0600), 0);
            else if (kind == QByteArray("device"))
                QVERIFY(QFile::link("/dev/zero", entryPath()));
            else
                writeFile(entryPath(), "[Desktop Entry]\nType=Application\nName=Idlewatch\n" +
                                           QByteArray(4 << 20, '#'));
            bool enabled = true;
            QVERIFY2(
                returnsWithinASecond([&] { enabled = LaunchAtLogin::isEnabled(); }, entryPath()),
                kind);
            QVERIFY(!enabled);
        }
    }

    // On writes this program's entry, also over a stale or hidden one; off removes it; neither
    // reports anything when it works.
    void switchingOnAndOff() {
        Errors errors;
        writeFile(entryPath(), "[Desktop Entry]\nType=Application\nName=Idlewatch\n"
                               "Exec=/old/place/idlewatch --launched-at-login\nHidden=true\n");
        for (int round = 0; round < 2; ++round) {
            LaunchAtLogin::setEnabled(true);
            QVERIFY(LaunchAtLogin::isEnabled());
            QCOMPARE(
                readAll(entryPath()),
                LaunchAtLogin::autostartEntry(QCoreApplication::applicationFilePath()).toUtf8());
        }
        QCOMPARE(QDir(LaunchAtLogin::autostartFolder()).entryList(QDir::Files).size(), 1);
        LaunchAtLogin::setEnabled(false);
        QVERIFY(!QFile::exists(entryPath()));
        LaunchAtLogin::setEnabled(false);
        QCOMPARE(errors.count, 0);
    }

    // A plain file where the folder belongs: the failure is logged once and the switch
    // shows the truth. Two switches follow each other and changes made by other programs.
    void switchesShowTheTruth() {
        writeFile(LaunchAtLogin::autostartFolder(), "not a folder");
        LaunchAtLogin::Observable model;
        LaunchAtLogin::Toggle first(model);
        LaunchAtLogin::Toggle second(model);
        {
            Errors errors;
            first.switchButton()->click();
            QCOMPARE(errors.count, 1);
        }
        QVERIFY(!first.switchButton()->isChecked() && !LaunchAtLogin::isEnabled());

        QFile::remove(LaunchAtLogin::autostartFolder());
        first.switchButton()->click();
        QVERIFY(LaunchAtLogin::isEnabled() && second.switchButton()->isChecked());
        QFile::remove(entryPath());
        second.show();
        QVERIFY(QTest::qWaitForWindowExposed(&second));
        QVERIFY(!second.switchButton()->isChecked());
    }

    // Exec quoting by the Desktop Entry rules, then the string escapes of the file, which a
    // validator accepts.
    void quotesTheProgramPath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain") << "/usr/bin/idlewatch"
                               << "/usr/bin/idlewatch";
        QTest::newRow("space") << "/opt/Idle Watch/x"
                               << "\"/opt/Idle Watch/x\"";
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
        const QByteArray entry = LaunchAtLogin::autostartEntry(path).toUtf8();
        QVERIFY(entry.contains("\nExec=" + QString(quoted).replace("\\", "\\\\").toUtf8() +
                               " --launched-at-login\n"));
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        if (validator.isEmpty())
            return;
        writeFile(entryPath(), entry);
        QProcess process;
        process.start(validator, {entryPath()});
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.readAll() + QByteArray::number(process.exitCode()), QByteArray("0"));
    }
};

QTEST_MAIN(TestLaunchAtLogin)
#include "test_launch_at_login.moc"
