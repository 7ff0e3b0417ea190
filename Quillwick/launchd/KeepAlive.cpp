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

std::string KeepAlive::summary() const {
    switch (kind_) {
    case Kind::never:
        return "is not restarted when it stops";
    case Kind::always:
        return "is restarted whenever it stops";
    case Kind::conditional:
        break;
    }
    std::vector<std::string> phrases;
    if (conditions_.successfulExit) phrases.push_back(*conditions_.successfulExit ? "it finishes successfully" : "it fails");
    if (conditions_.crashed.value_or(false)) phrases.push_back("it crashes");
    if (conditions_.networkState.value_or(false)) phrases.push_back("the network is up");
    if (!conditions_.pathState.empty()) phrases.push_back("watched paths change");
    if (!conditions_.otherJobEnabled.empty()) phrases.push_back("another job's state changes");
    if (phrases.empty()) return "is restarted under certain conditions";
    std::string text = "is restarted when ";
    for (std::size_t i = 0; i < phrases.size(); ++i) {
        if (i > 0) text += " or ";
        text += phrases[i];
    }
    return text;
}

std::size_t KeepAlive::hash() const {
    std::size_t seed = 0;
    combine(seed, static_cast<std::size_t>(kind_));
    if (kind_ == Kind::conditional) combine(seed, conditions_.hash());
    return seed;
}

}  // namespace qw
