// Cost of one quit sweep against the number of tracked applications, in the steady state:
// quitting on, every application registered, none idle long enough to be quit.

#include "engine/RunningAppsManager.h"
#include "support/FakeWorkspace.h"
#include "support/ManualClock.h"
#include "support/TempStore.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

static void BM_checkOpenApps(benchmark::State& state) {
    const auto count = static_cast<int>(state.range(0));
    TempStore store;
    FakeWorkspace workspace;
    ManualClock clock;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("App %1").arg(i);
        workspace.add({.name = name, .applicationId = "org.example." + name});
    }
    workspace.activate(workspace.runningApplications().first());
    RunningAppsManager engine(workspace, *store, clock);
    QCoreApplication::sendPostedEvents();
    if (engine.runningApps().size() != count)
        state.SkipWithError("not every application was registered");

    // The clock stands still: however many iterations run, nothing becomes due.
    for (auto _ : state)
        engine.checkOpenApps();
    if (!workspace.requests().isEmpty() || engine.runningApps().size() != count)
        state.SkipWithError("the sweep quit or lost an application");
    state.SetComplexityN(count);
    state.counters["ns_per_app"] = benchmark::Counter(
        static_cast<double>(count),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_checkOpenApps)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

int main(int argc, char** argv) {
    // The engine owns a QTimer, which needs an application object.
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
