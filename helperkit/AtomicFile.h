// Files that hold state are written aside in the same folder, flushed, then renamed into place, so a
// reader sees the old file or the new one, never half of either.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace qw {

// The name a replacement of the file `name` is written under beside it before it is renamed into place:
// hidden, ending in ".tmp", random, and never longer than the longest name a folder may hold, so that
// every file whose own name fits can be replaced.
std::string asideFileName(std::string_view name);

// Throws std::filesystem::filesystem_error. `mode` applies to the new file (default: 0644 less umask).
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, unsigned mode = 0644);

}  // namespace qw
