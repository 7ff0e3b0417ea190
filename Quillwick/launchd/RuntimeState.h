// RuntimeState: what "launchctl print" says about one service — its paths, state, process, environments,
// how it last ended and launchd's properties for it. ExitStatus is how a job last ended, with the
// plain-language reading the interface shows. Immutable, comparable values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Quillwick/launchd/LaunchctlOutput.h"

namespace qw {

struct RuntimeState {
    class ExitStatus {
    public:
        enum class Kind { code, signal, neverExited };

        static ExitStatus code(std::int64_t value, std::optional<std::string> symbol = std::nullopt) {
            return ExitStatus(Kind::code, value, std::move(symbol));
        }
        static ExitStatus signal(std::int32_t number) { return ExitStatus(Kind::signal, number, std::nullopt); }
        static ExitStatus neverExited() { return ExitStatus(Kind::neverExited, 0, std::nullopt); }

        // The "last exit code" text of a service block: "(never exited)", "78: EX_CONFIG", "-9".
        static std::optional<ExitStatus> fromLastExitCode(std::string_view text);
        // The status column of "launchctl list": "-", "0", "-9".
        static std::optional<ExitStatus> fromListStatus(std::string_view text);

        Kind kind() const { return kind_; }
        // The exit code (code) or the signal number (signal); 0 for neverExited.
        std::int64_t number() const { return number_; }
        const std::optional<std::string>& symbol() const { return symbol_; }

        // A non-zero code, or a signal other than SIGHUP, SIGINT, SIGKILL and SIGTERM.
        bool isFailure() const;
        std::optional<std::string> explanation() const;
        std::string description() const;  // "code 78 (EX_CONFIG)", "killed by SIGSEGV", "never exited"

        static std::string signalName(std::int64_t number);

        std::size_t hash() const;
        bool operator==(const ExitStatus&) const = default;

    private:
        ExitStatus(Kind kind, std::int64_t number, std::optional<std::string> symbol)
            : kind_(kind), number_(number), symbol_(std::move(symbol)) {}
        Kind kind_;
        std::int64_t number_;
        std::optional<std::string> symbol_;
    };

    RuntimeState() = default;
    explicit RuntimeState(const LaunchctlOutput::Block& block);
    // Nothing when the text holds no service block.
    static std::optional<RuntimeState> fromPrintOutput(std::string_view text);

    std::optional<std::string> path;
    std::optional<std::string> type;
    std::optional<std::string> state;
    std::optional<std::string> jobState;
    std::optional<std::string> managedBy;
    std::optional<std::string> program;
    std::vector<std::string> arguments;
    std::optional<std::string> workingDirectory;
    std::optional<std::string> standardOutPath;
    std::optional<std::string> standardErrorPath;
    std::map<std::string, std::string> environment;
    std::map<std::string, std::string> inheritedEnvironment;
    std::map<std::string, std::string> defaultEnvironment;
    std::optional<std::string> domain;
    std::optional<std::int32_t> pid;
    std::optional<std::int64_t> runs;
    std::optional<std::string> immediateReason;
    std::optional<ExitStatus> lastExit;
    std::vector<std::string> properties;
    std::optional<LaunchctlOutput::Block> raw;

    // "Running (pid 42)", the throttling text, "Not running — last exit …", the state, or "Not running".
    std::string summary() const;
    bool isThrottled() const;  // launchd keeps it in the "penalty box"

    std::size_t hash() const;
    bool operator==(const RuntimeState&) const = default;
};

}  // namespace qw

template <>
struct std::hash<qw::RuntimeState::ExitStatus> {
    std::size_t operator()(const qw::RuntimeState::ExitStatus& s) const noexcept { return s.hash(); }
};
template <>
struct std::hash<qw::RuntimeState> {
    std::size_t operator()(const qw::RuntimeState& s) const noexcept { return s.hash(); }
};
