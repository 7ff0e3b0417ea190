// KeepAlive: the job's "KeepAlive" value in typed form — never restarted, always restarted, or
// restarted while a set of conditions holds. Reads any value leniently and writes back what launchd
// expects.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "helperkit/PlistValue.h"

namespace qw {

class KeepAlive {
public:
    struct Conditions {
        std::optional<bool> successfulExit;      // "SuccessfulExit"
        std::optional<bool> crashed;             // "Crashed"
        std::optional<bool> afterInitialDemand;  // "AfterInitialDemand"
        std::optional<bool> networkState;        // "NetworkState"
        std::map<std::string, bool> pathState;        // "PathState"
        std::map<std::string, bool> otherJobEnabled;  // "OtherJobEnabled"

        std::size_t hash() const;
        bool operator==(const Conditions&) const = default;
    };

    // In declaration order; the position is also what hashing combines.
    enum class Kind { never = 0, always = 1, conditional = 2 };

    KeepAlive() = default;  // never
    static KeepAlive never() { return KeepAlive(); }
    static KeepAlive always() { return KeepAlive(Kind::always, {}); }
    static KeepAlive conditional(Conditions conditions) { return KeepAlive(Kind::conditional, std::move(conditions)); }

    // Never fails: no value, or a value of an unusable type, reads as never.
    static KeepAlive fromPlistValue(const PlistValue* value);
    static KeepAlive fromPlistValue(const PlistValue& value) { return fromPlistValue(&value); }

    Kind kind() const { return kind_; }
    bool isNever() const { return kind_ == Kind::never; }
    bool isAlways() const { return kind_ == Kind::always; }
    bool isConditional() const { return kind_ == Kind::conditional; }
    // The conditions of a conditional value; the default conditions for the other two.
    const Conditions& conditions() const { return conditions_; }

    // A dictionary holding no condition launchd acts on (empty, or only keys it does not know): launchd
    // neither starts nor restarts the job for it.
    bool hasNoCondition() const { return isConditional() && conditions_ == Conditions{}; }
    // The conditions under which launchd keeps the job running rather than restarts it after an exit,
    // each as a clause to follow "while": "/tmp/go exists", "com.example.a is not loaded", "the network
    // is up" (paths, then jobs, then the network).
    std::vector<std::string> holdingConditions() const;

    // What to store under "KeepAlive"; nothing means the key is to be removed.
    std::optional<PlistValue> plistValue() const;
    // A verb phrase that follows "the job": "is restarted whenever it stops".
    std::string summary() const;

    std::size_t hash() const;
    bool operator==(const KeepAlive&) const = default;

private:
    KeepAlive(Kind kind, Conditions conditions) : kind_(kind), conditions_(std::move(conditions)) {}
    Kind kind_ = Kind::never;
    Conditions conditions_;
};

}  // namespace qw

template <>
struct std::hash<qw::KeepAlive> {
    std::size_t operator()(const qw::KeepAlive& k) const noexcept { return k.hash(); }
};
template <>
struct std::hash<qw::KeepAlive::Conditions> {
    std::size_t operator()(const qw::KeepAlive::Conditions& c) const noexcept { return c.hash(); }
};
