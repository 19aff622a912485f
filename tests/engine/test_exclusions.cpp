#include "EngineRig.h"
#include "engine/StoredCollections.h"
#include "support/Files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString kExcludedKey = QStringLiteral("com.Idlewatch.excludedApps");
const QString kToggleKey = QStringLiteral("com.Idlewatch.toggleStatus");

using BlobRow = std::tuple<QString, QByteArray, int, QByteArray>;

} // namespace

class TestExclusions : public QObject {
    Q_OBJECT
private slots:
    // A record names the entry's application; without a name, its file name.
    void recordFromPath() {
        const QString dir = QStringLiteral("/usr/share/applications/org.x.Tool.");
        const struct {
            QString suffix, identifier, entryName, name; // name empty: no record
            bool registered = true;
        } rows[] = {{"desktop", "org.x.Tool", "Werkzeug", "Werkzeug"},
                    {"DESKTOP", "org.x.Tool", "Werkzeug", "Werkzeug"},
                    {"desktop/", "org.x.Tool", "Werkzeug", "Werkzeug"},
                    {"desktop", "org.x.Tool", "", "org.x.Tool"},
                    {"app", "org.x.Tool", "Werkzeug", ""},
                    {"desktop", "org.x.Tool", "Werkzeug", "", false},
                    {"desktop", "", "Werkzeug", ""}};
        for (const auto& [suffix, identifier, entryName, name, registered] : rows) {
            FakeWorkspace workspace;
            if (registered)
                workspace.addEntry(dir + suffix, ApplicationEntry{identifier, entryName});
            const auto record = ExcludedApp::fromPath(dir + suffix, workspace);
            QCOMPARE(record, name.isEmpty()
                                 ? std::nullopt
                                 : std::optional(ExcludedApp{identifier, name, dir + suffix}));
        }
    }

    // Adding drops running copies at once, also from later sweeps; adding the same
    // identifier again refreshes the one record; removing brings the running copies back
    // with fresh stamps.
    void addRefreshRemove() {
        EngineRig rig;
        rig.workspace.addEntry("/a/Mail.desktop", {"org.x.Mail", "Mail"});
        rig.workspace.addEntry("/b/Mail.desktop", {"org.x.Mail", "Mail 2"});
        const auto mail = rig.workspace.add({.name = "Mail", .applicationId = "org.x.Mail"});
        const auto other = rig.workspace.add({.name = "Other", .applicationId = "org.x.Other"});
        auto& engine = rig.startAndDrain();
        QVERIFY(engine.addExcludedApp("/a/Mail.desktop"));
        QVERIFY(!rig.tracked(mail) && rig.firstSeen(mail) == -1 && rig.tracked(other));
        QVERIFY(engine.addExcludedApp("/b/Mail.desktop"));
        QVERIFY(!engine.addExcludedApp("/nowhere/Mail.desktop"));
        QCOMPARE(engine.excludedApps(),
                 (QList<ExcludedApp>{{"org.x.Mail", "Mail 2", "/b/Mail.desktop"}}));
        // As the next start reads them.
        QCOMPARE(RunningAppsManager(rig.workspace, *rig.store.reopen(), rig.clock).excludedApps(),
                 engine.excludedApps());
        rig.sweepAfter(10);
        QVERIFY(!rig.tracked(mail));

        rig.clock.advance(50);
        engine.removeExcludedApp("org.x.Mail");
        QCOMPARE(rig.store->data(kExcludedKey), QByteArray("[]"));
        EngineRig::drain();
        QVERIFY(rig.stamp(mail) == rig.clock.now() && rig.firstSeen(mail) == rig.clock.now());

        // Sorted locale-aware, case-insensitive, stable: equal names keep their order.
        for (const QString name : {"beta", "Alpha", "gamma", "b", "B", "alpha"}) {
            rig.workspace.addEntry("/" + name + ".desktop", {name, name});
            QVERIFY(engine.addExcludedApp("/" + name + ".desktop"));
        }
        QStringList names;
        for (const ExcludedApp& app : engine.excludedApps())
            names << app.name;
        QCOMPARE(names, QStringList({"Alpha", "alpha", "b", "B", "beta", "gamma"}));
    }

