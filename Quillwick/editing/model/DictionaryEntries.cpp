#include "Quillwick/editing/model/DictionaryEntries.h"

namespace qw::DictionaryEntries {

std::string nextNewKey(const Map& entries) {
    std::string candidate = "NEW_KEY";
    for (int n = 2; entries.contains(candidate); ++n) candidate = "NEW_KEY_" + std::to_string(n);
    return candidate;
}

std::optional<std::string> renameProblem(const Map& entries, const std::string& from, const std::string& to) {
    if (to.empty()) return "A key cannot be empty.";
    if (to != from && entries.contains(to)) return "There is already a key named “" + to + "”.";
    return std::nullopt;
}

Map renamed(Map entries, const std::string& from, const std::string& to) {
    if (from == to || renameProblem(entries, from, to) || !entries.contains(from)) return entries;
    auto node = entries.extract(from);
    node.key() = to;
    entries.insert(std::move(node));
    return entries;
}

}  // namespace qw::DictionaryEntries
