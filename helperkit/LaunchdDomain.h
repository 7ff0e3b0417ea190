// launchd domains ("gui/501", "system") and service targets ("gui/501/com.example.job"), and the job
// label rule for files the system creates or writes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qw {

// The id of the user this process runs as; read on every call, never cached.
std::uint32_t currentUserID();

class LaunchdDomain {
public:
    enum class Kind { user, gui, session, pid, system };

    static LaunchdDomain user(std::uint32_t uid) { return {Kind::user, uid}; }
    static LaunchdDomain gui(std::uint32_t uid) { return {Kind::gui, uid}; }
    static LaunchdDomain session(std::int32_t asid) { return {Kind::session, asid}; }
    static LaunchdDomain pid(std::int32_t pid) { return {Kind::pid, pid}; }
    static LaunchdDomain system() { return {Kind::system, 0}; }
    static LaunchdDomain currentGUI() { return gui(currentUserID()); }

    // "system", or "user/", "gui/", "session/", "pid/" and a decimal number; anything else is nothing.
    static std::optional<LaunchdDomain> parse(std::string_view text);

    Kind kind() const { return kind_; }
    // The uid, asid or pid; 0 for system.
    std::int64_t number() const { return number_; }
    std::string description() const;
    bool requiresRoot() const;

    bool operator==(const LaunchdDomain&) const = default;

private:
    LaunchdDomain(Kind kind, std::int64_t number) : kind_(kind), number_(number) {}
    Kind kind_;
    std::int64_t number_;
};

struct ServiceTarget {
    LaunchdDomain domain = LaunchdDomain::system();
    std::string label;

    std::string description() const;  // domain, "/", label
    // The last "/" ends the domain; an empty label or an unparsable domain gives nothing.
    static std::optional<ServiceTarget> parse(std::string_view text);
    // 1–255 characters from a-z A-Z 0-9 . - _; not "." or ".."; no leading or trailing "."; no leading "-".
    static bool isValidLabel(std::string_view label);
    // A job of macOS's own: "com.apple." first, or inside another name (an app's "application.com.apple.…").
    static bool isAppleLabel(std::string_view label);

    bool operator==(const ServiceTarget&) const = default;
};

}  // namespace qw

template <>
struct std::hash<qw::LaunchdDomain> {
    std::size_t operator()(const qw::LaunchdDomain& d) const noexcept {
        return std::hash<std::int64_t>()(d.number()) * 31 + static_cast<std::size_t>(d.kind());
    }
};
template <>
struct std::hash<qw::ServiceTarget> {
    std::size_t operator()(const qw::ServiceTarget& t) const noexcept {
        return std::hash<qw::LaunchdDomain>()(t.domain) * 31 + std::hash<std::string>()(t.label);
    }
};
