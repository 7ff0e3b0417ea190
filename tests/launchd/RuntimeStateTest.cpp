#include "Quillwick/launchd/RuntimeState.h"

#include <gtest/gtest.h>

namespace qw {
namespace {

using ExitStatus = RuntimeState::ExitStatus;

const char* const kPrintOutput = R"(gui/501/com.example.backup = {
	active count = 0
	path = /Users/me/Library/LaunchAgents/com.example.backup.plist
	type = LaunchAgent
	state = not running

	program = /usr/local/bin/backup
	arguments = {
		/usr/local/bin/backup
		--quiet
	}

	working directory = /tmp
	stdout path = /tmp/backup.out
	stderr path = /tmp/backup.err
	inherited environment = {
		SSH_AUTH_SOCK => /private/tmp/com.apple.launchd.x/Listeners
	}

	default environment = {
		PATH => /usr/bin:/bin:/usr/sbin:/sbin
	}

	environment = {
		MODE => nightly
		XPC_SERVICE_NAME => com.example.backup
	}

	domain = gui/501 [100005]
	asid = 100005
	minimum runtime = 10
	exit timeout = 5
	runs = 3
	last exit code = 78: EX_CONFIG
	job state = exited
	immediate reason = inefficient

	properties = partial import | keepalive | penalty box | system service
}
)";

TEST(RuntimeState, printOutputFillsEveryField) {
    const auto state = RuntimeState::fromPrintOutput(kPrintOutput);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->path, "/Users/me/Library/LaunchAgents/com.example.backup.plist");
    EXPECT_EQ(state->type, "LaunchAgent");
    EXPECT_EQ(state->state, "not running");
    EXPECT_EQ(state->jobState, "exited");
    EXPECT_FALSE(state->managedBy);
    EXPECT_EQ(state->program, "/usr/local/bin/backup");
    EXPECT_EQ(state->arguments, (std::vector<std::string>{"/usr/local/bin/backup", "--quiet"}));
    EXPECT_EQ(state->workingDirectory, "/tmp");
    EXPECT_EQ(state->standardOutPath, "/tmp/backup.out");
    EXPECT_EQ(state->standardErrorPath, "/tmp/backup.err");
    EXPECT_EQ(state->environment.at("MODE"), "nightly");
    EXPECT_EQ(state->inheritedEnvironment.size(), 1u);
    EXPECT_EQ(state->defaultEnvironment.at("PATH"), "/usr/bin:/bin:/usr/sbin:/sbin");
    EXPECT_EQ(state->domain, "gui/501 [100005]");
    EXPECT_FALSE(state->pid);
    EXPECT_EQ(state->runs, 3);
    EXPECT_EQ(state->immediateReason, "inefficient");
    EXPECT_EQ(state->lastExit, ExitStatus::code(78, "EX_CONFIG"));
    EXPECT_EQ(state->properties,
              (std::vector<std::string>{"partial import", "keepalive", "penalty box", "system service"}));
    EXPECT_TRUE(state->isThrottled());
    ASSERT_TRUE(state->raw);
    EXPECT_EQ(state->raw->integer("asid"), 100005);

    EXPECT_FALSE(RuntimeState::fromPrintOutput(""));
    EXPECT_FALSE(RuntimeState::fromPrintOutput("Could not find service \"x\" in domain for user gui: 501"));
}

TEST(RuntimeState, lastExitCodeReading) {
    const std::pair<const char*, std::optional<ExitStatus>> cases[] = {
        {"(never exited)", ExitStatus::neverExited()},
        {"  ", ExitStatus::neverExited()},
        {"78: EX_CONFIG", ExitStatus::code(78, "EX_CONFIG")},
        {"0", ExitStatus::code(0)},
        {"+3", ExitStatus::code(3)},
        {"1:", ExitStatus::code(1)},
        {"1: ", ExitStatus::code(1)},
        {"1:  :x", ExitStatus::code(1, ":x")},
        {"::5:X", ExitStatus::code(5, "X")},
        {"-9", ExitStatus::signal(9)},
        {"-2147483647", ExitStatus::signal(2147483647)},
        {"-2147483648", std::nullopt},
        {"-9223372036854775808", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"::", std::nullopt},
        {" : : ", std::nullopt},
        {"abc", std::nullopt},
        {"+-1", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ExitStatus::fromLastExitCode(text), expected);
    }
    // A block under the key is no exit status at all.
    EXPECT_FALSE(RuntimeState::fromPrintOutput("s = {\n\tlast exit code = {\n\t}\n}")->lastExit);
}

TEST(RuntimeState, signalDeathIsTheLastExitWhenLaunchdPrintsNoExitCode) {
    const std::pair<const char*, std::optional<ExitStatus>> cases[] = {
        {"\tlast terminating signal = Segmentation fault: 11\n", ExitStatus::signal(11)},
        {"\tlast terminating signal = Killed: 9\n", ExitStatus::signal(9)},
        {"\tlast terminating signal = Killed\n", std::nullopt},
        {"\tlast terminating signal = Odd: -3\n", std::nullopt},
        {"\tlast exit code = 1\n\tlast terminating signal = Killed: 9\n", ExitStatus::code(1)},
    };
    for (const auto& [lines, expected] : cases) {
        SCOPED_TRACE(lines);
        const auto state = RuntimeState::fromPrintOutput(std::string("s = {\n\tstate = not running\n") + lines + "}\n");
        EXPECT_EQ(state->lastExit, expected);
    }
    EXPECT_EQ(RuntimeState::fromPrintOutput("s = {\n\tlast terminating signal = Segmentation fault: 11\n}")->summary(),
              "Not running — last exit killed by SIGSEGV");
}

