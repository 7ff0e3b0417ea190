// Runs one external program to completion and hands back its exit status and both outputs as text.
// Blocks the calling thread; no time limit. Throws only when the program cannot be started.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qw::Subprocess {

struct Result {
    // The exit code, or 128 + signal number for a program killed by a signal; -1 when the status
    // was lost (SIGCHLD ignored by the process), which never reads as success.
    int exitStatus = 0;
    std::string standardOutput;  // UTF-8, invalid sequences replaced by U+FFFD
    std::string standardError;

    bool succeeded() const { return exitStatus == 0; }
    // Trimmed standard error when not empty, else trimmed standard output.
    std::string message() const;
    bool operator==(const Result&) const = default;
};

class Failure : public std::runtime_error {
public:
    // "Could not run <executable>: <underlying>"
    Failure(std::string executable, std::string underlying);
    const std::string& executable() const { return executable_; }
    const std::string& underlying() const { return underlying_; }

private:
    std::string executable_;
    std::string underlying_;
};

using Environment = std::map<std::string, std::string>;

// `environment`, when given, replaces the inherited one entirely. `input`, when given, is fed to the
// program's standard input while its outputs are drained; otherwise standard input is inherited. The
// program gets no other descriptor of the caller's, and every signal at its default, none blocked.
Result run(const std::string& executable, const std::vector<std::string>& arguments,
           const std::optional<std::string>& input = std::nullopt,
           const std::optional<Environment>& environment = std::nullopt,
           const std::optional<std::filesystem::path>& currentDirectory = std::nullopt);

// As run(), with both outputs exactly the bytes the program wrote, not repaired to UTF-8: for text that
// is written back, such as a crontab.
Result runBytes(const std::string& executable, const std::vector<std::string>& arguments,
                const std::optional<std::string>& input = std::nullopt,
                const std::optional<Environment>& environment = std::nullopt,
                const std::optional<std::filesystem::path>& currentDirectory = std::nullopt);

}  // namespace qw::Subprocess
