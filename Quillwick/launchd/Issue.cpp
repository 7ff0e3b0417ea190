#include "Quillwick/launchd/Issue.h"

#include <algorithm>

namespace qw {

namespace {
void combine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}
}  // namespace

std::string Fix::title() const {
    switch (kind_) {
    case Kind::setLabelToFilename: return "Set Label to “" + payload_ + "”";
    case Kind::createDirectory: return "Create Folder";
    case Kind::repairPermissions: return "Repair Permissions";
    case Kind::load: return "Load";
    case Kind::enable: return "Enable";
    }
    return {};
}

std::size_t Fix::hash() const {
    std::size_t seed = static_cast<std::size_t>(kind_);
    combine(seed, std::hash<std::string>()(payload_));
    return seed;
}

std::optional<Issue::Severity> Issue::severityFromRawValue(int raw) {
    switch (raw) {
    case 0: return Severity::note;
    case 1: return Severity::warning;
    case 2: return Severity::error;
    default: return std::nullopt;
    }
}

std::string Issue::id() const { return std::to_string(static_cast<int>(severity)) + ":" + title; }

std::size_t Issue::hash() const {
    std::size_t seed = static_cast<std::size_t>(severity);
    combine(seed, std::hash<std::string>()(title));
    combine(seed, std::hash<std::string>()(explanation));
    combine(seed, fix.has_value());
    if (fix) combine(seed, fix->hash());
    return seed;
}

void sortBySeverity(std::vector<Issue>& issues) {
    std::stable_sort(issues.begin(), issues.end(),
                     [](const Issue& a, const Issue& b) { return a.severity > b.severity; });
}

}  // namespace qw
