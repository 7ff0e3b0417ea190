#include "Quillwick/launchd/RuntimeState.h"

#include "helperkit/Text.h"

#include <charconv>
#include <limits>

#include <fmt/format.h>

namespace qw {

namespace {

std::string_view trimBlanks(std::string_view s) { return Text::trimmed(s); }

// A whole text that is a decimal integer with an optional sign; nothing when it does not fit.
std::optional<std::int64_t> signedDecimal(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

// A negative status is a signal; one whose number does not fit 32 bits is no status at all.
std::optional<RuntimeState::ExitStatus> statusFromNumber(std::int64_t n, std::optional<std::string> symbol) {
    if (n >= 0) return RuntimeState::ExitStatus::code(n, std::move(symbol));
    if (n < -std::int64_t(std::numeric_limits<std::int32_t>::max())) return std::nullopt;
    return RuntimeState::ExitStatus::signal(static_cast<std::int32_t>(-n));
}

void combine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

template <typename T>
void combineOptional(std::size_t& seed, const std::optional<T>& value) {
    combine(seed, value.has_value());
    if (value) combine(seed, std::hash<T>()(*value));
}

void combineMap(std::size_t& seed, const std::map<std::string, std::string>& map) {
    combine(seed, map.size());
    for (const auto& [k, v] : map) {
        combine(seed, std::hash<std::string>()(k));
        combine(seed, std::hash<std::string>()(v));
    }
}

void combineList(std::size_t& seed, const std::vector<std::string>& list) {
    combine(seed, list.size());
    for (const auto& s : list) combine(seed, std::hash<std::string>()(s));
}

}  // namespace

// MARK: ExitStatus

std::optional<RuntimeState::ExitStatus> RuntimeState::ExitStatus::fromLastExitCode(std::string_view text) {
    text = trimBlanks(text);
    if (text.empty() || text == "(never exited)") return neverExited();
    // Cut at the first ":" into at most two pieces, empty pieces dropped: leading colons vanish.
    const auto start = text.find_first_not_of(':');
    if (start == std::string_view::npos) return std::nullopt;
    text.remove_prefix(start);
    std::string_view first = text;
    std::optional<std::string> symbol;
    if (const auto colon = text.find(':'); colon != std::string_view::npos) {
        first = text.substr(0, colon);
        const auto rest = text.substr(colon + 1);
        if (!rest.empty()) symbol = std::string(trimBlanks(rest));
    }
    const auto number = signedDecimal(trimBlanks(first));
    if (!number) return std::nullopt;
    return statusFromNumber(*number, std::move(symbol));
}

std::optional<RuntimeState::ExitStatus> RuntimeState::ExitStatus::fromListStatus(std::string_view text) {
    text = trimBlanks(text);
    if (text == "-") return neverExited();
    const auto number = signedDecimal(text);
    if (!number) return std::nullopt;
    return statusFromNumber(*number, std::nullopt);
}

bool RuntimeState::ExitStatus::isFailure() const {
    switch (kind_) {
    case Kind::code: return number_ != 0;
    case Kind::signal: return number_ != 1 && number_ != 2 && number_ != 9 && number_ != 15;
    case Kind::neverExited: return false;
    }
    return false;
}

std::string RuntimeState::ExitStatus::signalName(std::int64_t number) {
    switch (number) {
    case 1: return "SIGHUP";
    case 2: return "SIGINT";
    case 3: return "SIGQUIT";
    case 4: return "SIGILL";
    case 5: return "SIGTRAP";
    case 6: return "SIGABRT";
    case 8: return "SIGFPE";
    case 9: return "SIGKILL";
    case 10: return "SIGBUS";
    case 11: return "SIGSEGV";
    case 12: return "SIGSYS";
    case 13: return "SIGPIPE";
    case 14: return "SIGALRM";
    case 15: return "SIGTERM";
    case 24: return "SIGXCPU";
    case 25: return "SIGXFSZ";
    default: return fmt::format("signal {}", number);
    }
}

std::string RuntimeState::ExitStatus::description() const {
    switch (kind_) {
    case Kind::code:
        if (symbol_) return fmt::format("code {} ({})", number_, *symbol_);
        return fmt::format("code {}", number_);
    case Kind::signal: return "killed by " + signalName(number_);
    case Kind::neverExited: return "never exited";
    }
    return {};
}

std::optional<std::string> RuntimeState::ExitStatus::explanation() const {
    if (kind_ == Kind::code) {
        switch (number_) {
        case 1: return "The program reported a general failure.";
        case 64: return "The program was given arguments it did not understand.";
        case 66: return "The program could not open an input file.";
        case 69: return "A service the program needs was unavailable.";
        case 71: return "The program hit an operating system error.";
        case 72: return "A file the program needs is missing.";
        case 73: return "The program could not create a file it needs.";
        case 74: return "The program hit an I/O error.";
        case 77: return "The program did not have permission.";
        case 78: return "The program's configuration is wrong — check its arguments and any config file it reads.";
        case 126: return "The program was found but could not be run — check that it is executable.";
        case 127: return "The program was not found at the path in Program or ProgramArguments.";
        default: return std::nullopt;
        }
    }
    if (kind_ == Kind::signal) {
        switch (number_) {
        case 6: return "The program aborted itself.";
        case 9:
            return "The process was killed outright. For an on-demand agent this is routine — launchd reaps one "
                   "that has been idle — and it also happens when the system reclaims memory.";
        case 10:
        case 11: return "The program crashed.";
        case 15: return "The program was asked to stop and did.";
        default: return std::nullopt;
        }
    }
    return std::nullopt;
}

std::size_t RuntimeState::ExitStatus::hash() const {
    std::size_t seed = static_cast<std::size_t>(kind_);
    combine(seed, std::hash<std::int64_t>()(number_));
    combineOptional(seed, symbol_);
    return seed;
}

// MARK: RuntimeState

RuntimeState::RuntimeState(const LaunchctlOutput::Block& block)
    : path(block.string("path")),
      type(block.string("type")),
      state(block.string("state")),
      jobState(block.string("job state")),
      managedBy(block.string("managed_by")),
      program(block.string("program")),
      arguments(block.itemList("arguments")),
      workingDirectory(block.string("working directory")),
      standardOutPath(block.string("stdout path")),
      standardErrorPath(block.string("stderr path")),
      environment(block.dictionary("environment")),
      inheritedEnvironment(block.dictionary("inherited environment")),
      defaultEnvironment(block.dictionary("default environment")),
      domain(block.string("domain")),
      runs(block.integer("runs")),
      immediateReason(block.string("immediate reason")),
      raw(block) {
    if (const auto p = block.integer("pid");
        p && *p >= std::numeric_limits<std::int32_t>::min() && *p <= std::numeric_limits<std::int32_t>::max())
        pid = static_cast<std::int32_t>(*p);
    if (const auto text = block.string("last exit code")) {
        lastExit = ExitStatus::fromLastExitCode(*text);
    } else if (const auto signal = block.string("last terminating signal"); signal && !block.value("last exit code")) {
        // launchd writes only this line for a job a signal ended ("Killed: 9"); the number is the signal.
        const auto colon = signal->rfind(':');
        const auto number = signedDecimal(trimBlanks(std::string_view(*signal).substr(colon == std::string::npos ? 0 : colon + 1)));
        if (number && *number > 0 && *number <= std::numeric_limits<std::int32_t>::max())
            lastExit = ExitStatus::signal(static_cast<std::int32_t>(*number));
    }
    if (const auto text = block.string("properties")) {
        std::string_view rest = *text;
        while (true) {
            const auto bar = rest.find('|');
            const auto piece = trimBlanks(rest.substr(0, bar));
            if (!piece.empty()) properties.emplace_back(piece);
            if (bar == std::string_view::npos) break;
            rest.remove_prefix(bar + 1);
        }
    }
}

std::optional<RuntimeState> RuntimeState::fromPrintOutput(std::string_view text) {
    auto block = LaunchctlOutput::parseService(text);
    if (!block) return std::nullopt;
    return RuntimeState(*block);
}

bool RuntimeState::isThrottled() const {
    for (const auto& p : properties)
        if (p == "penalty box") return true;
    return false;
}

std::string RuntimeState::summary() const {
    if (pid) return fmt::format("Running (pid {})", *pid);
    if (isThrottled()) return "Waiting — launchd is throttling restarts after repeated failures";
    if (lastExit && lastExit->isFailure()) return "Not running — last exit " + lastExit->description();
    if (state) {
        std::string text = *state;
        if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
        return text;
    }
    return "Not running";
}

std::size_t RuntimeState::hash() const {
    std::size_t seed = 0;
    combineOptional(seed, path);
    combineOptional(seed, type);
    combineOptional(seed, state);
    combineOptional(seed, jobState);
    combineOptional(seed, managedBy);
    combineOptional(seed, program);
    combineList(seed, arguments);
    combineOptional(seed, workingDirectory);
    combineOptional(seed, standardOutPath);
    combineOptional(seed, standardErrorPath);
    combineMap(seed, environment);
    combineMap(seed, inheritedEnvironment);
    combineMap(seed, defaultEnvironment);
    combineOptional(seed, domain);
    combineOptional(seed, pid);
    combineOptional(seed, runs);
    combineOptional(seed, immediateReason);
    combineOptional(seed, lastExit);
    combineList(seed, properties);
    combineOptional(seed, raw);
    return seed;
}

}  // namespace qw
