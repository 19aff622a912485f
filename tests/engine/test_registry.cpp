#include "EngineRig.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// How often the store was written under one key.
int writesOf(const QSignalSpy& spy, const QString& key) {
    int count = 0;
    for (const QList<QVariant>& call : spy)
        count += call.at(0).toString() == key;
    return count;
}

const QString kToggleKey = QStringLiteral("com.Idlewatch.toggleStatus");

} // namespace

class TestRegistry : public QObject {
    Q_OBJECT
private slots:
    // Creation loads both collections before registering, writes one toggle
    // entry per new name (saved once), and stamps every app with one time only after the
    // current work has finished.
    void creationLoadsThenRegistersWithOneTimeAndOneSave() {
        EngineRig rig;
        rig.store->setData(kToggleKey, R"({"Editor":true})"); // never overwritten
        rig.store->setData("com.Idlewatch.excludedApps",
                           R"([{"bundleIdentifier":"org.x.Hidden","name":"Hidden","path":"/h"}])");
        rig.store->setBoolean("newAppsEnabled", false);
        for (int i = 0; i < 10; ++i)
            rig.workspace.add({.name = QStringLiteral("App %1").arg(i % 4)});
        const auto editor = rig.workspace.add({.name = "Editor"});
        const auto nameless = rig.workspace.add({});
        const auto excluded =
            rig.workspace.add({.name = "Hidden", .applicationId = "org.x.Hidden"});
        QSignalSpy writes(&rig.store.store(), &UserDefaults::changed);

        auto& engine = rig.start();
        const double created = rig.clock.now();
        QVERIFY(engine.runningApps().isEmpty()); // nothing lands before the posted work runs
        QCOMPARE(writesOf(writes, kToggleKey), 1);
        const RunningAppsManager::ToggleMap expected{{"Editor", true},
                                                     {"App 0", false},
                                                     {"App 1", false},
                                                     {"App 2", false},
                                                     {"App 3", false}};
        QCOMPARE(engine.toggleStatus(), expected);

        rig.clock.advance(30);
        EngineRig::drain();
        QCOMPARE(engine.runningApps().size(), 12);
        for (const auto& app : engine.runningApps().keys()) {
            QCOMPARE(engine.runningApps().value(app), created);
            QCOMPARE(engine.firstSeenApps().value(app), created);
        }
        QVERIFY(rig.tracked(editor) && rig.tracked(nameless) && !rig.tracked(excluded));

        // A restarted engine reads back the same toggles.
        auto reopened = rig.store.reopen();
        RunningAppsManager again(rig.workspace, *reopened, rig.clock);
        QCOMPARE(again.toggleStatus(), expected);
    }

    void blockedRule_data() {
        QTest::addColumn<std::optional<QString>>("identifier");
        QTest::addColumn<int>("policy");
        QTest::addColumn<bool>("hidden");
        QTest::addColumn<bool>("ignoreHidden");
        QTest::addColumn<std::optional<QString>>("ownIdentifier");
        QTest::addColumn<bool>("blocked");
        using S = std::optional<QString>;
        const S own = QStringLiteral("com.Idlewatch.Idlewatch");
        const S plain = QStringLiteral("org.x.Plain");
        const int regular = int(ActivationPolicy::Regular);
        QTest::newRow("regular app") << plain << regular << false << false << own << false;
        QTest::newRow("hidden, not ignored") << plain << regular << true << false << own << false;
        QTest::newRow("hidden, ignored") << plain << regular << true << true << own << true;
        QTest::newRow("accessory")
            << plain << int(ActivationPolicy::Accessory) << false << false << own << true;
        QTest::newRow("prohibited")
            << plain << int(ActivationPolicy::Prohibited) << false << false << own << true;
        QTest::newRow("ourselves") << own << regular << false << false << own << true;
        QTest::newRow("no identifier") << S() << regular << false << false << own << false;
        QTest::newRow("neither has an identifier")
            << S() << regular << false << false << S() << true;
        QTest::newRow("excluded") << S("org.x.Excluded") << regular << false << false << own
                                  << true;
        QTest::newRow("excluded, other case")
            << S("org.x.EXCLUDED") << regular << false << false << own << false;
    }
    // The rule decides registration and the deactivation stamp alike.
    void blockedRule() {
        QFETCH(std::optional<QString>, identifier);
        QFETCH(int, policy);
        QFETCH(bool, hidden);
        QFETCH(bool, ignoreHidden);
        QFETCH(std::optional<QString>, ownIdentifier);
        QFETCH(bool, blocked);
        EngineRig rig;
        rig.store->setBoolean("ignoreHiddenApps", ignoreHidden);
        rig.store->setData("com.Idlewatch.excludedApps",
                           R"([{"bundleIdentifier":"org.x.Excluded","name":"E","path":"/e"}])");
        rig.workspace.setOwnApplicationId(ownIdentifier);
        const auto app = rig.workspace.add({.name = "Subject",
                                            .applicationId = identifier,
                                            .policy = ActivationPolicy(policy),
                                            .hidden = hidden});
        auto& engine = rig.startAndDrain();
        QCOMPARE(engine.isBlockedApp(app), blocked);
        QCOMPARE(rig.tracked(app), !blocked);

        // Drop it from the registry and let a deactivation try to bring it back.
        engine.setRunningApps({});
        const auto other = rig.workspace.add({.name = "Other"});
        rig.workspace.activate(app);
        rig.workspace.activate(other);
        EngineRig::drain();
        QCOMPARE(rig.tracked(app), !blocked);
    }

