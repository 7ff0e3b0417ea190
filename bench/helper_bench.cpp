// The helper's socket round trip: a version request, and a write of a 4 KiB job file, from a connected
// client to an in-process helper server in a throw-away sandbox root.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "helper/HelperServer.h"
#include "helperkit/HelperProtocol.h"
#include "helperkit/HelperSocket.h"
#include "helperkit/SystemPaths.h"

namespace {

namespace fs = std::filesystem;

struct Machine {
    fs::path root;
    std::optional<qw::SystemPaths::Override> paths;
    std::optional<qw::HelperServer> server;
    std::thread serving;
    int client = -1;

    Machine() {
        std::string pattern = "/tmp/qw-bench-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        root = pattern;
        fs::create_directories(root / "var/run");
        fs::create_directories(root / "Library/LaunchDaemons");
        fs::permissions(root / "var/run", fs::perms(0755));
        paths.emplace(qw::SystemPaths::forRoot(root));
        server.emplace(qw::SystemPaths::current().helperSocket(),
                       qw::HelperSocket::PeerRequirement{fs::read_symlink("/proc/self/exe"), [](uid_t) { return true; }});
        server->listen();
        serving = std::thread([this] { server->serve(); });
        client = qw::HelperSocket::connectTo(qw::SystemPaths::current().helperSocket());
    }
    ~Machine() {
        ::close(client);
        server->stop();
        serving.join();
        server.reset();
        paths.reset();
        fs::remove_all(root);
    }

    qw::HelperResponse roundTrip(const std::string& request, qw::HelperSocket::FrameReader& reader) const {
        qw::HelperSocket::writeFrame(client, request);
        return qw::HelperResponse::fromJson(*qw::HelperSocket::readFrame(client, reader));
    }
};

void versionRoundTrip(benchmark::State& state) {
    Machine machine;
    qw::HelperSocket::FrameReader reader;
    const std::string request = qw::HelperRequest{}.jsonData();
    for (auto _ : state)
        if (!machine.roundTrip(request, reader).succeeded) state.SkipWithError("version refused");
}
BENCHMARK(versionRoundTrip)->Unit(benchmark::kMicrosecond);

void writeJobFile4KiB(benchmark::State& state) {
    Machine machine;
    qw::HelperSocket::FrameReader reader;
    std::string plist =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Label</key>"
        "<string>com.example.bench</string><key>Comment</key><string>";
    const std::string tail = "</string></dict></plist>\n";
    plist += std::string(4096 - plist.size() - tail.size(), 'x') + tail;
    qw::HelperRequest request;
    request.operation = qw::HelperRequest::Write{
        (machine.root / "Library/LaunchDaemons/com.example.bench.plist").string(), qw::Bytes(plist.begin(), plist.end())};
    request.reason = "save com.example.bench";
    const std::string bytes = request.jsonData();
    for (auto _ : state)
        if (!machine.roundTrip(bytes, reader).succeeded) state.SkipWithError("write refused");
}
BENCHMARK(writeJobFile4KiB)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
