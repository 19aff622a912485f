// X11Workspace with 50 real clients on a private Xvfb and openbox.
//   BM_WorkspaceSweep  what the engine asks per sweep: list, identity, state, frontmost
//   BM_EngineSweep     RunningAppsManager::checkOpenApps over the same workspace
//   BM_ColdConnect     connecting and loading every window's properties from scratch
// The "requests" counter is the X requests sent per iteration (steady state: zero).

#include "support/TempStore.h"
#include "support/X11Session.h"

#include "engine/Clock.h"
#include "engine/RunningAppsManager.h"
#include "platform/linux/DesktopEntryIndex.h"
#include "platform/x11/X11Workspace.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

constexpr int kClients = 50;
X11Session* g_session = nullptr;
DesktopEntryIndex* g_index = nullptr;

std::unique_ptr<X11Workspace> connectWorkspace() {
    QString error;
    auto ws = X11Workspace::connect(g_session->display(), &error, *g_index);
    if (!ws)
        fprintf(stderr, "%s\n", qPrintable(error));
    return ws;
}

void sweep(const X11Workspace& ws) {
    for (const RunningApplication& app : ws.runningApplications()) {
        benchmark::DoNotOptimize(app.applicationId());
        benchmark::DoNotOptimize(app.displayName());
        benchmark::DoNotOptimize(app.isHidden());
        benchmark::DoNotOptimize(app.role());
        benchmark::DoNotOptimize(app.hasStarted());
    }
    benchmark::DoNotOptimize(ws.frontmostApplication());
}

void BM_WorkspaceSweep(benchmark::State& state) {
    auto ws = connectWorkspace();
    sweep(*ws);
    const quint64 before = ws->requestCount();
    for (auto _ : state)
        sweep(*ws);
    state.counters["apps"] = double(ws->runningApplications().size());
    state.counters["requests"] =
        benchmark::Counter(double(ws->requestCount() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_WorkspaceSweep)->Unit(benchmark::kMicrosecond);

void BM_EngineSweep(benchmark::State& state) {
    auto ws = connectWorkspace();
    TempStore store;
    SystemClock clock;
    RunningAppsManager engine(*ws, *store, clock);
    engine.checkOpenApps();
    QCoreApplication::processEvents();
    const quint64 before = ws->requestCount();
    for (auto _ : state) {
        engine.checkOpenApps();
        QCoreApplication::processEvents();
    }
    state.counters["tracked"] = double(engine.runningApps().size());
    state.counters["requests"] =
        benchmark::Counter(double(ws->requestCount() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_EngineSweep)->Unit(benchmark::kMicrosecond);

void BM_ColdConnect(benchmark::State& state) {
    quint64 requests = 0;
    for (auto _ : state) {
        auto ws = connectWorkspace();
        benchmark::DoNotOptimize(ws->runningApplications().size());
        requests += ws->requestCount();
    }
    state.counters["requests"] =
        benchmark::Counter(double(requests), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ColdConnect)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    X11Session session;
    if (!session.start()) {
        fprintf(stderr, "cannot start the X11 session: %s\n", qPrintable(session.errorString()));
        return 1;
    }
    session.exportToCurrentProcess();
    g_session = &session;
    DesktopEntryIndex index;
    g_index = &index;
    for (int i = 0; i < kClients; ++i) {
        const QString name = QStringLiteral("bench%1").arg(i);
        session.spawn({QStringLiteral(TESTCLIENT_PATH), QStringLiteral("--class"),
                       name + QLatin1Char(',') + name.toUpper()});
    }
    {
        auto ws = connectWorkspace();
        QDeadlineTimer deadline(30000);
        while (ws && ws->runningApplications().size() < kClients && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (!ws || ws->runningApplications().size() < kClients) {
            fprintf(stderr, "the clients did not all appear\n");
            return 1;
        }
        // The window manager moves the focus for a while after the last client maps:
        // steady state is half a second without any change.
        quint64 seen = ws->requestCount();
        QDeadlineTimer quiet(500);
        while (!quiet.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            sweep(*ws);
            if (ws->requestCount() != seen) {
                seen = ws->requestCount();
                quiet.setRemainingTime(500);
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