    // A → B stamps A with the time the posted work runs; B is not stamped by the event. An
    // app never registered enters without a first-seen time or a toggle entry.
    void deactivationStampsTheAppThatLeft() {
        EngineRig rig;
        const auto a = rig.workspace.add({.name = "A"});
        auto& engine = rig.startAndDrain();
        const double registered = rig.clock.now();
        const auto b = rig.workspace.add({.name = "B"}); // not registered yet

        rig.workspace.activate(b);
        rig.workspace.activate(a); // B leaves
        rig.clock.advance(5);
        QVERIFY(!rig.tracked(b));
        EngineRig::drain();
        QCOMPARE(rig.stamp(b), rig.clock.now());
        QVERIFY(!engine.firstSeenApps().contains(b));
        QVERIFY(!engine.toggleStatus().contains("B"));
        QCOMPARE(rig.stamp(a), registered);

        rig.clock.advance(5);
        rig.workspace.activate(b); // A leaves
        EngineRig::drain();
        QCOMPARE(rig.stamp(a), rig.clock.now());
        QCOMPARE(rig.stamp(b), rig.clock.now() - 5);

        // A handle naming no application is ignored.
        const auto before = engine.runningApps();
        emit rig.workspace.didDeactivateApplication(RunningApplication());
        EngineRig::drain();
        QCOMPARE(engine.runningApps(), before);
    }

    // Registration stamps land after the work that produced them; a second call made
    // before they land wins with its own time.
    void registrationStampsLandAfterTheCurrentWork() {
        EngineRig rig;
        rig.store->setInteger("minutesUntilClose", 1);
        auto& engine = rig.startAndDrain();
        const auto app = rig.workspace.add({.name = "New"});

        rig.clock.advance(100);
        engine.checkOpenApps();
        QVERIFY(!rig.tracked(app)); // not even a candidate in the sweep that found it
        rig.clock.advance(10);
        engine.addCurrentRunningApps();
        EngineRig::drain();
        QCOMPARE(rig.stamp(app), rig.clock.now());
        QCOMPARE(engine.firstSeenApps().value(app), rig.clock.now());
        QVERIFY(rig.workspace.requests().isEmpty());
    }

    void logMessages() {
        QLoggingCategory::setFilterRules(
            QStringLiteral("com.Idlewatch.Idlewatch.RunningAppsManager.debug=true"));
        {
            EngineRig rig;
            const auto named = rig.workspace.add({.name = "Named"});
            const auto nameless = rig.workspace.add({});
            QTest::ignoreMessage(QtDebugMsg, "Init");
            rig.startAndDrain();
            rig.workspace.activate(named);
            QTest::ignoreMessage(QtDebugMsg, "didDeactivate: Named");
            rig.workspace.activate(nameless);
            QTest::ignoreMessage(QtDebugMsg, "didDeactivate: Unknown");
            rig.workspace.activate(named);
            QTest::ignoreMessage(QtDebugMsg, "checkOpenApps");
            rig.engine->checkOpenApps();
            QTest::ignoreMessage(QtDebugMsg, "RunningAppsManager is being deallocated");
        }
        QLoggingCategory::setFilterRules(QString());
    }
};

QTEST_GUILESS_MAIN(TestRegistry)
#include "test_registry.moc"
