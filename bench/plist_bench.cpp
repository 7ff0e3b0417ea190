// Reading and writing 2,000 realistic job files in XML and binary, with our codec and with libplist.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "helperkit/PlistCodec.h"

#ifdef QUILLWICK_HAVE_LIBPLIST
#include <plist/plist.h>
#endif

namespace {

using qw::PlistArray;
using qw::PlistDictionary;
using qw::PlistValue;

struct Corpus {
    std::vector<PlistValue> values;
    std::vector<std::string> xml;
    std::vector<std::string> binary;
    std::size_t xmlBytes = 0, binaryBytes = 0;
};

std::string word(std::mt19937& rng, int min, int max) {
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz";
    std::string w(std::uniform_int_distribution<int>(min, max)(rng), 'a');
    for (char& c : w) c = letters[rng() % 26];
    return w;
}

PlistValue job(std::mt19937& rng, int scale) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const std::string label = "com." + word(rng, 4, 9) + "." + word(rng, 4, 12);
    PlistDictionary d;
    d.set("Label", label);
    PlistArray args{PlistValue("/usr/local/bin/" + word(rng, 4, 10))};
    for (int i = 0, n = pick(2, 4 + scale); i < n; ++i)
        args.emplace_back(pick(0, 1) ? "--" + word(rng, 3, 10) : "/Users/" + word(rng, 4, 8) + "/" + word(rng, 3, 12));
    d.set("ProgramArguments", PlistValue(std::move(args)));
    PlistDictionary env;
    for (int i = 0, n = pick(1, 3 + scale); i < n; ++i)
        env.set(word(rng, 3, 8) + "_" + word(rng, 2, 6), word(rng, 5, 30) + ":/usr/bin:/bin");
    d.set("EnvironmentVariables", PlistValue(std::move(env)));
    PlistArray calendar;
    for (int i = 0, n = pick(1, 2 + scale); i < n; ++i) {
        PlistDictionary when{{"Hour", pick(0, 23)}, {"Minute", pick(0, 59)}};
        if (pick(0, 1)) when.set("Weekday", pick(0, 6));
        calendar.emplace_back(std::move(when));
    }
    d.set("StartCalendarInterval", PlistValue(std::move(calendar)));
    d.set("KeepAlive", PlistValue::dictionary({{"SuccessfulExit", pick(0, 1) == 1},
                                               {"NetworkState", true},
                                               {"PathState", PlistValue::dictionary({{"/tmp/" + word(rng, 4, 9), true}})}}));
    d.set("RunAtLoad", pick(0, 1) == 1);
    d.set("ThrottleInterval", pick(5, 300));
    d.set("Nice", pick(-20, 20));
    d.set("ProcessType", "Background");
    d.set("WorkingDirectory", "/Users/" + word(rng, 4, 8) + "/Library/" + word(rng, 4, 12));
    d.set("StandardOutPath", "/tmp/" + label + ".out.log");
    d.set("StandardErrorPath", "/tmp/" + label + ".err.log");
    d.set("SoftResourceLimits", PlistValue::dictionary({{"NumberOfFiles", 4096}, {"Core", 0}}));
    d.set("ExitTimeOut", pick(10, 60));
    d.set("LowPriorityIO", true);
    return PlistValue(std::move(d));
}

#ifdef QUILLWICK_HAVE_LIBPLIST
// Our files must be valid for another reader: libplist reads each, writes it back as binary, and what it
// wrote must read as the value we started from.
void checkWithLibplist(const PlistValue& value, const std::string& xml, const std::string& binary) {
    for (bool isXml : {true, false}) {
        plist_t p = nullptr;
        if (isXml) plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &p);
        else plist_from_bin(binary.data(), static_cast<std::uint32_t>(binary.size()), &p);
        char* out = nullptr;
        std::uint32_t length = 0;
        if (p) plist_to_bin(p, &out, &length);
        bool same = false;
        try {
            same = out && qw::PlistCodec::read(std::string_view(out, length)).value == value;
        } catch (const qw::PlistParseError&) {
        }
        if (out) plist_to_bin_free(out);
        plist_free(p);
        if (!same) {
            std::fprintf(stderr, "libplist does not read our %s file back to the same value:\n%s\n",
                         isXml ? "XML" : "binary", xml.c_str());
            std::abort();
        }
    }
}
#endif

