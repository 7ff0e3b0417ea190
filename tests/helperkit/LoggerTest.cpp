#include "helperkit/Logger.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/SandboxRoot.h"

namespace qw {
namespace {

namespace fs = std::filesystem;

class LogFile {
public:
    LogFile() : path_(folder_.path() / "log.txt") { ::setenv("QUILLWICK_LOG_FILE", path_.c_str(), 1); }
    ~LogFile() { ::unsetenv("QUILLWICK_LOG_FILE"); }
    std::vector<std::string> lines() const {
        std::ifstream in(path_);
        std::vector<std::string> result;
        for (std::string line; std::getline(in, line);) result.push_back(line);
        return result;
    }

private:
    test::TemporaryFolder folder_;
    fs::path path_;
};

#ifdef QUILLWICK_SANDBOX

TEST(Logger, eachMessageIsOneLineWithTimeSubsystemCategoryAndLevel) {
    LogFile file;
    const Logger logger("com.tarnmoor.quillwick.helper", "privileged");
    logger.notice("wrote /Library/LaunchDaemons/a.plist (save a)");
    logger.error("refused\nforged line %s %n");
    logger.fault("bad \xFF byte");
    const auto lines = file.lines();
    ASSERT_EQ(lines.size(), 3u);
    const std::regex shape(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z com\.tarnmoor\.quillwick\.helper \[privileged\] (notice|error|fault): .*)");
    for (const auto& line : lines) EXPECT_TRUE(std::regex_match(line, shape)) << line;
    EXPECT_NE(lines[0].find("notice: wrote /Library/LaunchDaemons/a.plist (save a)"), std::string::npos);
    EXPECT_NE(lines[1].find("error: refused\\nforged line %s %n"), std::string::npos);
    EXPECT_NE(lines[2].find("fault: bad \xEF\xBF\xBD byte"), std::string::npos);
}

TEST(Logger, concurrentProcessesNeverInterleaveWithinALine) {
    LogFile file;
    constexpr int processes = 4, messages = 300;
    const std::string payload(2000, 'p');
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const Logger logger("com.tarnmoor.quillwick", "c" + std::to_string(p));
            for (int i = 0; i < messages; ++i) logger.info(payload);
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto lines = file.lines();
    EXPECT_EQ(lines.size(), std::size_t(processes * messages));
    for (const auto& line : lines) {
        ASSERT_GT(line.size(), payload.size());
        ASSERT_EQ(line.substr(line.size() - payload.size() - 6), "info: " + payload) << line.substr(0, 80);
    }
}

#endif

}  // namespace
}  // namespace qw
