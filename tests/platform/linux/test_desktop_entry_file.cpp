#include "platform/linux/DesktopEntryFile.h"
#include "support/Promptly.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <sys/stat.h>

namespace {
std::optional<DesktopEntryFile> entry(const QByteArray& body) {
    return DesktopEntryFile::parse("[Desktop Entry]\n" + body);
}
} // namespace

class TestDesktopEntryFile : public QObject {
    Q_OBJECT
private slots:
    void validity_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("comments and blanks first")
            << QByteArray("# c\n\n  # d\n[Desktop Entry]\n") << true;
        QTest::newRow("CRLF and indentation")
            << QByteArray("[Desktop Entry]\r\n  Name = A \r\nType=Application\r\n") << true;
        QTest::newRow("no group header") << QByteArray("Name=A\nType=Application\n") << false;
        QTest::newRow("other group first")
            << QByteArray("[Foo]\n[Desktop Entry]\nName=A\n") << false;
        QTest::newRow("line without =") << QByteArray("[Desktop Entry]\nName A\n") << false;
        QTest::newRow("unclosed header") << QByteArray("[Desktop Entry\nName=A\n") << false;
        QTest::newRow("empty key") << QByteArray("[Desktop Entry]\n=A\n") << false;
        QTest::newRow("bad locale") << QByteArray("[Desktop Entry]\nName[de=A\n") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("binary") << QByteArray("\x7f"
                                              "ELF\x02\x01\x01\0\0\0",
                                              10)
                                << false;
        QTest::newRow("bad line in another group")
            << QByteArray("[Desktop Entry]\nName=A\n[Desktop Action x]\ngarbage\n") << false;
    }
    void validity() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        const auto file = DesktopEntryFile::parse(bytes);
        QCOMPARE(file.has_value(), valid);
        if (valid && file->contains("Name"))
            QCOMPARE(file->string("Name"), QStringLiteral("A"));
    }

    void valuesAndGroups() {
        const auto file = entry("Name=First\nComment=a\\sb\\nc\\td\\re\\\\f\\;g\\qh\n"
                                "Keywords=one;two\\;three;\\\\;\n"
                                "NoDisplay=True\nHidden=true\n"
                                "Bad=\xff\xfe\n"
                                "Name=Second\n"
                                "[Desktop Action new]\nName=Action\nExec=other\n"
                                "[Desktop Entry]\nIcon=merged\n");
        QVERIFY(file);
        QCOMPARE(file->string("Name"), QStringLiteral("Second")); // a repeated key: last wins
        QCOMPARE(file->string("Comment"), QStringLiteral("a b\nc\td\re\\f\\;g\\qh"));
        QCOMPARE(file->list("Keywords"), QStringList({"one", "two;three", "\\"}));
        QVERIFY(!file->noDisplay()); // only the literal "true"
        QVERIFY(file->isHidden());
        QVERIFY(!file->contains("Bad")); // invalid UTF-8 drops the value alone
        QVERIFY(!file->contains("Exec"));
        QCOMPARE(file->string("Icon"), QStringLiteral("merged"));
    }

    void locales_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<QString>("expected");
        const QByteArray all = "Name=plain\nName[sr]=sr\nName[sr_RS]=sr_RS\nName[sr@latin]=sr@l\n"
                               "Name[sr_RS@latin]=sr_RS@l\n";
        QTest::newRow("full match") << "sr_RS.UTF-8@latin" << all << "sr_RS@l";
        QTest::newRow("country before modifier")
            << "sr_RS@latin" << QByteArray("Name=plain\nName[sr@latin]=sr@l\nName[sr_RS]=sr_RS\n")
            << "sr_RS";
        QTest::newRow("modifier before lang")
            << "sr_ME@latin" << QByteArray("Name=plain\nName[sr]=sr\nName[sr@latin]=sr@l\n")
            << "sr@l";
        QTest::newRow("country without modifier") << "sr_RS.UTF-8" << all << "sr_RS";
        QTest::newRow("lang alone never takes a country") << "sr" << all << "sr";
        QTest::newRow("other country falls to lang") << "sr_BA" << all << "sr";
        QTest::newRow("no translation") << "de_DE" << all << "plain";
        QTest::newRow("C") << "C.UTF-8" << all << "plain";
    }
    void locales() {
        QFETCH(QString, locale);
        QFETCH(QByteArray, keys);
        QFETCH(QString, expected);
        QCOMPARE(entry(keys)->localeString("Name", locale), expected);
    }

    void messagesLocalePrecedence() {
        const auto set = [](const char* all, const char* messages, const char* lang) {
            qputenv("LC_ALL", all);
            qputenv("LC_MESSAGES", messages);
            qputenv("LANG", lang);
            return DesktopEntryFile::messagesLocale();
        };
        QCOMPARE(set("fr_FR.UTF-8", "de_DE", "it_IT"), QStringLiteral("fr_FR.UTF-8"));
        QCOMPARE(set("", "de_DE", "it_IT"), QStringLiteral("de_DE"));
        QCOMPARE(set("", "", "it_IT"), QStringLiteral("it_IT"));
        QCOMPARE(set("C.UTF-8", "de_DE", "it_IT"), QString());
        QCOMPARE(set("", "", "POSIX"), QString());
    }

    void execProgram_data() {
        QTest::addColumn<QByteArray>("exec");
        QTest::addColumn<QString>("program");
        QTest::newRow("path and field code") << QByteArray("/usr/bin/gedit %U") << "gedit";
        QTest::newRow("quoted with spaces")
            << QByteArray("\"/opt/My App/bin/my app\" --x %f") << "my app";
        QTest::newRow("escaped quote inside quotes")
            << QByteArray("\"/opt/a\\\\\"b/run\\\\\\\\er\" x") << "run\\er";
        QTest::newRow("string escape first") << QByteArray("my\\sprog --flag") << "my";
        QTest::newRow("leading spaces") << QByteArray("   vim") << "vim";
        QTest::newRow("empty quoted") << QByteArray("\"\" x") << "";
        QTest::newRow("none") << QByteArray() << "";
    }
    void execProgram() {
        QFETCH(QByteArray, exec);
        QFETCH(QString, program);
        QCOMPARE(entry("Exec=" + exec + "\n")->execProgram(), program);
    }

    void largeAndHostileInput() {
        // Linear, never recursive: many lines and one enormous line both parse.
        QByteArray many = "[Desktop Entry]\n";
        for (int i = 0; i < 100000; ++i)
            many += "X-Key" + QByteArray::number(i) + "=\\\\\\s\\;;\n";
        QVERIFY(DesktopEntryFile::parse(many));
        QVERIFY(entry("Name=" + QByteArray(8 << 20, '\\') + "\n"));

        QTemporaryFile big;
        QVERIFY(big.open());
        big.write("[Desktop Entry]\nName=A\nType=Application\n");
        big.write(QByteArray(DesktopEntryFile::maxFileSize, '#'));
        big.close();
        QVERIFY(!DesktopEntryFile::load(big.fileName()));
        QVERIFY(!DesktopEntryFile::load("/nonexistent/x.desktop"));

        // A FIFO dropped among the entries is never waited on.
        QTemporaryDir dir;
        const QString fifo = dir.filePath("fifo.desktop");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        bool loaded = true;
        QVERIFY(returnsWithinASecond([&] { loaded = bool(DesktopEntryFile::load(fifo)); }, fifo));
        QVERIFY(!loaded);
    }

    void everyInstalledEntryParses() {
        int count = 0;
        QDirIterator it("/usr/share/applications", {"*.desktop"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const auto file = DesktopEntryFile::load(path);
            QVERIFY2(file, qPrintable(path));
            QVERIFY2(!file->type().isEmpty(), qPrintable(path));
            ++count;
        }
        if (count == 0)
            QSKIP("no desktop entries installed");
    }
};

QTEST_GUILESS_MAIN(TestDesktopEntryFile)
#include "test_desktop_entry_file.moc"
