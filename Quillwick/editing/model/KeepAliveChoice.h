// The KeepAlive editor's logic: the three modes of its segmented control and what each checkbox does
// to the stored value. Every mode is a value of its own: "Restart when…" with nothing ticked is the
// conditional value with no condition set, which restarts on nothing.
#pragma once

#include <optional>
#include <string_view>

#include "Quillwick/launchd/KeepAlive.h"

namespace qw::KeepAliveChoice {

enum class Mode { never, always, conditional };
inline constexpr Mode allModes[] = {Mode::never, Mode::always, Mode::conditional};

std::string_view text(Mode mode);  // "Do not restart", "Always restart", "Restart when…"
std::optional<Mode> modeFromText(std::string_view text);

Mode mode(const KeepAlive& value);
// What choosing a mode stores: for the conditional mode, conditions with none set.
KeepAlive valueFor(Mode mode);

enum class Condition { afterFailure, afterSuccess, afterCrash, whileNetworkUp };
inline constexpr Condition allConditions[] = {Condition::afterFailure, Condition::afterSuccess, Condition::afterCrash,
                                              Condition::whileNetworkUp};
std::string_view text(Condition condition);
bool isTicked(const KeepAlive& value, Condition condition);
// Ticking sets the condition, unticking unsets it (never stores false); every other field passes
// through. Unticking the last condition leaves the conditional choice with none set, which launchd
// reads as "not restarted".
KeepAlive setting(const KeepAlive& value, Condition condition, bool on);
// PathState or OtherJobEnabled are set, which only the Source tab edits.
bool hasUneditableConditions(const KeepAlive& value);

}  // namespace qw::KeepAliveChoice