const Corpus& corpus() {
    static const Corpus c = [] {
        Corpus c;
        std::mt19937 rng(20261209);
#ifdef QUILLWICK_HAVE_LIBPLIST
        // What the generated jobs leave out: every other kind, text beyond ASCII, the integer extremes.
        const PlistValue kinds = PlistValue::dictionary({
            {"Greeting", "Grüße — “quoted” ☃ 𝄞"},
            {"Ratio", 0.1},
            {"When", qw::PlistDate{818517900}},
            {"Cookie", qw::PlistData{0, 1, 2, 255}},
            {"Extremes", PlistValue::array({std::numeric_limits<std::int64_t>::min(),
                                            std::numeric_limits<std::int64_t>::max(),
                                            std::numeric_limits<std::uint64_t>::max(), -1, 255, 65536})},
            {"Empty", PlistArray{}},
            {"EmptyDict", PlistDictionary{}},
        });
        checkWithLibplist(kinds, qw::PlistCodec::writeXml(kinds), qw::PlistCodec::writeBinary(kinds));
#endif
        while (c.values.size() < 2000) {
            // Grow each job until its XML lies between 1 and 4 KiB.
            const int scale = static_cast<int>(rng() % 14);
            PlistValue v = job(rng, scale);
            std::string xml = qw::PlistCodec::writeXml(v);
            if (xml.size() < 1024 || xml.size() > 4096) continue;
            c.xmlBytes += xml.size();
            c.binary.push_back(qw::PlistCodec::writeBinary(v));
#ifdef QUILLWICK_HAVE_LIBPLIST
            checkWithLibplist(v, xml, c.binary.back());
#endif
            c.binaryBytes += c.binary.back().size();
            c.xml.push_back(std::move(xml));
            c.values.push_back(std::move(v));
        }
        return c;
    }();
    return c;
}

void finish(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * corpus().values.size()));
}

void readXmlOurs(benchmark::State& state) {
    const Corpus& c = corpus();
    for (auto _ : state)
        for (const auto& bytes : c.xml) benchmark::DoNotOptimize(qw::PlistCodec::read(bytes));
    finish(state, c.xmlBytes);
}

void readBinaryOurs(benchmark::State& state) {
    const Corpus& c = corpus();
    for (auto _ : state)
        for (const auto& bytes : c.binary) benchmark::DoNotOptimize(qw::PlistCodec::read(bytes));
    finish(state, c.binaryBytes);
}

void writeXmlOurs(benchmark::State& state) {
    const Corpus& c = corpus();
    for (auto _ : state)
        for (const auto& v : c.values) benchmark::DoNotOptimize(qw::PlistCodec::writeXml(v));
    finish(state, c.xmlBytes);
}

void writeBinaryOurs(benchmark::State& state) {
    const Corpus& c = corpus();
    for (auto _ : state)
        for (const auto& v : c.values) benchmark::DoNotOptimize(qw::PlistCodec::writeBinary(v));
    finish(state, c.binaryBytes);
}

BENCHMARK(readXmlOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(readBinaryOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(writeXmlOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(writeBinaryOurs)->Unit(benchmark::kMillisecond);

#ifdef QUILLWICK_HAVE_LIBPLIST

std::vector<plist_t> libplistNodes() {
    std::vector<plist_t> nodes;
    for (const auto& bytes : corpus().binary) {
        plist_t p = nullptr;
        plist_from_bin(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &p);
        nodes.push_back(p);
    }
    return nodes;
}

void readXmlLibplist(benchmark::State& state) {
    const Corpus& c = corpus();
    for (auto _ : state)
        for (const auto& bytes : c.xml) {
            plist_t p = nullptr;
            plist_from_xml(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &p);
            benchmark::DoNotOptimize(p);
            plist_free(p);
        }
    finish(state, c.xmlBytes);
}

void readBinaryLibplist(benchmark::State& state) {
    const Corpus& c = corpus();
    for (auto _ : state)
        for (const auto& bytes : c.binary) {
            plist_t p = nullptr;
            plist_from_bin(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &p);
            benchmark::DoNotOptimize(p);
            plist_free(p);
        }
    finish(state, c.binaryBytes);
}

void writeXmlLibplist(benchmark::State& state) {
    const auto nodes = libplistNodes();
    for (auto _ : state)
        for (plist_t p : nodes) {
            char* out = nullptr;
            std::uint32_t length = 0;
            plist_to_xml(p, &out, &length);
            benchmark::DoNotOptimize(out);
            plist_to_xml_free(out);
        }
    for (plist_t p : nodes) plist_free(p);
    finish(state, corpus().xmlBytes);
}

void writeBinaryLibplist(benchmark::State& state) {
    const auto nodes = libplistNodes();
    for (auto _ : state)
        for (plist_t p : nodes) {
            char* out = nullptr;
            std::uint32_t length = 0;
            plist_to_bin(p, &out, &length);
            benchmark::DoNotOptimize(out);
            plist_to_bin_free(out);
        }
    for (plist_t p : nodes) plist_free(p);
    finish(state, corpus().binaryBytes);
}

BENCHMARK(readXmlLibplist)->Unit(benchmark::kMillisecond);
BENCHMARK(readBinaryLibplist)->Unit(benchmark::kMillisecond);
BENCHMARK(writeXmlLibplist)->Unit(benchmark::kMillisecond);
BENCHMARK(writeBinaryLibplist)->Unit(benchmark::kMillisecond);

#endif

}  // namespace

BENCHMARK_MAIN();
