#include "EngineRig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString kExcludedKey = QStringLiteral("com.Idlewatch.excludedApps");
const QString kToggleKey = QStringLiteral("com.Idlewatch.toggleStatus");

QStringList names(const QList<ExcludedApp>& apps) {
    QStringList out;
    for (const ExcludedApp& app : apps)
        out << app.name;
    return out;
}

ApplicationEntry bundle(const QString& identifier, const QString& name = {}) {
    return ApplicationEntry{identifier, name};
}

} // namespace

class TestExclusions : public QObject {
    Q_OBJECT
private slots:
    void recordFromPath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("registered");
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QString>("entryName");
        QTest::addColumn<QString>("name"); // empty: no record
        const QString dir = QStringLiteral("/usr/share/applications/");
        const QString id = QStringLiteral("org.x.Tool");
        const QString tool = QStringLiteral("Werkzeug");
        QTest::newRow("name") << dir + "org.x.Tool.desktop" << true << id << tool << tool;
        QTest::newRow("capital extension")
            << dir + "org.x.Tool.DESKTOP" << true << id << tool << tool;
        QTest::newRow("trailing slash")
            << dir + "org.x.Tool.desktop/" << true << id << tool << tool;
        QTest::newRow("no name: file name")
            << dir + "org.x.Tool.desktop" << true << id << QString() << QString("org.x.Tool");
        QTest::newRow("other extension")
            << dir + "org.x.Tool.app" << true << id << tool << QString();
        QTest::newRow("unreadable")
            << dir + "org.x.Tool.desktop" << false << id << tool << QString();
        QTest::newRow("no identifier")
            << dir + "org.x.Tool.desktop" << true << QString() << tool << QString();
    }
    void recordFromPath() {
        QFETCH(QString, path);
        QFETCH(bool, registered);
        QFETCH(QString, identifier);
        QFETCH(QString, entryName);
        QFETCH(QString, name);
        FakeWorkspace workspace;
        if (registered)
            workspace.addEntry(path, ApplicationEntry{identifier, entryName});
        const std::optional<ExcludedApp> record = ExcludedApp::fromPath(path, workspace);
        if (name.isEmpty()) {
            QVERIFY(!record);
            return;
        }
        QVERIFY(record);
        QCOMPARE(*record, (ExcludedApp{identifier, name, path}));
    }

    // Adding drops running copies at once; adding the same identifier again refreshes the
    // one record; removing brings the running copies back with fresh stamps.
    void addRefreshRemove() {
        EngineRig rig;
        rig.workspace.addEntry("/a/Mail.desktop", bundle("org.x.Mail", "Mail"));
        rig.workspace.addEntry("/b/Mail.desktop", bundle("org.x.Mail", "Mail 2"));
        const auto mail = rig.workspace.add({.name = "Mail", .applicationId = "org.x.Mail"});
        const auto other = rig.workspace.add({.name = "Other", .applicationId = "org.x.Other"});
        auto& engine = rig.startAndDrain();
        QSignalSpy published(&engine, &RunningAppsManager::excludedAppsChanged);

        QVERIFY(engine.addExcludedApp("/a/Mail.desktop"));
        QVERIFY(!rig.tracked(mail));
        QVERIFY(!engine.firstSeenApps().contains(mail));
        QVERIFY(rig.tracked(other));
        QVERIFY(!published.isEmpty());

        const auto refreshed = engine.addExcludedApp("/b/Mail.desktop");
        QCOMPARE(*refreshed, (ExcludedApp{"org.x.Mail", "Mail 2", "/b/Mail.desktop"}));
        QCOMPARE(engine.excludedApps(), QList<ExcludedApp>{*refreshed});
        QCOMPARE(engine.activeExcludedIdentifiers(), QSet<QString>{"org.x.Mail"});
        QVERIFY(!engine.addExcludedApp("/nowhere/Mail.desktop"));
        QCOMPARE(engine.excludedApps().size(), 1);

        // Not tracked again by a sweep while excluded.
        rig.sweepAfter(10);
        QVERIFY(!rig.tracked(mail));

        rig.clock.advance(50);
        engine.removeExcludedApp("org.x.Mail");
        QVERIFY(engine.excludedApps().isEmpty());
        QCOMPARE(rig.store->data(kExcludedKey), QByteArray("[]"));
        EngineRig::drain();
        QCOMPARE(rig.stamp(mail), rig.clock.now());
        QCOMPARE(engine.firstSeenApps().value(mail), rig.clock.now());
    }

    // Locale-aware, case-insensitive, stable: equal names keep their order.
    void exclusionsAreSortedByName() {
        EngineRig rig;
        const QStringList added{"beta", "Alpha", "gamma", "b", "B", "alpha"};
        for (int i = 0; i < added.size(); ++i) {
            const QString path = QStringLiteral("/apps/%1.desktop").arg(i);
            rig.workspace.addEntry(path, bundle(QStringLiteral("id%1").arg(i), added.at(i)));
        }
        auto& engine = rig.startAndDrain();
        for (int i = 0; i < added.size(); ++i)
            engine.addExcludedApp(QStringLiteral("/apps/%1.desktop").arg(i));
        const QStringList expected{"Alpha", "alpha", "b", "B", "beta", "gamma"};
        QCOMPARE(names(engine.excludedApps()), expected);

        auto reopened = rig.store.reopen();
        RunningAppsManager again(rig.workspace, *reopened, rig.clock);
        QCOMPARE(names(again.excludedApps()), expected);

        // A long list loaded at once: names equal but for case keep their stored order.
        QJsonArray stored;
        for (int i = 0; i < 40; ++i)
            stored.append(ExcludedApp{QString::number(i), i % 3 ? "dup" : "Dup", "/d"}.toJson());
        stored.append(ExcludedApp{"first", "a", "/a"}.toJson());
        rig.store->setData(kExcludedKey, QJsonDocument(stored).toJson());
        auto restarted = rig.store.reopen();
        RunningAppsManager loaded(rig.workspace, *restarted, rig.clock);
        QCOMPARE(loaded.excludedApps().first().bundleIdentifier, QString("first"));
        for (int i = 0; i < 40; ++i)
            QCOMPARE(loaded.excludedApps().at(i + 1).bundleIdentifier, QString::number(i));
    }
    // One bad element, or a blob of the wrong shape, loads as nothing at all; members may
    // come in any order and unknown ones are ignored. The next save keeps what could not be
    // read beside the collection instead of destroying it.
    void unreadableBlobsLoadAsNothing_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("blob");
        QTest::addColumn<int>("loaded");
        const QString ex = kExcludedKey;
        const QByteArray zed = R"({"bundleIdentifier":"b","name":"Zed","path":"/z"})";
        QTest::newRow("exclusions")
            << ex << "[" + zed + R"(,{"path":"/a","name":"Ant","bundleIdentifier":"a","x":1}])"
            << 2;
        QTest::newRow("missing path")
            << ex << "[" + zed + R"(,{"bundleIdentifier":"a","name":"Ant"}])" << 0;
        QTest::newRow("name not text")
            << ex << QByteArray(R"([{"bundleIdentifier":"a","name":3,"path":"/a"}])") << 0;
        QTest::newRow("object, not list") << ex << zed << 0;
        QTest::newRow("exclusions garbage") << ex << QByteArray("[{") << 0;
        QTest::newRow("toggles") << kToggleKey << QByteArray(R"({"A":true,"B":false})") << 2;
        QTest::newRow("toggle not boolean") << kToggleKey << QByteArray(R"({"A":true,"B":1})") << 0;
        QTest::newRow("toggles as list") << kToggleKey << QByteArray("[true]") << 0;
    }
    void unreadableBlobsLoadAsNothing() {
        QFETCH(QString, key);
        QFETCH(QByteArray, blob);
        QFETCH(int, loaded);
        EngineRig rig;
        rig.store->setData(key, blob);
        rig.workspace.addEntry("/c.desktop", bundle("c", "C"));
        auto& engine = rig.start();
        const bool toggles = key == kToggleKey;
        QCOMPARE(toggles ? engine.toggleStatus().size() : engine.excludedApps().size(), loaded);
        if (toggles)
            engine.setToggle("C", true);
        else
            engine.addExcludedApp("/c.desktop");
        const QJsonDocument saved = QJsonDocument::fromJson(*rig.store->data(key));
        QCOMPARE(toggles ? saved.object().size() : saved.array().size(), loaded + 1);
        const QString side = key + QStringLiteral(".unreadable");
        if (loaded == 0)
            QCOMPARE(rig.store->data(side), blob);
        else
            QVERIFY(!rig.store->contains(side));
        // A second save does not replace what was kept.
        if (toggles)
            engine.setToggle("C", false);
        else
            engine.removeExcludedApp("c");
        QCOMPARE(rig.store.reopen()->data(side),
                 loaded == 0 ? std::optional(blob) : std::optional<QByteArray>());
    }

    // Clearing stores "{}"; tracked apps then follow "newAppsEnabled", and only apps
    // registered afterwards get entries again.
    void clearPerAppToggles() {
        EngineRig rig;
        rig.workspace.add({.name = "Kept"});
        auto& engine = rig.startAndDrain();
        engine.setToggle("Kept", false);
        engine.clearPerAppToggles();
        QCOMPARE(rig.store->data(kToggleKey), QByteArray("{}"));
        QVERIFY(engine.toggleStatus().isEmpty());
        rig.store->setBoolean("newAppsEnabled", false);
        QCOMPARE(engine.toggleValue("Kept"), false);

        EngineRig::drain();
        rig.workspace.add({.name = "Later"});
        rig.sweepAfter(1);
        QCOMPARE(engine.toggleStatus(), (RunningAppsManager::ToggleMap{{"Later", false}}));
    }
};

QTEST_GUILESS_MAIN(TestExclusions)
#include "test_exclusions.moc"
