#include "helperkit/Subprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "support/SandboxRoot.h"

namespace qw {
namespace {

namespace fs = std::filesystem;

Subprocess::Result sh(const std::string& script, const std::optional<std::string>& input = std::nullopt) {
    return Subprocess::run("/bin/sh", {"-c", script}, input);
}

TEST(Subprocess, messageIsTrimmedStandardErrorElseTrimmedStandardOutput) {
    struct Case {
        std::string script;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {"printf '  it broke \\n\\n' >&2; exit 1", 1, "it broke"},
        {"printf '  done \\n'", 0, "done"},
        {"printf 'out'; printf ' \\t\\n' >&2", 0, "out"},
        {"printf 'out'; printf 'err' >&2; exit 3", 3, "err"},
        {"true", 0, ""},
        // Unicode white space and line breaks go too (U+00A0, U+2028, U+3000); inner ones stay.
        {"printf '\\302\\240 all\\302\\240done\\342\\200\\250\\n'", 0, "all\u00A0done"},
        {"printf 'out'; printf '\\343\\200\\200\\302\\205' >&2", 0, "out"},
        {"exit 255", 255, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const auto r = sh(c.script);
        EXPECT_EQ(r.exitStatus, c.status);
        EXPECT_EQ(r.succeeded(), c.status == 0);
        EXPECT_EQ(r.message(), c.message);
    }
}

TEST(Subprocess, programKilledBySignalReportsOneHundredTwentyEightPlusTheSignal) {
    EXPECT_EQ(sh("kill -TERM $$").exitStatus, 128 + SIGTERM);
    EXPECT_EQ(sh("kill -KILL $$").exitStatus, 128 + SIGKILL);
}

TEST(Subprocess, lostExitStatusIsNeverSuccess) {
    struct sigaction ignore {}, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGCHLD, &ignore, &previous);
    const auto r = sh("exit 0");
    sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_FALSE(r.succeeded());
    EXPECT_EQ(sh("exit 0").exitStatus, 0);
}

TEST(Subprocess, programsThatCannotStartThrowCouldNotRun) {
    test::TemporaryFolder folder;
    const fs::path plain = folder.path() / "not-executable";
    { std::ofstream(plain) << "#!/bin/sh\necho hi\n"; }
    fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
    const std::string missing = (folder.path() / "missing").string();
    for (const std::string& path : {missing, plain.string(), folder.path().string(), std::string("relative/tool")}) {
        SCOPED_TRACE(path);
        try {
            Subprocess::run(path, {});
            if (geteuid() == 0 && path == plain.string()) continue;  // root may still be refused; both are fine
            ADD_FAILURE() << "ran";
        } catch (const Subprocess::Failure& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Could not run " + path + ": ", 0), 0u) << e.what();
            EXPECT_EQ(e.executable(), path);
            EXPECT_FALSE(e.underlying().empty());
        }
    }
    EXPECT_THROW(Subprocess::run("/bin/true", {}, std::nullopt, std::nullopt, folder.path() / "no-such-folder"),
                 Subprocess::Failure);
}

TEST(Subprocess, environmentReplacesTheInheritedOneAndEmptyMeansNone) {
    ::setenv("QW_SUBPROCESS_PROBE", "inherited", 1);
    EXPECT_EQ(Subprocess::run("/usr/bin/env", {}, std::nullopt, Subprocess::Environment{}).standardOutput, "");
    EXPECT_EQ(Subprocess::run("/usr/bin/env", {}, std::nullopt, Subprocess::Environment{{"A", "1"}, {"B", "x=y"}})
                  .standardOutput,
              "A=1\nB=x=y\n");
    EXPECT_NE(Subprocess::run("/usr/bin/env", {}).standardOutput.find("QW_SUBPROCESS_PROBE=inherited"),
              std::string::npos);
    ::unsetenv("QW_SUBPROCESS_PROBE");
}

TEST(Subprocess, argumentsAndWorkingFolderArePassedAsGiven) {
    test::TemporaryFolder folder;
    const auto r = Subprocess::run("/bin/sh", {"-c", "pwd; printf '[%s]' \"$@\"", "sh", "a b", "", "*"}, std::nullopt,
                                   std::nullopt, folder.path());
    EXPECT_EQ(r.standardOutput, fs::canonical(folder.path()).string() + "\n[a b][][*]");
}

TEST(Subprocess, invalidUtf8BecomesReplacementCharacters) {
    const auto r = sh("printf 'a\\377b'; printf '\\300' >&2");
    EXPECT_EQ(r.standardOutput, "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(r.standardError, "\xEF\xBF\xBD");
}

TEST(Subprocess, severalMebibytesOnBothStreamsAtOnceDoNotStall) {
    constexpr int size = 6 << 20;
    const auto r = sh("head -c " + std::to_string(size) + " /dev/zero | tr '\\0' e >&2 & head -c " +
                      std::to_string(size) + " /dev/zero | tr '\\0' o; wait");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.standardOutput, std::string(size, 'o'));
    EXPECT_EQ(r.standardError, std::string(size, 'e'));
}

TEST(Subprocess, inputIsFedWhileOutputIsDrained) {
    std::string input;
    for (int i = 0; input.size() < (8u << 20); ++i) input += "line " + std::to_string(i) + "\n";
    const auto r = Subprocess::run("/bin/cat", {}, input);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.standardOutput.size(), input.size());
    EXPECT_TRUE(r.standardOutput == input);