    // A bad element leaves the good ones in force; a blob of the wrong shape loads as
    // nothing. Members may come in any order and unknown ones are ignored. The next save
    // keeps what could not be read beside the collection, and a second save does not
    // replace it.
    void badEntriesAreKeptApart_data() {
        const QString ex = kExcludedKey;
        const QByteArray zed = R"({"bundleIdentifier":"b","name":"Zed","path":"/z"})";
        const QByteArray ant = R"({"bundleIdentifier":"a","name":"Ant"})";
        addRows<BlobRow>({
            {"exclusions",
             {ex, "[" + zed + R"(,{"path":"/a","name":"Ant","bundleIdentifier":"a","x":1}])", 2,
              ""}},
            {"missing path", {ex, "[" + zed + "," + ant + "]", 1, "[" + ant + "]"}},
            {"object, not list", {ex, zed, 0, zed}},
            {"toggles", {kToggleKey, R"({"A":true,"B":false})", 2, ""}},
            {"toggle not boolean", {kToggleKey, R"({"A":1,"B":false})", 1, R"({"A":1})"}},
            {"toggles as list", {kToggleKey, "[true]", 0, "[true]"}},
        });
    }
    void badEntriesAreKeptApart() {
        QFETCH(BlobRow, row);
        const auto& [key, blob, loaded, apart] = row;
        EngineRig rig;
        rig.store->setData(key, blob);
        rig.workspace.addEntry("/c.desktop", {"c", "C"});
        auto& engine = rig.start();
        const bool toggles = key == kToggleKey;
        QCOMPARE(toggles ? engine.toggleStatus().size() : engine.excludedApps().size(), loaded);
        // A protection that could be read still protects.
        QCOMPARE(toggles ? !engine.toggleValue("B")
                         : engine.activeExcludedIdentifiers().contains("b"),
                 loaded > 0);
        toggles ? engine.setToggle("C", true) : void(engine.addExcludedApp("/c.desktop"));
        const QJsonDocument saved = QJsonDocument::fromJson(*rig.store->data(key));
        QCOMPARE(toggles ? saved.object().size() : saved.array().size(), loaded + 1);
        toggles ? engine.setToggle("C", false) : engine.removeExcludedApp("c");
        QCOMPARE(rig.store.reopen()->data(key + ".unreadable"),
                 apart.isEmpty() ? std::nullopt : std::optional(apart));
    }

    // Two sessions of one user on one file, each changing its own entries for a while:
    // neither erases the other's choices, and each engine shows both.
    void twoSessionsKeepEachOthersChoices() {
        EngineRig rig;
        for (const char* id : {"x", "y"})
            rig.workspace.addEntry(QStringLiteral("/%1.desktop").arg(id), {id, id});
        rig.workspace.add({.name = "Mail"});
        auto other = rig.store.reopen();
        auto& mine = rig.startAndDrain();
        RunningAppsManager theirs(rig.workspace, *other, rig.clock);
        const auto settle = [&] { rig.store->flush(), other->flush(); };
        for (int i = 0; i < 20; ++i) {
            mine.setToggle(QStringLiteral("Mine %1").arg(i), i % 2);
            theirs.setToggle(QStringLiteral("Theirs %1").arg(i), i % 3);
            settle();
        }
        mine.addExcludedApp("/x.desktop");
        theirs.addExcludedApp("/y.desktop");
        settle();
        mine.setToggle("Mine 0", true);
        rig.store->flush();
        const RunningAppsManager restarted(rig.workspace, *rig.store.reopen(), rig.clock);
        QCOMPARE(restarted.toggleStatus().size(), 41);
        QVERIFY(restarted.toggleStatus().value("Mine 0") &&
                !restarted.toggleStatus().value("Theirs 0"));
        QCOMPARE(restarted.excludedApps().size(), 2);
        QCOMPARE(mine.toggleStatus(), restarted.toggleStatus());
        // The day each name was last seen running, for the store's size bound.
        QCOMPARE(StoredCollections::decodeLastSeen(*rig.store->data(Keys::toggleLastSeen.name)),
                 (QHash<QString, qint64>{{"Mail", qint64(rig.clock.now()) / 86400}}));
    }

    // The engine follows its collections when the file is edited by hand while it runs.
    void handEditsReachTheEngine() {
        EngineRig rig;
        auto& engine = rig.startAndDrain();
        const QString path = rig.store.path();
        rig.store->flush();
        const auto blob = [](const QByteArray& json) {
            return QJsonObject{{"data", QString::fromLatin1(json.toBase64())}};
        };
        // Without the file's wrapper, as a hand-written file may be.
        const QJsonObject values{
            {kToggleKey, blob(R"({"Mail":false})")},
            {kExcludedKey, blob(R"([{"bundleIdentifier":"m","name":"M","path":"/m"}])")}};
        QVERIFY(writeFile(path, QJsonDocument(values).toJson()));
        QTRY_COMPARE(engine.toggleStatus(), (RunningAppsManager::ToggleMap{{"Mail", false}}));
        QCOMPARE(engine.activeExcludedIdentifiers(), QSet<QString>{"m"});
    }
};

QTEST_GUILESS_MAIN(TestExclusions)
#include "test_exclusions.moc"
