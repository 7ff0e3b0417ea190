#include "Quillwick/editing/model/KeepAliveChoice.h"

namespace qw::KeepAliveChoice {

std::string_view text(Mode mode) {
    switch (mode) {
    case Mode::never:
        return "Do not restart";
    case Mode::always:
        return "Always restart";
    case Mode::conditional:
        return "Restart when…";
    }
    return "";
}

std::optional<Mode> modeFromText(std::string_view text) {
    for (Mode m : allModes) {
        if (KeepAliveChoice::text(m) == text) return m;
    }
    return std::nullopt;
}

Mode mode(const KeepAlive& value) {
    if (value.isConditional()) return Mode::conditional;
    return value.isAlways() ? Mode::always : Mode::never;
}

KeepAlive valueFor(Mode mode) {
    switch (mode) {
    case Mode::never:
        return KeepAlive::never();
    case Mode::always:
        return KeepAlive::always();
    case Mode::conditional:
        break;
    }
    return KeepAlive::conditional({});
}

std::string_view text(Condition condition) {
    switch (condition) {
    case Condition::afterFailure:
        return "Restart only after it fails";
    case Condition::afterSuccess:
        return "Restart only after it finishes successfully";
    case Condition::afterCrash:
        return "Restart after a crash";
    case Condition::whileNetworkUp:
        return "Restart while the network is up";
    }
    return "";
}

bool isTicked(const KeepAlive& value, Condition condition) {
    if (!value.isConditional()) return false;
    const KeepAlive::Conditions& c = value.conditions();
    switch (condition) {
    case Condition::afterFailure:
        return c.successfulExit == false;
    case Condition::afterSuccess:
        return c.successfulExit == true;
    case Condition::afterCrash:
        return c.crashed == true;
    case Condition::whileNetworkUp:
        return c.networkState == true;
    }
    return false;
}

KeepAlive setting(const KeepAlive& value, Condition condition, bool on) {
    KeepAlive::Conditions c = value.isConditional() ? value.conditions() : KeepAlive::Conditions{};
    switch (condition) {
    case Condition::afterFailure:
        c.successfulExit = on ? std::optional<bool>(false) : std::nullopt;
        break;
    case Condition::afterSuccess:
        c.successfulExit = on ? std::optional<bool>(true) : std::nullopt;
        break;
    case Condition::afterCrash:
        c.crashed = on ? std::optional<bool>(true) : std::nullopt;
        break;
    case Condition::whileNetworkUp:
        c.networkState = on ? std::optional<bool>(true) : std::nullopt;
        break;
    }
    return KeepAlive::conditional(std::move(c));
}

bool hasUneditableConditions(const KeepAlive& value) {
    return value.isConditional() && (!value.conditions().pathState.empty() || !value.conditions().otherJobEnabled.empty());
}

}  // namespace qw::KeepAliveChoice
