#include "LaunchAtLogin/LaunchAtLogin.h"
#include "support/Files.h"
#include "support/Promptly.h"

#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestLaunchAtLogin : public QObject {
    Q_OBJECT
    QTemporaryDir m_config;
    const QString entry = m_config.path() + "/autostart/com.Idlewatch.Idlewatch.desktop";

private slots:
    void init() { qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit()); }

    // What a session manager would start, read from whatever is in the file; whatever sits
    // at the entry's path, reading it never blocks nor reads without end.
    void readsExistingEntries() {
        const QByteArray head = "# written by hand\n\n[Desktop Entry]\nType=Application\n"
                                "Name=Idlewatch\nExec=idlewatch\n";
        const QList<std::pair<QByteArray, bool>> rows{
            {head, true},
            {head + "Hidden = true\n", false},
            {head + "Hidden=false\n", true},
            {head + "X-GNOME-Autostart-enabled=false\n", false},
            {head + "[Desktop Action x]\nHidden=true\n", true},
            {"", false},
            {head + "garbage\n", false},
            {head + QByteArray(4 << 20, '#'), false},
            {"fifo", false},
            {"device", false}};
        for (const auto& [content, enabled] : rows) {
            QVERIFY(writeFile(entry, content));
            if (content == "fifo" || content == "device")
                QVERIFY(QFile::remove(entry) &&
                        (content == "fifo" ? ::mkfifo(QFile::encodeName(entry), 0600) == 0
                                           : QFile::link("/dev/zero", entry)));
            bool read = !enabled;
            QVERIFY2(returnsWithinASecond([&] { read = LaunchAtLogin::isEnabled(); }, entry),
                     content.left(40));
            QCOMPARE(read, enabled);
            QFile::remove(entry);
        }
    }

    // Exec quoting by the Desktop Entry rules, then the string escapes of the file.
    void quotesTheProgramPath() {
        const QList<std::pair<QString, QString>> rows{
            {"/usr/bin/idlewatch", "/usr/bin/idlewatch"},
            {"/opt/Idle Watch/x", "\"/opt/Idle Watch/x\""},
            {"/x/$HOME`a`\"b\"", "\"/x/\\$HOME\\`a\\`\\\"b\\\"\""},
            {"/x/a\\b", "\"/x/a\\\\b\""},
            {"/x/100%/idlewatch", "/x/100%%/idlewatch"},
            {"/x/~a#b", "\"/x/~a#b\""}};
        for (const auto& [path, quoted] : rows)
            QVERIFY(LaunchAtLogin::autostartEntry(path).contains(
                "\nExec=" + QString(quoted).replace("\\", "\\\\") + " --launched-at-login\n"));
    }
};

QTEST_MAIN(TestLaunchAtLogin)
#include "test_launch_at_login.moc"