    EXPECT_EQ(Subprocess::run("/bin/cat", {}, std::string()).standardOutput, "");
    // With input given, standard input is a pipe that ends: a reader finishes.
    EXPECT_EQ(sh("wc -c", std::string("12345")).message(), "5");
}

TEST(Subprocess, inputToAProgramThatAlreadyExitedOnlyEndsTheInput) {
    sigset_t before;
    pthread_sigmask(SIG_SETMASK, nullptr, &before);
    const std::string input(16 << 20, 'x');
    for (int i = 0; i < 5; ++i) {
        const auto r = Subprocess::run("/bin/true", {}, input);
        EXPECT_EQ(r.exitStatus, 0);
        EXPECT_EQ(sh("exit 4", input).exitStatus, 4);
    }
    // The caller is alive, nothing is left pending and its signal mask is as it was.
    sigset_t after, pending;
    pthread_sigmask(SIG_SETMASK, nullptr, &after);
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
    EXPECT_EQ(sigismember(&after, SIGPIPE), sigismember(&before, SIGPIPE));
}

TEST(Subprocess, childGetsDefaultSigpipeEvenWhenTheCallerBlocksIt) {
    // `yes` must die of SIGPIPE when `head` stops reading, or it would run forever.
    const auto r = sh("yes | head -n 3");
    EXPECT_EQ(r.standardOutput, "y\ny\ny\n");
}

TEST(Subprocess, programStartsWithOnlyTheStandardDescriptorsAndNoSignalIgnoredOrBlocked) {
    test::TemporaryFolder folder;
    // No close-on-exec, and numbered apart from whatever the shell opens itself.
    const int opened = ::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(opened, 0);
    const int leaky = ::fcntl(opened, F_DUPFD, 100);
    ::close(opened);
    ASSERT_GE(leaky, 100);
    struct sigaction ignore {}, previousTerm{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGTERM, &ignore, &previousTerm);
    sigset_t usr1, previousMask;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, &previousMask);

    const auto fds = sh("for fd in /proc/$$/fd/*; do echo \"${fd##*/}\"; done").standardOutput;
    const auto blocked = Subprocess::run("/bin/grep", {"SigBlk", "/proc/self/status"}).standardOutput;
    const auto term = sh("kill -TERM $$; sleep 5").exitStatus;

    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    ::close(leaky);
    EXPECT_EQ(fds.find(std::to_string(leaky) + "\n"), std::string::npos) << fds;
    EXPECT_EQ(blocked, "SigBlk:\t0000000000000000\n");
    EXPECT_EQ(term, 128 + SIGTERM);
}

// The inheritable descriptors of this process; the harness may pass some on by design.
std::set<std::string> inheritableDescriptors() {
    std::set<std::string> result;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC)) result.insert(std::to_string(fd));
    }
    return result;
}

TEST(Subprocess, twoThreadsRunAtOnceWithoutHoldingEachOthersPipes) {
    std::set<std::string> allowed = inheritableDescriptors();
    allowed.insert({"0", "1", "2"});
    int own = 0;  // the listing's own folder handle takes the lowest free number
    while (allowed.count(std::to_string(own))) ++own;
    allowed.insert(std::to_string(own));

    std::atomic<bool> busyDone{false};
    std::string busyOutput;
    std::thread busy([&] {
        // Keeps its pipes open for a while with big input in flight.
        const std::string input(32 << 20, 'z');
        for (int i = 0; i < 3; ++i) busyOutput = Subprocess::run("/bin/cat", {}, input).standardOutput;
        busyDone = true;
    });
    int runs = 0;
    std::string stray;
    do {
        const auto r = Subprocess::run("/bin/ls", {"/proc/self/fd"});
        ASSERT_EQ(r.exitStatus, 0) << r.message();
        std::istringstream lines(r.standardOutput);
        for (std::string fd; std::getline(lines, fd);)
            if (!allowed.count(fd)) stray += fd + " ";
        ++runs;
    } while (!busyDone || runs < 20);
    busy.join();
    EXPECT_EQ(stray, "");
    EXPECT_EQ(busyOutput.size(), 32u << 20);
}

}  // namespace
}  // namespace qw
