// Opening the application chooser with many installed applications: building the list,
// laying it out and painting the first screenful, as a user waits for it. Most entries name
// an icon the theme lacks, as on a desktop full of Flatpaks and Wine shortcuts.
#include "support/FakeWorkspace.h"
#include "ui/ApplicationChooser.h"

#include <QApplication>

#include <benchmark/benchmark.h>

namespace {

// Each round names icons no round looked up before: the toolkit's icon cache starts cold,
// as at the first opening.
void BM_OpenChooser(benchmark::State& state) {
    FakeWorkspace workspace;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QList<InstalledApplication> apps;
        for (int i = 0; i < state.range(0); ++i)
            apps.append({QStringLiteral("/apps/app%1.desktop").arg(i),
                         QStringLiteral("Application %1").arg(i),
                         QStringLiteral("missing-icon-%1-%2").arg(round).arg(i % 50),
                         QStringLiteral("app%1").arg(i),
                         {QStringLiteral("Tool"), QStringLiteral("app%1").arg(i)}});
        workspace.setInstalled(apps);
        ++round;
        state.ResumeTiming();
        ApplicationChooser chooser(workspace);
        chooser.show();
        benchmark::DoNotOptimize(chooser.grab());
    }
}
BENCHMARK(BM_OpenChooser)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
