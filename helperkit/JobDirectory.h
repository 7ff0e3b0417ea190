// The five folders launchd reads job files from, with what the rest of the system needs of each: where
// it is, its title, who runs its jobs, how the application may write there, and its launchd domain.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

#include "helperkit/LaunchdDomain.h"

namespace qw {

class JobDirectory {
public:
    enum Value { userAgents, globalAgents, globalDaemons, systemAgents, systemDaemons };
    enum class Writability { direct, requiresElevation, never };

    constexpr JobDirectory(Value v) : value_(v) {}
    constexpr operator Value() const { return value_; }

    static constexpr std::array<JobDirectory, 5> all() {
        return {userAgents, globalAgents, globalDaemons, systemAgents, systemDaemons};
    }
    // The folders the helper tool may write: globalAgents, then globalDaemons.
    static constexpr std::array<JobDirectory, 2> helperWritable() { return {globalAgents, globalDaemons}; }
    // Exactly the five raw values, case-sensitive.
    static std::optional<JobDirectory> fromRawValue(std::string_view raw);

    std::string_view rawValue() const;  // "userAgents", ...
    std::string_view title() const;     // "User Agents", ...
    std::string_view blurb() const;
    Writability writability() const;
    bool isDaemon() const { return value_ == globalDaemons || value_ == systemDaemons; }
    LaunchdDomain domain() const;  // system for daemons, gui(<current uid>) otherwise
    // The folder under SystemPaths::current(); nothing resolved or checked.
    std::filesystem::path url() const;

private:
    Value value_;
};

}  // namespace qw

template <>
struct std::hash<qw::JobDirectory> {
    std::size_t operator()(const qw::JobDirectory& d) const noexcept { return std::hash<int>()(int(d)); }
};
