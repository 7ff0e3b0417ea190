#include "Quillwick/launchd/KeepAlive.h"

#include <string_view>
#include <vector>

namespace qw {

namespace {

void combine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

void combine(std::size_t& seed, const std::optional<bool>& value) {
    combine(seed, value ? 1 : 0);
    if (value) combine(seed, *value ? 1 : 0);
}

void combine(std::size_t& seed, const std::map<std::string, bool>& map) {
    combine(seed, map.size());
    for (const auto& [key, value] : map) {
        combine(seed, std::hash<std::string>()(key));
        combine(seed, value ? 1 : 0);
    }
}

std::optional<bool> readFlag(const PlistDictionary& dictionary, std::string_view key) {
    const PlistValue* value = dictionary.find(key);
    return value ? value->boolValue() : std::nullopt;
}

std::map<std::string, bool> readFlags(const PlistDictionary& dictionary, std::string_view key) {
    std::map<std::string, bool> flags;
    const PlistValue* value = dictionary.find(key);
    if (!value || !value->dictionaryValue()) return flags;
    for (const auto& [name, entry] : *value->dictionaryValue()) {
        if (auto flag = entry.boolValue()) flags[name] = *flag;
    }
    return flags;
}

PlistValue flagsValue(const std::map<std::string, bool>& flags) {
    PlistDictionary dictionary;
    for (const auto& [name, flag] : flags) dictionary.set(name, PlistValue(flag));
    return PlistValue(std::move(dictionary));
}

}  // namespace

std::size_t KeepAlive::Conditions::hash() const {
    std::size_t seed = 0;
    combine(seed, successfulExit);
    combine(seed, crashed);
    combine(seed, afterInitialDemand);
    combine(seed, networkState);
    combine(seed, pathState);
    combine(seed, otherJobEnabled);
    return seed;
}

KeepAlive KeepAlive::fromPlistValue(const PlistValue* value) {
    if (!value) return never();
    switch (value->kind()) {
    case PlistValue::Kind::boolean:
    case PlistValue::Kind::integer:
        return value->boolValue().value_or(false) ? always() : never();
    case PlistValue::Kind::dictionary: {
        const PlistDictionary& dictionary = *value->dictionaryValue();
        Conditions conditions;
        conditions.successfulExit = readFlag(dictionary, "SuccessfulExit");
        conditions.crashed = readFlag(dictionary, "Crashed");
        conditions.afterInitialDemand = readFlag(dictionary, "AfterInitialDemand");
        conditions.networkState = readFlag(dictionary, "NetworkState");
        conditions.pathState = readFlags(dictionary, "PathState");
        conditions.otherJobEnabled = readFlags(dictionary, "OtherJobEnabled");
        return conditional(std::move(conditions));
    }
    default:
        return never();
    }
}

std::optional<PlistValue> KeepAlive::plistValue() const {
    switch (kind_) {
    case Kind::never:
        return std::nullopt;
    case Kind::always:
        return PlistValue(true);
    case Kind::conditional:
        break;
    }
    PlistDictionary dictionary;
    const std::pair<const char*, const std::optional<bool>*> flags[] = {
        {"SuccessfulExit", &conditions_.successfulExit},
        {"Crashed", &conditions_.crashed},
        {"AfterInitialDemand", &conditions_.afterInitialDemand},
        {"NetworkState", &conditions_.networkState},
    };
    for (const auto& [key, flag] : flags) {
        if (*flag) dictionary.set(key, PlistValue(**flag));
    }
    if (!conditions_.pathState.empty()) dictionary.set("PathState", flagsValue(conditions_.pathState));
    if (!conditions_.otherJobEnabled.empty()) dictionary.set("OtherJobEnabled", flagsValue(conditions_.otherJobEnabled));
    // An empty dictionary would mean "restart on no condition at all"; the user meant "keep it alive".
    if (dictionary.empty()) return PlistValue(true);
    return PlistValue(std::move(dictionary));
}

std::vector<std::string> KeepAlive::holdingConditions() const {
    std::vector<std::string> clauses;
    if (!isConditional()) return clauses;
    for (const auto& [path, exists] : conditions_.pathState) clauses.push_back(path + (exists ? " exists" : " does not exist"));
    for (const auto& [label, loaded] : conditions_.otherJobEnabled)
        clauses.push_back(label + (loaded ? " is loaded" : " is not loaded"));
    if (conditions_.networkState.value_or(false)) clauses.push_back("the network is up");
    return clauses;
}

std::string KeepAlive::summary() const {
    if (isNever() || hasNoCondition()) return "is not restarted when it stops";
    if (isAlways()) return "is restarted whenever it stops";
    auto joined = [](const std::vector<std::string>& phrases) {
        std::string text;
        for (std::size_t i = 0; i < phrases.size(); ++i) text += (i ? " or " : "") + phrases[i];
        return text;
    };
    std::vector<std::string> exits;
    if (conditions_.successfulExit) exits.push_back(*conditions_.successfulExit ? "it finishes successfully" : "it fails");
    if (conditions_.crashed.value_or(false)) exits.push_back("it crashes");
    // A path, job or network condition is no restart after an exit: launchd keeps the job running while it holds.
    const std::vector<std::string> holding = holdingConditions();
    if (exits.empty() && holding.empty()) return "is restarted under certain conditions";
    if (holding.empty()) return "is restarted when " + joined(exits);
    if (exits.empty()) return "is kept running while " + joined(holding);
    return "is restarted when " + joined(exits) + " and kept running while " + joined(holding);
}

std::size_t KeepAlive::hash() const {
    std::size_t seed = 0;
    combine(seed, static_cast<std::size_t>(kind_));
    if (kind_ == Kind::conditional) combine(seed, conditions_.hash());
    return seed;
}

}  // namespace qw
