// From making the application's services and main window to the demo machine's jobs listed in it,
// in this process under the offscreen platform. The program's own start adds the loader and the
// application object (reported once, as application_object_ms). Over the demo machine, and with
// 2,000 more job files in ~/Library/LaunchAgents, half of them loaded. "problems_ms" is when the
// sidebar's Problems count is in place as well.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QListView>
#include <QSignalSpy>

#include <map>
#include <memory>

#include "Quillwick/app/AppServices.h"
#include "Quillwick/app/ContentView.h"
#include "helperkit/PlistFile.h"
#include "support/SandboxRoot.h"

namespace {

using namespace qw;
namespace fs = std::filesystem;

std::unique_ptr<test::SandboxRoot> layMachine(int extraFiles) {
    auto root = std::make_unique<test::SandboxRoot>(test::SandboxRoot::Options{.demo = true});
    std::vector<std::string> bootstrap{"bootstrap", LaunchdDomain::currentGUI().description()};
    for (int i = 0; i < extraFiles; ++i) {
        const std::string label = "com.example.bench.job" + std::to_string(i);
        PlistDictionary plist{{"Label", PlistValue(label)},
                              {"ProgramArguments", PlistValue::array({PlistValue("/usr/bin/true"), PlistValue("--n"),
                                                                      PlistValue(std::int64_t(i))})},
                              {"StartInterval", PlistValue(std::int64_t(300 + i))}};
        const fs::path url = root->paths().userLaunchAgents() / (label + ".plist");
        PlistFile(std::move(plist), i % 2 ? PlistFormat::binary : PlistFormat::xml).write(url);
        if (i % 2 == 0)
            bootstrap.push_back(url.string());
    }
    if (bootstrap.size() > 2 && !root->launchctl(bootstrap).succeeded())
        throw std::runtime_error("bootstrap failed");
    return root;
}

void BM_ServicesAndWindowToListedJobs(benchmark::State& state) {
    const int extra = int(state.range(0));
    const auto root = layMachine(extra);
    double problems = 0;
    int rows = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        AppServices services;
        ContentView window(services);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.setFilter(JobFilter::Kind::all);
        QSignalSpy started(&window, &ContentView::startedUp);
        QSignalSpy scanned(&window, &ContentView::problemScanApplied);
        window.show();
        if (!started.wait(30000)) {
            state.SkipWithError("the window never started up");
            break;
        }
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        rows = window.findChild<QListView*>("jobListView")->model()->rowCount();
        if (scanned.count() == 0 && !scanned.wait(30000)) {
            state.SkipWithError("no problem scan");
            break;
        }
        problems += double(clock.nsecsElapsed()) / 1e6;
    }
    state.counters["rows"] = rows;
    state.counters["problems_ms"] = benchmark::Counter(problems, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ServicesAndWindowToListedJobs)
    ->Arg(0)
    ->Arg(2000)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

// The store's first scan alone, to tell the scan from the window's share of the time above.
void BM_FirstScanAlone(benchmark::State& state) {
    const auto root = layMachine(int(state.range(0)));
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        JobStore store;
        QFutureWatcher<void> scan;
        QSignalSpy done(&scan, &QFutureWatcher<void>::finished);
        scan.setFuture(store.refresh());
        if (!done.wait(30000)) {
            state.SkipWithError("the scan never finished");
            break;
        }
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
    }
}
BENCHMARK(BM_FirstScanAlone)->Arg(0)->Arg(2000)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QElapsedTimer clock;
    clock.start();
    QApplication application(argc, argv);
    const double applicationMs = double(clock.nsecsElapsed()) / 1e6;
    benchmark::Initialize(&argc, argv);
    benchmark::AddCustomContext("application_object_ms", std::to_string(applicationMs));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
