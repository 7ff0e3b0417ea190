#include "Quillwick/launchd/LaunchdSchema.h"

namespace qw::LaunchdSchema {

namespace {

struct SectionText {
    std::string_view title;
    std::string_view summary;
};

constexpr std::array<SectionText, 9> sectionTexts = {{
    {"Identity", "What this job is called."},
    {"What Runs", "The program launchd starts, and who it runs as."},
    {"When It Runs", "What makes the job start, and whether it is restarted."},
    {"Environment", "Variables the program is given."},
    {"Input and Output", "Where the program's input comes from and its output goes."},
    {"Where It Runs", "Conditions that decide whether the job loads at all."},
    {"Resource Limits", "Kernel limits applied to the process."},
    {"Sockets and Services", "Sockets, Mach services and the XPC lifecycle."},
    {"Advanced", "Rarely needed, and easy to get wrong."},
}};

void combine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

void combine(std::size_t& seed, const std::string& text) { combine(seed, std::hash<std::string>()(text)); }

void combine(std::size_t& seed, const std::vector<std::string>& texts) {
    combine(seed, texts.size());
    for (const std::string& text : texts) combine(seed, text);
}

void combine(std::size_t& seed, const std::optional<std::string>& text) {
    combine(seed, text ? 1 : 0);
    if (text) combine(seed, *text);
}

}  // namespace

std::optional<Section> Section::fromRawValue(std::string_view raw) {
    for (Section section : allCases()) {
        if (section.rawValue() == raw) return section;
    }
    return std::nullopt;
}

std::string_view Section::rawValue() const { return sectionTexts[static_cast<std::size_t>(value_)].title; }

std::string_view Section::summary() const { return sectionTexts[static_cast<std::size_t>(value_)].summary; }

std::size_t Shape::hash() const {
    std::size_t seed = static_cast<std::size_t>(kind_);
    combine(seed, conditionKeys_);
    return seed;
}

std::size_t Key::hash() const {
    std::size_t seed = std::hash<std::string>()(name);
    combine(seed, shape.hash());
    combine(seed, static_cast<std::size_t>(section));
    combine(seed, summary);
    combine(seed, detail);
    combine(seed, static_cast<std::size_t>(applicability));
    combine(seed, conflicts);
    combine(seed, allowedValues ? 1 : 0);
    if (allowedValues) combine(seed, *allowedValues);
    combine(seed, isDeprecated ? 1 : 0);
    combine(seed, deprecationNote);
    combine(seed, isPrivate ? 1 : 0);
    return seed;
}

const std::map<std::string, Key, std::less<>>& keysByName() {
    static const std::map<std::string, Key, std::less<>> byName = [] {
        std::map<std::string, Key, std::less<>> map;
        for (const Key& key : allKeys()) map.emplace(key.name, key);
        return map;
    }();
    return byName;
}

const Key* key(std::string_view name) {
    const auto& byName = keysByName();
    auto found = byName.find(name);
    return found == byName.end() ? nullptr : &found->second;
}

std::span<const Key> keys(Section section) {
    // The catalogue lists each section in one run, so a section is a slice of it.
    static const std::array<std::size_t, 10> starts = [] {
        std::array<std::size_t, 10> offsets{};
        const auto& all = allKeys();
        std::size_t index = 0;
        for (std::size_t s = 0; s < 9; ++s) {
            offsets[s] = index;
            while (index < all.size() && static_cast<std::size_t>(all[index].section) == s) ++index;
        }
        offsets[9] = all.size();
        return offsets;
    }();
    const auto s = static_cast<std::size_t>(section);
    return std::span<const Key>(allKeys()).subspan(starts[s], starts[s + 1] - starts[s]);
}

const std::map<std::string, std::string, std::less<>>& typos() {
    static const std::map<std::string, std::string, std::less<>> table = {
        {"PosixSpawnType", "POSIXSpawnType"},
        {"EnablePressureExit", "EnablePressuredExit"},
        {"PressuredExit", "EnablePressuredExit"},
        {"NO_EnvironmentVariables", "NoEnvironmentVariables"},
        {"RunAtload", "RunAtLoad"},
        {"Keepalive", "KeepAlive"},
        {"StartCalendarIntervals", "StartCalendarInterval"},
        {"ProgramArgument", "ProgramArguments"},
        {"EnvironmentVariable", "EnvironmentVariables"},
        {"WorkingDirectoy", "WorkingDirectory"},
        {"StandardOutputPath", "StandardOutPath"},
        {"StandardErrPath", "StandardErrorPath"},
    };
    return table;
}

bool IntegerRange::contains(const PlistValue& number) const {
    const auto value = number.intValue();  // only numbers past the signed range have none, and they are above
    if (value && *value < lowest) return false;
    return !highest || (value && *value <= *highest);
}

std::string IntegerRange::text() const {
    if (highest) return "from " + std::to_string(lowest) + " to " + std::to_string(*highest);
    return std::to_string(lowest) + " or more";
}

std::optional<IntegerRange> integerRange(std::string_view key) {
    static const std::pair<std::string_view, IntegerRange> ranges[] = {
        {"StartInterval", {1, {}}}, {"ThrottleInterval", {0, {}}}, {"ExitTimeOut", {0, {}}},
        {"TimeOut", {0, {}}},       {"Nice", {-20, 20}},
    };
    for (const auto& [name, range] : ranges) {
        if (name == key) return range;
    }
    return std::nullopt;
}

}  // namespace qw::LaunchdSchema
