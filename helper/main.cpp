// QuillwickHelper: without arguments the launchd daemon behind the helper's socket; with
// `one-shot <request-file>` one request, its reply on standard output, and the exit status.
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "helper/HelperRequests.h"
#include "helper/HelperServer.h"
#include "helper/PrivilegedOperations.h"
#include "helperkit/HelperProtocol.h"
#include "helperkit/HelperSocket.h"
#include "helperkit/PeerRequirement.h"
#include "helperkit/SystemPaths.h"

namespace {

namespace fs = std::filesystem;

// Only the application beside this helper, run by root or an administrator (or, in a sandbox, by the
// sandbox's owner, who stands in for root there), with no code in it but its own, its bundle's and the
// system's.
qw::HelperSocket::PeerRequirement applicationRequirement() {
    qw::HelperSocket::PeerRequirement requirement;
    requirement.validateLibraries = true;
    if (const auto bundle = qw::SystemPaths::applicationBundle()) {
        requirement.executable = *bundle / "Contents" / "MacOS" / "Quillwick";
        requirement.bundle = *bundle;
    }
#ifdef QUILLWICK_SANDBOX
    // Tests name the program that stands in for the application; a real Mac build never reads this.
    if (const char* peer = std::getenv("QUILLWICK_HELPER_PEER");
        peer && *peer == '/' && qw::SystemPaths::current().isSandboxed())
        requirement.executable = peer;
#endif
    requirement.userAdmitted = qw::HelperSocket::mayUseHelper;
    return requirement;
}

// The helper acts as root for whoever runs the application it serves: if anyone but root could change
// that program, the helper's own, or a folder above either, they could put their own code in its place.
qw::HelperServer::Distrust distrustOf(std::vector<fs::path> programs) {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    programs.insert(programs.begin(), ec ? fs::path() : self);
    return [programs]() -> std::optional<std::string> {
        for (const fs::path& program : programs)
            if (program.empty())
                return "The helper acts for no one while it cannot tell its own executable.";
            else if (auto why = qw::HelperSocket::othersMayChange(program))
                return "The helper acts for no one while someone other than root can change it or Quillwick: " +
                       *why + ".";
        return std::nullopt;
    };
}

int runDaemon() {
    qw::HelperRequests::mainLog().info(
        fmt::format("starting as a launchd daemon on {}", qw::HelperService::machServiceName));
    auto requirement = applicationRequirement();
    if (requirement.executable.empty()) {
        qw::HelperRequests::mainLog().fault("not inside an application bundle; no peer could be checked");
        return 1;
    }
    std::vector<fs::path> served{requirement.bundle / "Contents" / "MacOS" / "Quillwick"};
    if (requirement.executable != served.front()) served.push_back(requirement.executable);
    qw::HelperServer server(qw::SystemPaths::current().helperSocket(), std::move(requirement), {},
                            distrustOf(std::move(served)));
    try {
        server.listen();
    } catch (const std::exception& error) {
        qw::HelperRequests::mainLog().fault(fmt::format("cannot listen: {}", error.what()));
        return 1;
    }
    server.serve();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    qw::HelperRequests::mainLog();
    ::umask(022);
    std::signal(SIGPIPE, SIG_IGN);
    // Unfinished frames are bounded by bytes held, which holds only while a freed frame buffer goes back
    // to the kernel: left to itself, malloc raises this threshold after the first free and keeps later
    // buffers in its arenas, so memory grew with every connection's half frame.
    ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);

    if (arguments.empty()) return runDaemon();
    if (arguments[0] != "one-shot") {
        std::fputs("QuillwickHelper: unknown argument\n", stderr);
        return 64;
    }
    if (arguments.size() != 2) {
        std::fputs("usage: QuillwickHelper one-shot <request-file>\n", stderr);
        return 64;
    }
    std::vector<fs::path> served;
    if (const auto bundle = qw::SystemPaths::applicationBundle()) served.push_back(*bundle / "Contents" / "MacOS" / "Quillwick");
    if (const auto why = distrustOf(std::move(served))()) {
        qw::HelperRequests::mainLog().error("refusing every request: " + qw::PrivilegedOperations::escapedForLog(*why));
        const std::string reply = qw::HelperResponse::failure(*why).jsonData();
        std::fwrite(reply.data(), 1, reply.size(), stdout);
        return 1;
    }
    const auto result = qw::HelperRequests::oneShot(arguments[1]);
    std::fwrite(result.output.data(), 1, result.output.size(), stdout);
    std::fflush(stdout);
    return result.exitStatus;
}
