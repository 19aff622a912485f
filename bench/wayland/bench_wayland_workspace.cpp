// WaylandWorkspace with 50 foot terminals on a private headless sway.
//   BM_WorkspaceSweep  what the engine asks per sweep: list, identity, state, frontmost
//   BM_EngineSweep     RunningAppsManager::checkOpenApps over the same workspace
//   BM_ColdConnect     connecting and listing every toplevel from scratch, with the one
//                      read of sway's tree that names their processes
// Counters per iteration: "writes", messages sent on any socket (libwayland sends a batch of
// requests in one), and "ipc", connections opened (one per read of sway's tree).

#include "support/TempStore.h"
#include "support/WaylandSession.h"

#include "engine/Clock.h"
#include "engine/RunningAppsManager.h"
#include "platform/linux/DesktopEntryIndex.h"
#include "platform/wayland/WaylandWorkspace.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <dlfcn.h>
#include <sys/socket.h>

static std::atomic<quint64> g_writes{0};
static std::atomic<quint64> g_connects{0};

extern "C" ssize_t sendmsg(int fd, const struct msghdr* message, int flags) {
    using Real = ssize_t (*)(int, const struct msghdr*, int);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "sendmsg"));
    ++g_writes;
    return real(fd, message, flags);
}

extern "C" ssize_t send(int fd, const void* data, size_t size, int flags) {
    using Real = ssize_t (*)(int, const void*, size_t, int);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "send"));
    ++g_writes;
    return real(fd, data, size, flags);
}

extern "C" int connect(int fd, const struct sockaddr* address, socklen_t size) {
    using Real = int (*)(int, const struct sockaddr*, socklen_t);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "connect"));
    ++g_connects;
    return real(fd, address, size);
}

namespace {

constexpr int kClients = 50;
WaylandSession* g_session = nullptr;
DesktopEntryIndex* g_index = nullptr;

std::unique_ptr<WaylandWorkspace> connectWorkspace() {
    QString error;
    auto ws = WaylandWorkspace::connect(g_session->display(), &error, *g_index);
    if (!ws)
        fprintf(stderr, "%s\n", qPrintable(error));
    return ws;
}

void sweep(const WaylandWorkspace& ws) {
    for (const RunningApplication& app : ws.runningApplications()) {
        benchmark::DoNotOptimize(app.applicationId());
        benchmark::DoNotOptimize(app.displayName());
        benchmark::DoNotOptimize(app.isHidden());
        benchmark::DoNotOptimize(app.role());
        benchmark::DoNotOptimize(app.hasStarted());
    }
    benchmark::DoNotOptimize(ws.frontmostApplication());
}

// The counters since `writes` and `connects` were taken, per iteration.
void report(benchmark::State& state, quint64 writes, quint64 connects) {
    state.counters["writes"] =
        benchmark::Counter(double(g_writes - writes), benchmark::Counter::kAvgIterations);
    state.counters["ipc"] =
        benchmark::Counter(double(g_connects - connects), benchmark::Counter::kAvgIterations);
}

void BM_WorkspaceSweep(benchmark::State& state) {
    auto ws = connectWorkspace();
    sweep(*ws);
    const quint64 writes = g_writes, connects = g_connects;
    for (auto _ : state)
        sweep(*ws);
    state.counters["apps"] = double(ws->runningApplications().size());
    report(state, writes, connects);
}
BENCHMARK(BM_WorkspaceSweep)->Unit(benchmark::kMicrosecond);

void BM_EngineSweep(benchmark::State& state) {
    auto ws = connectWorkspace();
    TempStore store;
    SystemClock clock;
    RunningAppsManager engine(*ws, *store, clock);
    engine.checkOpenApps();
    QCoreApplication::processEvents();
    const quint64 writes = g_writes, connects = g_connects;
    for (auto _ : state) {
        engine.checkOpenApps();
        QCoreApplication::processEvents();
    }
    state.counters["tracked"] = double(engine.runningApps().size());
    report(state, writes, connects);
}
BENCHMARK(BM_EngineSweep)->Unit(benchmark::kMicrosecond);

void BM_ColdConnect(benchmark::State& state) {
    const quint64 writes = g_writes, connects = g_connects;
    for (auto _ : state) {
        auto ws = connectWorkspace();
        benchmark::DoNotOptimize(ws->runningApplications().size());
    }
    report(state, writes, connects);
}
BENCHMARK(BM_ColdConnect)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    WaylandSession session;
    if (!session.start()) {
        fprintf(stderr, "cannot start sway: %s\n", qPrintable(session.errorString()));
        return 1;
    }
    qputenv("SWAYSOCK", session.environment().value(QStringLiteral("SWAYSOCK")).toLocal8Bit());
    g_session = &session;
    DesktopEntryIndex index;
    g_index = &index;
    // Each terminal an application of its own, with a title that tells it apart.
    for (int i = 0; i < kClients; ++i) {
        const QString name = QStringLiteral("bench%1").arg(i);
        session.spawn({QStringLiteral("foot"), QStringLiteral("--app-id"), name,
                       QStringLiteral("--title"), name, QStringLiteral("sleep"),
                       QStringLiteral("3600")});
    }
    {
        auto ws = connectWorkspace();
        QDeadlineTimer deadline(60000);
        while (ws && ws->runningApplications().size() < kClients && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (!ws || ws->runningApplications().size() < kClients) {
            fprintf(stderr, "the clients did not all appear\n");
            return 1;
        }
        // Steady state: half a second in which the compositor sends nothing that makes the
        // workspace write or ask.
        quint64 seen = g_writes + g_connects;
        QDeadlineTimer quiet(500);
        while (!quiet.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            sweep(*ws);
            if (g_writes + g_connects != seen) {
                seen = g_writes + g_connects;
                quiet.setRemainingTime(500);
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
