// The contract between the application and the privileged helper tool: the launchctl verbs the helper
// may run, the names and code-signing requirements by which each side finds and trusts the other, and
// the request and reply messages with their JSON form.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qw {

class PrivilegedVerb {
public:
    enum Value { bootstrap, bootout, enable, disable, kickstart, kill };

    constexpr PrivilegedVerb(Value v) : value_(v) {}
    constexpr operator Value() const { return value_; }
    static constexpr std::array<PrivilegedVerb, 6> all() {
        return {bootstrap, bootout, enable, disable, kickstart, kill};
    }
    static std::optional<PrivilegedVerb> fromRawValue(std::string_view raw);  // exactly the six verbs

    std::string_view rawValue() const;  // the launchctl subcommand
    std::string_view title() const;     // "Load", "Unload", "Enable", "Disable", "Start", "Stop"
    bool needsPlistPath() const { return value_ == bootstrap; }

private:
    Value value_;
};

namespace HelperService {
inline constexpr std::string_view machServiceName = "com.tarnmoor.quillwick.helper";
inline constexpr std::string_view plistName = "com.tarnmoor.quillwick.helper.plist";
inline constexpr std::string_view appRequirement =
    "anchor apple generic and certificate leaf[subject.OU] = \"QZ3R7W9KXM\" and identifier \"com.tarnmoor.quillwick\"";
inline constexpr std::string_view helperRequirement =
    "anchor apple generic and certificate leaf[subject.OU] = \"QZ3R7W9KXM\" and identifier "
    "\"com.tarnmoor.quillwick.helper\"";
// The reply that stands in when a reply cannot be encoded; the same bytes in both programs.
inline constexpr std::string_view unreadableReply =
    "{\"succeeded\":false,\"message\":\"The helper produced an unreadable reply.\"}";
}  // namespace HelperService

using Bytes = std::vector<std::uint8_t>;

// A request or reply that does not decode; what() is the decoder's description.
struct HelperDecodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct HelperRequest {
    struct Version {
        bool operator==(const Version&) const = default;
    };
    struct Read {
        std::string path;
        bool operator==(const Read&) const = default;
    };
    struct Write {
        std::string path;
        Bytes contents;
        bool operator==(const Write&) const = default;
    };
    struct Delete {
        std::string path;
        bool operator==(const Delete&) const = default;
    };
    struct RepairPermissions {
        std::string path;
        bool operator==(const RepairPermissions&) const = default;
    };
    struct Launchctl {
        PrivilegedVerb verb = PrivilegedVerb::bootstrap;
        std::string domain;
        std::optional<std::string> label;
        std::optional<std::string> path;
        bool operator==(const Launchctl&) const = default;
    };
    // Encoded as an object with exactly one key, the case name.
    using Operation = std::variant<Version, Read, Write, Delete, RepairPermissions, Launchctl>;

    int version = 1;
    Operation operation = Version{};
    std::string reason;

    std::string jsonData() const;
    static HelperRequest fromJson(std::string_view json);  // throws HelperDecodingError
    bool operator==(const HelperRequest&) const = default;
};

struct HelperResponse {
    bool succeeded = false;
    std::optional<Bytes> contents;
    std::optional<std::string> standardOutput;
    std::optional<std::string> standardError;
    std::optional<std::int32_t> exitStatus;
    std::optional<std::string> message;
    std::optional<std::string> helperVersion;

    static HelperResponse failure(std::string message);
    // Never fails: an encoding failure gives HelperService::unreadableReply.
    std::string jsonData() const;
    static HelperResponse fromJson(std::string_view json);  // throws HelperDecodingError
    bool operator==(const HelperResponse&) const = default;
};

}  // namespace qw
