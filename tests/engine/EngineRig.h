#pragma once

#include "engine/RunningAppsManager.h"
#include "support/FakeWorkspace.h"
#include "support/ManualClock.h"
#include "support/TempStore.h"

#include <QCoreApplication>
#include <QTest>

#include <memory>
#include <tuple>

using Kind = FakeWorkspace::RequestKind;
using App = RunningApplication;

// One engine on a fake workspace, a manual clock and a temporary store. Tests drive the
// tick and the sweep themselves and run posted work with drain(); the engine's own
// one-second timer never fires during a test because no event loop runs.
struct EngineRig {
    TempStore store;
    FakeWorkspace workspace;
    ManualClock clock;
    // Given to the engine only when `idleSource` is set, as main gives the desktop's.
    ManualPresence presence{clock};
    bool idleSource = false;
    std::unique_ptr<RunningAppsManager> engine;

    // The idle timeout in minutes; 0 leaves the default.
    explicit EngineRig(qint64 minutes = 0) {
        if (minutes)
            store->setInteger("minutesUntilClose", minutes);
    }
    RunningAppsManager& start() {
        engine = std::make_unique<RunningAppsManager>(workspace, *store, clock,
                                                      idleSource ? &presence : nullptr);
        return *engine;
    }
    // Starts the engine and lets its first registrations land.
    RunningAppsManager& startAndDrain() { return start(), drain(), *engine; }
    // Runs the work posted to the main queue (stamps), and nothing else.
    static void drain() { QCoreApplication::sendPostedEvents(); }

    // Moves the clock on and runs one sweep, then lets its registrations land.
    void sweepAfter(double seconds) { clock.advance(seconds), engine->checkOpenApps(), drain(); }
    bool tracked(const App& app) const { return engine->runningApps().contains(app); }
    double stamp(const App& app) const { return engine->runningApps().value(app, -1); }
    double firstSeen(const App& app) const { return engine->firstSeenApps().value(app, -1); }
    QList<Kind> asked(const App& app) const { return workspace.requestsFor(app); }
};

// Every process holds `each` bytes.
class FakeMemory final : public MemoryUsage {
public:
    explicit FakeMemory(qint64 bytes)
        : each(bytes) {}
    qint64 each;
    std::optional<qint64> bytesOf(const QList<qint64>& pids) const override {
        return pids.size() * each;
    }
};

// Named data rows, each a tuple held in one column "row".
template <typename Row> void addRows(std::initializer_list<std::pair<const char*, Row>> rows) {
    QTest::addColumn<Row>("row");
    for (const auto& [name, row] : rows)
        QTest::newRow(name) << row;
}
