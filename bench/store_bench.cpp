// The job scan over a sandbox machine: 2,000 job files (half XML, half binary) with 1,000 services loaded
// in the stand-in launchd, and 10,000 files with the same services, to show the scan is linear in the
// files. Also the comparison an unchanged rescan costs the store (it stores and signals nothing).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>

#include "Quillwick/store/JobIndex.h"
#include "helperkit/PlistFile.h"
#include "helperkit/Subprocess.h"
#include "helperkit/SystemPaths.h"

namespace {

namespace fs = std::filesystem;
using namespace qw;

constexpr int loadedServices = 1000;

// One laid machine per file count, kept for the whole run.
class Machine {
public:
    explicit Machine(int files) {
        char pattern[] = "/tmp/quillwick-bench-XXXXXX";
        if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
        folder_ = pattern;
        const auto laid = Subprocess::run(fs::path(QUILLWICK_SOURCE_DIR) / "sandbox/make-root",
                                          {folder_.string(), "--tools", (fs::path(QUILLWICK_BINARY_DIR) / "sandbox/bin").string()});
        if (!laid.succeeded()) throw std::runtime_error("make-root: " + laid.message());
        const auto laying = select();

        // Most jobs are the user's and the computer's agents; a tenth are daemons, loaded in the system domain.
        const std::array<JobDirectory, 5> folders = {JobDirectory::userAgents, JobDirectory::userAgents,
                                                     JobDirectory::globalAgents, JobDirectory::globalDaemons,
                                                     JobDirectory::systemAgents};
        for (const JobDirectory folder : JobDirectory::all()) fs::create_directories(folder.url());
        std::vector<std::string> gui = {"bootstrap", LaunchdDomain::currentGUI().description()};
        std::vector<std::string> system = {"bootstrap", "system"};
        for (int i = 0; i < files; ++i) {
            const JobDirectory folder = folders[static_cast<std::size_t>(i) % folders.size()];
            const std::string label = "com.example.bench.job" + std::to_string(i);
            PlistDictionary root{{"Label", PlistValue(label)},
                                 {"ProgramArguments", PlistValue::array({PlistValue("/usr/bin/true"), PlistValue("--n"),
                                                                         PlistValue(std::int64_t(i))})},
                                 {"StartInterval", PlistValue(std::int64_t(300 + i))},
                                 {"StandardOutPath", PlistValue("/tmp/" + label + ".log")}};
            const fs::path url = folder.url() / (label + ".plist");
            PlistFile(std::move(root), i % 2 ? PlistFormat::binary : PlistFormat::xml).write(url);
            if (i < loadedServices) (folder.isDaemon() ? system : gui).push_back(url.string());
        }
        for (const auto& arguments : {gui, system}) {
            const auto loaded = Subprocess::run(SystemPaths::current().launchctl().string(), arguments);
            if (!loaded.succeeded()) throw std::runtime_error("bootstrap: " + loaded.message());
        }
    }
    ~Machine() {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    static Machine& of(int files) {
        static std::map<int, std::unique_ptr<Machine>> machines;
        auto& machine = machines[files];
        if (!machine) machine = std::make_unique<Machine>(files);
        return *machine;
    }
    // Points the process at this machine for the caller's scope.
    std::unique_ptr<SystemPaths::Override> select() const {
        return std::make_unique<SystemPaths::Override>(SystemPaths::forRoot(folder_));
    }

private:
    fs::path folder_;
};

void BM_BuildIndex(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    auto selected = Machine::of(files).select();
    std::size_t jobs = 0;
    for (auto _ : state) {
        const JobIndex index = JobIndex::build();
        jobs = index.jobs.size();
        benchmark::DoNotOptimize(jobs);
    }
    state.counters["jobs"] = static_cast<double>(jobs);
    state.SetComplexityN(files);
}
BENCHMARK(BM_BuildIndex)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

// The folder part alone: reading and parsing every job file, without launchd's four runs.
void BM_ScanDirectories(benchmark::State& state) {
    auto selected = Machine::of(static_cast<int>(state.range(0))).select();
    for (auto _ : state) benchmark::DoNotOptimize(JobIndex::scanDirectories());
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ScanDirectories)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

// What an unchanged poll costs the store once the scan is done: one element-by-element comparison.
void BM_UnchangedRescanComparison(benchmark::State& state) {
    auto selected = Machine::of(static_cast<int>(state.range(0))).select();
    const JobIndex stored = JobIndex::build();
    const JobIndex rescanned = JobIndex::build();
    for (auto _ : state) {
        bool same = stored.jobs == rescanned.jobs && stored.duplicatedLabels == rescanned.duplicatedLabels &&
                    stored.unreadableDirectories == rescanned.unreadableDirectories;
        benchmark::DoNotOptimize(same);
        if (!same) state.SkipWithError("an unchanged machine scanned differently");
    }
}
BENCHMARK(BM_UnchangedRescanComparison)->Arg(2000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
