#include "Quillwick/launchd/LaunchctlListEntry.h"

#include "Quillwick/launchd/LaunchctlOutput.h"
#include "helperkit/Text.h"

#include <charconv>

namespace qw {

namespace {

std::string_view trimBlanks(std::string_view s) { return Text::trimmed(s); }

std::optional<std::int32_t> pidField(std::string_view text) {
    text = trimBlanks(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    std::int32_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

// The next run of non-blank characters of rest, which then starts after it.
std::string_view nextField(std::string_view& rest) {
    const auto start = rest.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    auto end = rest.find_first_of(" \t", start);
    if (end == std::string_view::npos) end = rest.size();
    const auto field = rest.substr(start, end - start);
    rest.remove_prefix(end);
    return field;
}

}  // namespace

std::vector<LaunchctlListEntry> LaunchctlListEntry::parseDomainServices(std::string_view output) {
    std::vector<LaunchctlListEntry> entries;
    const auto domain = LaunchctlOutput::parseService(output);
    if (!domain) return entries;
    for (const auto& row : domain->itemList("services")) {
        std::string_view rest = row;
        const auto pidText = nextField(rest);
        const auto statusText = nextField(rest);
        const auto label = trimBlanks(rest);
        if (label.empty()) continue;
        LaunchctlListEntry entry;
        entry.label = std::string(label);
        if (const auto pid = pidField(pidText); pid && *pid != 0) entry.pid = pid;
        entry.lastExit = RuntimeState::ExitStatus::fromListStatus(statusText);
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<LaunchctlListEntry> LaunchctlListEntry::parse(std::string_view output) {
    std::vector<LaunchctlListEntry> entries;
    std::size_t start = 0;
    while (start <= output.size()) {
        auto end = output.find('\n', start);
        if (end == std::string_view::npos) end = output.size();
        const auto line = output.substr(start, end - start);
        start = end + 1;
        if (line.empty()) continue;

        const auto firstTab = line.find('\t');
        if (firstTab == std::string_view::npos) continue;
        const auto secondTab = line.find('\t', firstTab + 1);
        if (secondTab == std::string_view::npos) continue;
        const auto thirdTab = line.find('\t', secondTab + 1);
        const auto label = trimBlanks(line.substr(secondTab + 1, thirdTab == std::string_view::npos
                                                                     ? std::string_view::npos
                                                                     : thirdTab - secondTab - 1));
        if (label.empty() || label == "Label") continue;

        LaunchctlListEntry entry;
        entry.label = std::string(label);
        entry.pid = pidField(line.substr(0, firstTab));
        entry.lastExit = RuntimeState::ExitStatus::fromListStatus(line.substr(firstTab + 1, secondTab - firstTab - 1));
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::size_t LaunchctlListEntry::hash() const {
    std::size_t seed = std::hash<std::string>()(label);
    auto combine = [&seed](std::size_t v) { seed ^= v + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
    combine(pid.has_value());
    if (pid) combine(std::hash<std::int32_t>()(*pid));
    combine(lastExit.has_value());
    if (lastExit) combine(lastExit->hash());
    return seed;
}

}  // namespace qw