TEST(RuntimeState, argumentsAreReadRawByTheirIndentation) {
    const auto state = RuntimeState::fromPrintOutput(
        "gui/501/x = {\n"
        "\targuments = {\n"
        "\t\t/bin/sh\n"
        "\t\t-c\n"
        "\t\t[ \"$X\" = y ] && echo a => b\n"
        "\t\t}\n"
        "\t\tif {\n"
        "\t\t\n"
        "\t\t  padded \t\n"
        "\t\t\tindented\n"
        "\t}\n"
        "\tpid = 42\n"
        "\truns = 3\n"
        "\tlast exit code = 1\n"
        "}\n");
    EXPECT_EQ(state->arguments, (std::vector<std::string>{"/bin/sh", "-c", "[ \"$X\" = y ] && echo a => b", "}", "if {", "",
                                                          "  padded \t", "\tindented"}));
    EXPECT_EQ(state->pid, 42);
    EXPECT_EQ(state->runs, 3);
    EXPECT_EQ(state->lastExit, ExitStatus::code(1));

    // Spaces where launchd writes tabs, and a block whose brace never comes.
    EXPECT_EQ(RuntimeState::fromPrintOutput("x = {\n    arguments = {\n        a = b\n    }\n    pid = 7\n}")->pid, 7);
    EXPECT_EQ(RuntimeState::fromPrintOutput("x = {\n\targuments = {\n\t\ta")->arguments, (std::vector<std::string>{"a"}));
}

TEST(RuntimeState, exitStatusFailureDescriptionAndExplanation) {
    struct Case {
        ExitStatus status;
        bool failure;
        const char* description;
        std::optional<std::string> explanation;
    };
    const Case cases[] = {
        {ExitStatus::code(0), false, "code 0", std::nullopt},
        {ExitStatus::code(1), true, "code 1", "The program reported a general failure."},
        {ExitStatus::code(78, "EX_CONFIG"), true, "code 78 (EX_CONFIG)",
         "The program's configuration is wrong — check its arguments and any config file it reads."},
        {ExitStatus::code(127), true, "code 127",
         "The program was not found at the path in Program or ProgramArguments."},
        {ExitStatus::code(3, ""), true, "code 3 ()", std::nullopt},
        {ExitStatus::signal(11), true, "killed by SIGSEGV", "The program crashed."},
        {ExitStatus::signal(10), true, "killed by SIGBUS", "The program crashed."},
        {ExitStatus::signal(7), true, "killed by signal 7", std::nullopt},
        {ExitStatus::signal(1), false, "killed by SIGHUP", std::nullopt},
        {ExitStatus::signal(2), false, "killed by SIGINT", std::nullopt},
        {ExitStatus::signal(9), false, "killed by SIGKILL",
         "The process was killed outright. For an on-demand agent this is routine — launchd reaps one that has "
         "been idle — and it also happens when the system reclaims memory."},
        {ExitStatus::signal(15), false, "killed by SIGTERM", "The program was asked to stop and did."},
        {ExitStatus::signal(6), true, "killed by SIGABRT", "The program aborted itself."},
        {ExitStatus::neverExited(), false, "never exited", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(c.status.isFailure(), c.failure);
        EXPECT_EQ(c.status.description(), c.description);
        EXPECT_EQ(c.status.explanation(), c.explanation);
    }
    EXPECT_NE(ExitStatus::code(78, "EX_CONFIG"), ExitStatus::code(78));
    EXPECT_NE(ExitStatus::code(9), ExitStatus::signal(9));
}

TEST(RuntimeState, summaryTakesTheFirstRuleThatApplies) {
    struct Case {
        const char* text;
        const char* summary;
    };
    const Case cases[] = {
        {"s = {\n\tpid = 42\n\tproperties = penalty box\n\tlast exit code = 1\n}", "Running (pid 42)"},
        {"s = {\n\tstate = waiting\n\tproperties = keepalive | penalty box\n\tlast exit code = 1\n}",
         "Waiting — launchd is throttling restarts after repeated failures"},
        {"s = {\n\tstate = waiting\n\tlast exit code = -11\n}", "Not running — last exit killed by SIGSEGV"},
        {"s = {\n\tstate = not running\n\tlast exit code = (never exited)\n}", "Not running"},
        {"s = {\n\tstate = running\n\tlast exit code = -15\n}", "Running"},
        {"s = {\n\tstate =\n}", ""},
        {"s = {\n}", "Not running"},
        // A pid that does not fit 32 bits reads as no pid.
        {"s = {\n\tpid = 4294967296\n}", "Not running"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto state = RuntimeState::fromPrintOutput(c.text);
        ASSERT_TRUE(state);
        EXPECT_EQ(state->summary(), c.summary);
    }
    EXPECT_EQ(RuntimeState::fromPrintOutput("s = {\n\tstate = not running\n}")->summary(), "Not running");
}

TEST(RuntimeState, propertiesDropEmptyPieces) {
    const auto state = RuntimeState::fromPrintOutput("s = {\n\tproperties = | a |  | b\t|\n}");
    EXPECT_EQ(state->properties, (std::vector<std::string>{"a", "b"}));
    EXPECT_FALSE(state->isThrottled());
}

}  // namespace
}  // namespace qw
