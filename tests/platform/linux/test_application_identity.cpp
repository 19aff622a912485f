// The one identity resolver, over the desktop entries the test machine's packages install
// (gedit, xterm, foot, FeatherPad) and synthetic ones; and the /proc facts it reads.

#include "platform/linux/ApplicationIdentity.h"
#include "platform/linux/ProcessControl.h"
#include "support/Files.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using Facts = ApplicationIdentity::Facts;

class TestApplicationIdentity : public QObject {
    Q_OBJECT
private slots:
    void resolvesOneEntryInAFixedOrder() {
        QTemporaryDir home;
        qputenv("XDG_DATA_HOME", home.path().toUtf8());
        qputenv("XDG_DATA_DIRS", "/usr/share");
        for (const auto& [id, extra] : {
                 std::pair{"org.example.Flat", ""},
                 {"snapapp_snapapp", ""},
                 {"tool", ""},
                 {"kde", ""},
                 {"tryexec", "Exec=launcher\nTryExec=/opt/bin/tool-bin\n"},
                 {"script", "Exec=myscript --x\n"},
                 {"startup", "StartupWMClass=Klass\n"},
                 {"a-hidden", "Exec=/usr/bin/prog %U\nNoDisplay=true\n"},
                 {"z-shown", "Exec=prog\n"},
             })
            QVERIFY(writeFile(home.filePath(QStringLiteral("applications/%1.desktop").arg(id)),
                              QByteArray("[Desktop Entry]\nType=Application\nName=") + id + "\n" +
                                  extra));
        const DesktopEntryIndex index;
        if (!index.byId("org.gnome.gedit") || !index.byId("featherpad"))
            QSKIP("gedit and featherpad are not installed (./dev installs them)");

        // Each row's facts also satisfy later rules, so only the right order passes.
        const std::pair<Facts, const char*> rows[] = {
            // gedit on sway sends its program name, on X11 its application id.
            {{.appId = "gedit"}, "org.gnome.gedit"},
            {{.appId = "org.gnome.gedit", .wmClass = "Gedit", .wmInstance = "gedit"},
             "org.gnome.gedit"},
            {{.appId = "org.example.Tool"}, "tool"},
            // Debian names its xterm entries apart; the class is in StartupWMClass.
            {{.wmClass = "XTerm", .wmInstance = "xterm", .executable = "/usr/bin/xterm"},
             "debian-xterm"},
            {{.wmClass = "UXTerm", .wmInstance = "xterm", .executable = "/usr/bin/xterm"},
             "debian-uxterm"},
            {{.appId = "footclient", .executable = "/usr/bin/foot"}, "footclient"},
            {{.appId = "my-terminal", .executable = "/usr/bin/foot"}, "foot"},
            {{.wmClass = "FeatherPad", .wmInstance = "featherpad"}, "featherpad"},
            {{.desktopEntry = "/x/kde.desktop", .appId = "gedit"}, "kde"},
            {{.appId = "gedit", .flatpakId = "org.example.Flat"}, "org.example.Flat"},
            {{.appId = "gedit", .snapName = "snapapp_snapapp"}, "snapapp_snapapp"},
            // StartupWMClass is exact; the class as an ID is in any case.
            {{.wmClass = "klass", .executable = "/opt/bin/tool-bin"}, "tryexec"},
            {{.wmClass = "Klass", .executable = "/opt/bin/tool-bin"}, "startup"},
            // The script an interpreter runs, and a shown entry before a hidden one.
            {{.executable = "/usr/bin/python3.11",
              .commandLine = {"python3", "-u", "/usr/local/bin/myscript"}},
             "script"},
            {{.executable = "/usr/bin/prog"}, "z-shown"},
            // No entry: the class or app id, else the executable.
            {{.wmClass = "XClock", .executable = "/usr/bin/xclock"}, "XClock"},
            {{.executable = "/opt/a.out"}, "/opt/a.out"},
        };
        for (const auto& [facts, expected] : rows)
            QCOMPARE(ApplicationIdentity::resolve(index, facts).id, QString::fromLatin1(expected));
    }

    void readsTheProcess() {
        QCOMPARE(ApplicationIdentity::snapFromCgroup("0::/user.slice/user@1000.service/app.slice/"
                                                     "snap.firefox.firefox-2f3a-41b0.scope\n"),
                 QStringLiteral("firefox_firefox"));
        QCOMPARE(ApplicationIdentity::snapFromCgroup("0::/system.slice/snap.lxd.daemon.service"),
                 QStringLiteral("lxd_daemon"));
        QCOMPARE(ApplicationIdentity::flatpakIdFromInfo(
                     "[Instance]\nname=x\n[Application]\nname=org.mozilla.firefox\n"),
                 QStringLiteral("org.mozilla.firefox"));
        Facts own;
        ApplicationIdentity::readProcess(::getpid(), own);
        QCOMPARE(own.executable, QCoreApplication::applicationFilePath());
        QVERIFY(own.commandLine.size() == 1 && own.flatpakId.isEmpty() && own.snapName.isEmpty());

        const QByteArray tail = " S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 123456789 20 21\n";
        QCOMPARE(ProcessControl::parseStartTime("42 (a) (b c) x)" + tail).value_or(0),
                 123456789ull);
        QVERIFY(!ProcessControl::parseStartTime("42 (sleep) S 1 2 3"));
    }
};

QTEST_GUILESS_MAIN(TestApplicationIdentity)
#include "test_application_identity.moc"
