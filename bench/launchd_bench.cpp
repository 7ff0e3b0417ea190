// launchctl readers and the job diagnostics: each parser at two input sizes (to show it is linear), and
// one diagnostics pass over 2,000 jobs whose file facts were gathered beforehand.
#include <benchmark/benchmark.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "Quillwick/launchd/JobDiagnostics.h"
#include "Quillwick/launchd/LaunchctlListEntry.h"
#include "Quillwick/launchd/LaunchctlOutput.h"
#include "Quillwick/launchd/RuntimeState.h"

namespace {

// A service description of about `bytes` bytes, shaped like launchctl's: scalars, key/value blocks
// and item blocks.
std::string printText(std::size_t bytes) {
    std::string text = "gui/501/com.example.big = {\n\tstate = running\n\tpid = 4242\n\tlast exit code = 78: EX_CONFIG\n";
    text += "\tproperties = keepalive | runatload | penalty box\n";
    for (int i = 0; text.size() < bytes; ++i) {
        const auto n = std::to_string(i);
        text += "\tkey " + n + " = value number " + n + "\n";
        text += "\tenvironment " + n + " = {\n\t\tPATH => /usr/bin:/bin:/usr/sbin:/sbin\n\t\tHOME => /Users/me\n\t}\n";
        text += "\targuments " + n + " = {\n\t\t/usr/local/bin/tool\n\t\t--flag\n\t}\n";
    }
    return text + "}\n";
}

std::string listText(int lines) {
    std::string text = "PID\tStatus\tLabel\n";
    for (int i = 0; i < lines; ++i) {
        const auto n = std::to_string(i);
        text += (i % 3 == 0 ? n : "-") + "\t" + (i % 5 == 0 ? "-9" : (i % 2 ? "0" : "-")) + "\tcom.example.job" + n + "\n";
    }
    return text;
}

void BM_ParsePrint(benchmark::State& state) {
    const auto text = printText(static_cast<std::size_t>(state.range(0)) * 1024);
    for (auto _ : state) {
        auto runtime = qw::RuntimeState::fromPrintOutput(text);
        benchmark::DoNotOptimize(runtime);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParsePrint)->Arg(100)->Arg(400)->Unit(benchmark::kMicrosecond);

void BM_ParseList(benchmark::State& state) {
    const auto text = listText(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto entries = qw::LaunchctlListEntry::parse(text);
        benchmark::DoNotOptimize(entries);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseList)->Arg(2000)->Arg(8000)->Unit(benchmark::kMicrosecond);

struct Machine {
    std::vector<qw::Job> jobs;
    std::vector<qw::Diagnostics::FileFacts> facts;
    std::unordered_set<std::string> duplicates{"com.example.job7", "com.example.job70"};
};

// A varied machine: healthy agents, daemons, failing and disabled jobs, typos, missing programs.
Machine machine(int count) {
    using qw::PlistValue;
    using ExitStatus = qw::RuntimeState::ExitStatus;
    Machine m;
    const qw::JobDirectory folders[] = {qw::JobDirectory::userAgents, qw::JobDirectory::globalAgents,
                                        qw::JobDirectory::globalDaemons, qw::JobDirectory::systemAgents,
                                        qw::JobDirectory::systemDaemons};
    for (int i = 0; i < count; ++i) {
        const auto label = "com.example.job" + std::to_string(i);
        const auto folder = folders[i % 5];
        qw::PlistDictionary root{{"Label", PlistValue(i % 17 == 0 ? label + ".other" : label)},
                                 {"ProgramArguments", PlistValue::array({"/usr/local/bin/tool", "--run"})},
                                 {"RunAtLoad", i % 4 != 0},
                                 {"StandardErrorPath", PlistValue("/tmp/logs/" + label + ".log")}};
        if (i % 6 == 0) root.set("KeepAlive", PlistValue::dictionary({{"SuccessfulExit", false}}));
        if (i % 9 == 0) root.set("Keepalive", true);
        if (i % 11 == 0) root.set("UserName", "nobody");
        if (i % 13 == 0) root.set("StartCalendarInterval", PlistValue::dictionary({{"Hour", 3}, {"Minute", 15}}));
        qw::JobDefinition definition(qw::PlistFile(std::move(root), qw::PlistFormat::xml),
                                     qw::JobLocation::forLabel(folder, label));
        std::optional<qw::LaunchctlListEntry> status;
        if (i % 7 != 0)
            status = qw::LaunchctlListEntry{label, i % 3 == 0 ? std::optional<std::int32_t>(100 + i) : std::nullopt,
                                            i % 8 == 0 ? ExitStatus::code(78, "EX_CONFIG") : ExitStatus::code(0)};
        m.jobs.push_back(qw::Job{label, std::move(definition), status, i % 19 == 0, folder});
        qw::Diagnostics::FileFacts facts;
        facts.plistExists = facts.plistIsReadable = facts.executableIsExecutable = true;
        facts.plistIsLooselyPermissioned = i % 23 == 0;
        facts.plistIsWronglyOwned = i % 29 == 0;
        facts.executableExists = i % 31 != 0;
        if (i % 37 == 0) facts.missingLogDirectories = {"/tmp/logs"};
        m.facts.push_back(std::move(facts));
    }
    return m;
}

void BM_DiagnoseJobs(benchmark::State& state) {
    const auto m = machine(static_cast<int>(state.range(0)));
    std::size_t issues = 0;
    for (auto _ : state) {
        issues = 0;
        for (std::size_t i = 0; i < m.jobs.size(); ++i)
            issues += qw::Diagnostics::issues(m.jobs[i], m.facts[i], m.duplicates).size();
        benchmark::DoNotOptimize(issues);
    }
    state.counters["issues"] = static_cast<double>(issues);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DiagnoseJobs)->Arg(500)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
