#pragma once

#include "engine/RunningAppsManager.h"
#include "support/FakeWorkspace.h"
#include "support/ManualClock.h"
#include "support/TempStore.h"

#include <QCoreApplication>

#include <memory>

// One engine on a fake workspace, a manual clock and a temporary store. Tests drive the
// tick and the sweep themselves and run posted work with drain(); the engine's own
// one-second timer never fires during a test because no event loop runs.
struct EngineRig {
    TempStore store;
    FakeWorkspace workspace;
    ManualClock clock;
    std::unique_ptr<RunningAppsManager> engine;

    RunningAppsManager& start() {
        engine = std::make_unique<RunningAppsManager>(workspace, *store, clock);
        return *engine;
    }
    // Starts the engine and lets its first registrations land.
    RunningAppsManager& startAndDrain() {
        start();
        drain();
        return *engine;
    }
    // Runs the work posted to the main queue (stamps), and nothing else.
    static void drain() { QCoreApplication::sendPostedEvents(); }

    // Moves the clock on and runs one sweep, then lets its registrations land.
    void sweepAfter(double seconds) {
        clock.advance(seconds);
        engine->checkOpenApps();
        drain();
    }

    bool tracked(const RunningApplication& app) const {
        return engine->runningApps().contains(app);
    }
    double stamp(const RunningApplication& app) const {
        return engine->runningApps().value(app, -1);
    }
};
