#include "SettingsRig.h"

#include "settings/Panes.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {
QVariant valueOf(const UserDefaults& store, const QString& key) {
    switch (store.typeOf(key).value_or(UserDefaults::Type::Data)) {
    case UserDefaults::Type::Integer:
        return *store.integer(key);
    case UserDefaults::Type::Boolean:
        return *store.boolean(key);
    case UserDefaults::Type::Text:
        return *store.text(key);
    case UserDefaults::Type::Data:
        return store.data(key).value_or(QByteArray());
    }
    return {};
}

void setValue(UserDefaults& store, const QString& key, const QVariant& value) {
    if (value.typeId() == QMetaType::LongLong)
        store.setInteger(key, value.toLongLong());
    else if (value.typeId() == QMetaType::Bool)
        store.setBoolean(key, value.toBool());
    else
        store.setText(key, value.toString());
}
} // namespace

class TestMaintenancePanes : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        overrideAppVersion(std::nullopt, std::nullopt);
        setUrlOpener({});
    }

    // The reset writes the appearance keys, in order, and nothing else.
    void restoreAppearanceDefaults() {
        struct Row {
            QString key;
            QVariant changed;
            QVariant reset;
        };
        const QList<Row> appearance{{"accentColor", "blue", "gold"},
                                    {"popoverWidth", qint64(500), qint64(320)},
                                    {"rowIconSize", qint64(40), qint64(28)},
                                    {"compactRows", true, false},
                                    {"countdownWarningMinutes", qint64(5), qint64(60)},
                                    {"countdownStyle", "compact", "verbose"},
                                    {"sortMode", "recent", "name"},
                                    {"showEmptyState", false, true},
                                    {"showSecondsInCountdown", false, true},
                                    {"menuBarIconSize", qint64(24), qint64(18)},
                                    {"menuBarIconTemplate", false, true},
                                    {"showExclusionsInPopover", false, true}};
        SettingsRig rig;
        UserDefaults& store = *rig.store;
        for (const Row& row : appearance)
            setValue(store, row.key, row.changed);
        // Keys the reset must leave alone, the two collections among them.
        store.setInteger("minutesUntilClose", 45);
        store.setInteger("openAppsRefreshSeconds", 9);
        store.setInteger("launchGraceMinutes", 7);
        store.setBoolean("ignoreHiddenApps", true);
        store.setBoolean("forceQuitIfTerminateFails", true);
        store.setBoolean("quittingEnabled", false);
        store.setBoolean("newAppsEnabled", false);
        store.setBoolean("showCloseButton", true);
        store.setText("customKeyOfAnotherVersion", "kept");
        rig.open(SettingsPane::advanced);
        rig.engine->addExcludedApp(rig.addEntry("org.example.Mail", "Mail"));
        rig.engine->setToggle("Editor", false);
        QMap<QString, QVariant> others;
        for (const QString& key : store.keys())
            if (std::none_of(appearance.begin(), appearance.end(),
                             [&key](const Row& row) { return row.key == key; }))
                others.insert(key, valueOf(store, key));
        QCOMPARE(others.size(), 11);

        QSignalSpy writes(&store, &UserDefaults::changed);
        rig.control<QPushButton>("Restore appearance defaults")->click();
        QCOMPARE(writes.count(), appearance.size());
        for (qsizetype i = 0; i < appearance.size(); ++i) {
            QCOMPARE(writes.at(i).at(0).toString(), appearance[i].key);
            QCOMPARE(valueOf(store, appearance[i].key), appearance[i].reset);
        }
        for (auto it = others.cbegin(); it != others.cend(); ++it)
            QCOMPARE(valueOf(store, it.key()), it.value());
        QCOMPARE(rig.engine->excludedApps().size(), 1);
        QCOMPARE(rig.engine->toggleStatus().value("Editor", true), false);
    }

    void maintenanceButtonsReachTheEngine() {
        SettingsRig rig;
        rig.open(SettingsPane::advanced);
        const RunningApplication first = rig.addTrackedApp("Editor");
        rig.engine->setToggle("Editor", false);

        // Started after the last scan: only a re-scan finds it.
        const RunningApplication second =
            rig.workspace.add({.name = "Mail", .applicationId = "org.example.Mail"});
        QVERIFY(!rig.engine->runningApps().contains(second));
        rig.control<QPushButton>("Re-scan running apps")->click();
        rig.drain();
        QVERIFY(rig.engine->runningApps().contains(second));

        rig.clock.advance(50);
        rig.control<QPushButton>("Reset all timers")->click();
        QCOMPARE(rig.engine->runningApps().value(first), rig.clock.now());
        QCOMPARE(rig.engine->runningApps().value(second), rig.clock.now());

        rig.control<QPushButton>("Clear per-app on/off choices")->click();
        QVERIFY(rig.engine->toggleStatus().isEmpty());
    }

    // Six lines, byte for byte, nothing after the last; the version may be empty.
    void diagnosticsText_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("expectedFirstLine");
        QTest::addColumn<QString>("expectedAbout");
        QTest::newRow("with version") << "1.2.3"
                                      << "Idlewatch 1.2.3 (45)"
                                      << "Version 1.2.3 (45)";
        QTest::newRow("empty version") << ""
                                       << "Idlewatch  (45)"
                                       << "Version  (45)";
    }
    void diagnosticsText() {
        QFETCH(QString, version);
        QFETCH(QString, expectedFirstLine);
        QFETCH(QString, expectedAbout);
        overrideAppVersion(version, QStringLiteral("45"));
        SettingsRig rig;
        rig.store->setBoolean("quittingEnabled", false);
        rig.store->setInteger("minutesUntilClose", 90);
        rig.store->setInteger("openAppsRefreshSeconds", 12);
        rig.open(SettingsPane::support);
        rig.addTrackedApp("Editor");
        rig.addTrackedApp("Mail");
        rig.engine->addExcludedApp(rig.addEntry("org.example.Notes", "Notes"));
        QVERIFY(rig.label(expectedAbout));
        QVERIFY(rig.label("2 tracked apps, 1 exclusions"));

        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->setText("something older");
        rig.control<QPushButton>("Copy diagnostics")->click();
        const QString expected = expectedFirstLine +
                                 "\nTracked apps: 2\nExclusions: 1\nQuitting enabled: false\n"
                                 "Idle timeout: 1h 30m\nRefresh seconds: 12";
        QCOMPARE(clipboard->text(), expected);
        QCOMPARE(clipboard->mimeData()->formats(), QStringList{"text/plain"});

        // Copying again leaves only the new text.
        rig.store->setBoolean("quittingEnabled", true);
        rig.control<QPushButton>("Copy diagnostics")->click();
        QCOMPARE(clipboard->text(), QString(expected).replace("false", "true"));
    }

    void linksOpenInTheBrowser() {
        QList<QUrl> opened;
        setUrlOpener([&opened](const QUrl& url) {
            opened << url;
            return true;
        });
        SettingsRig rig;
        rig.open(SettingsPane::support);
        rig.control<QPushButton>("Website")->click();
        rig.control<QPushButton>("Download DMG")->click();
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened[0].path(), QStringLiteral("/"));
        QCOMPARE(opened[1].host(), opened[0].host());
        QCOMPARE(opened[1].path(), QStringLiteral("/downloads/Idlewatch-1.0.dmg"));
        QCOMPARE(opened[0].scheme(), QStringLiteral("https"));

        openURL("not a web address");
        openURL("http://exa mple.com/");
        QCOMPARE(opened.size(), 2);
    }
};

QTEST_MAIN(TestMaintenancePanes)
#include "test_maintenance_panes.moc"
