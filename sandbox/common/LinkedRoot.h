// LinkedRoot: a stand-in tool run through a machine root's own link (ROOT/bin/launchctl,
// ROOT/usr/bin/crontab, …) belongs to that root, even when QUILLWICK_ROOT is not set.
#pragma once

#include <string_view>

namespace qw {

// When QUILLWICK_ROOT is unset or empty and `invokedAs` (argv[0], a path or a name found on PATH) is a
// symbolic link at `macPath` under some folder, sets QUILLWICK_ROOT to that folder, for this process
// and the programs it starts. Call before anything reads the machine's paths.
void adoptLinkedRoot(const char* invokedAs, std::string_view macPath);

}  // namespace qw
