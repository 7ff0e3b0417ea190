// JobAction: the seven launchctl operations a user can start on one job from the browser.
#pragma once

#include <cstdint>

#include <QString>

namespace qw {

enum class JobAction : std::uint8_t { start, restart, stop, load, unload, enable, disable };

// The name shown to the user, and the runner's busy text while it runs.
QString title(JobAction action);

}  // namespace qw
