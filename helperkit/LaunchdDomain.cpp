#include "helperkit/LaunchdDomain.h"

#include <unistd.h>

#include <limits>
#include <vector>

namespace qw {

std::uint32_t currentUserID() { return static_cast<std::uint32_t>(geteuid()); }

namespace {

// An optional sign, then at least one decimal digit, nothing else; nothing outside [min, max].
std::optional<std::int64_t> parseInteger(std::string_view text, std::int64_t min, std::int64_t max) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    // Big enough for any 32-bit payload with room to detect overflow without wrapping.
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > std::int64_t(1) << 33) return std::nullopt;
    }
    if (negative) value = -value;
    if (value < min || value > max) return std::nullopt;
    return value;
}

}  // namespace

std::optional<LaunchdDomain> LaunchdDomain::parse(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = text.find('/', start);
        pieces.push_back(text.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    if (pieces.size() == 1) {
        if (pieces[0] == "system") return system();
        return std::nullopt;
    }
    if (pieces.size() != 2) return std::nullopt;
    constexpr std::int64_t u32max = std::numeric_limits<std::uint32_t>::max();
    constexpr std::int64_t i32min = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t i32max = std::numeric_limits<std::int32_t>::max();
    const std::string_view name = pieces[0];
    if (name == "user" || name == "gui") {
        auto n = parseInteger(pieces[1], 0, u32max);
        if (!n) return std::nullopt;
        return LaunchdDomain(name == "user" ? Kind::user : Kind::gui, *n);
    }
    if (name == "session" || name == "pid") {
        auto n = parseInteger(pieces[1], i32min, i32max);
        if (!n) return std::nullopt;
        return LaunchdDomain(name == "session" ? Kind::session : Kind::pid, *n);
    }
    return std::nullopt;
}

std::string LaunchdDomain::description() const {
    switch (kind_) {
    case Kind::user: return "user/" + std::to_string(number_);
    case Kind::gui: return "gui/" + std::to_string(number_);
    case Kind::session: return "session/" + std::to_string(number_);
    case Kind::pid: return "pid/" + std::to_string(number_);
    case Kind::system: break;
    }
    return "system";
}

bool LaunchdDomain::requiresRoot() const {
    switch (kind_) {
    case Kind::user:
    case Kind::gui: return number_ != std::int64_t(currentUserID());
    case Kind::session:
    case Kind::pid: return false;
    case Kind::system: break;
    }
    return true;
}

std::string ServiceTarget::description() const { return domain.description() + "/" + label; }

std::optional<ServiceTarget> ServiceTarget::parse(std::string_view text) {
    const std::size_t slash = text.rfind('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view label = text.substr(slash + 1);
    if (label.empty()) return std::nullopt;
    auto domain = LaunchdDomain::parse(text.substr(0, slash));
    if (!domain) return std::nullopt;
    return ServiceTarget{*domain, std::string(label)};
}

bool ServiceTarget::isValidLabel(std::string_view label) {
    if (label.empty() || label.size() > 255) return false;
    if (label == "." || label == "..") return false;
    if (label.front() == '.' || label.back() == '.' || label.front() == '-') return false;
    for (char c : label) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

bool ServiceTarget::isAppleLabel(std::string_view label) {
    return label.starts_with("com.apple.") || label.find(".com.apple.") != std::string_view::npos;
}

}  // namespace qw
