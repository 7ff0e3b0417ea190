// The dictionary editor's rules: the name a new entry gets, and whether a key may be renamed.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace qw::DictionaryEntries {

using Map = std::map<std::string, std::string>;

// "NEW_KEY", then "NEW_KEY_2", "NEW_KEY_3", …: the first the map does not hold.
std::string nextNewKey(const Map& entries);
// Why `to` cannot replace `from` (empty, or already a key), or nothing when it can.
std::optional<std::string> renameProblem(const Map& entries, const std::string& from, const std::string& to);
// The map with `from` renamed to `to`, its value kept; unchanged when the rename is refused.
Map renamed(Map entries, const std::string& from, const std::string& to);

}  // namespace qw::DictionaryEntries
