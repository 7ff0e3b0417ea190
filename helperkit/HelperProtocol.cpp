#include "helperkit/HelperProtocol.h"

#include <limits>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "helperkit/Base64.h"
#include "helperkit/Utf8.h"

namespace qw {

namespace {

using json = nlohmann::json;
// Encoding keeps the fields in declaration order, which makes the wire form easy to read in logs.
using ordered = nlohmann::ordered_json;

constexpr std::string_view caseNames[] = {"version", "read", "write", "delete", "repairPermissions", "launchctl"};

[[noreturn]] void fail(const std::string& description) { throw HelperDecodingError(description); }

// No error quotes the sender's bytes, which may be anything it chose (the parser's own texts quote the
// token it stopped at): descriptions name keys and positions only.
json parse(std::string_view text, std::string_view what) {
    json value;
    try {
        value = json::parse(text.begin(), text.end());
    } catch (const json::parse_error& e) {
        fail(fmt::format("The {} is not valid JSON: the text breaks off or goes wrong at byte {}.", what, e.byte));
    } catch (const json::exception&) {  // a number too large for a double
        fail(fmt::format("The {} is not valid JSON: it holds a number too large to read.", what));
    }
    if (!value.is_object()) fail(fmt::format("The {} is not a JSON object.", what));
    return value;
}

std::string keyPath(std::string_view path, std::string_view key) {
    return path.empty() ? std::string(key) : fmt::format("{}.{}", path, key);
}

// A required value: a missing key and null are both reported by name.
const json& required(const json& object, std::string_view key, std::string_view path) {
    auto it = object.find(key);
    if (it == object.end()) fail(fmt::format("The key “{}” is missing.", keyPath(path, key)));
    if (it->is_null()) fail(fmt::format("The key “{}” is null.", keyPath(path, key)));
    return *it;
}

const json* optional(const json& object, std::string_view key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

std::string asString(const json& value, std::string_view key, std::string_view path) {
    if (!value.is_string()) fail(fmt::format("The key “{}” must be a string.", keyPath(path, key)));
    return value.get<std::string>();
}

std::string requiredString(const json& object, std::string_view key, std::string_view path) {
    return asString(required(object, key, path), key, path);
}

std::optional<std::string> optionalString(const json& object, std::string_view key, std::string_view path) {
    const json* value = optional(object, key);
    if (!value) return std::nullopt;
    return asString(*value, key, path);
}

std::int64_t asInteger(const json& value, std::string_view key, std::string_view path, std::int64_t min,
                       std::int64_t max) {
    const auto outOfRange = [&] {
        fail(fmt::format("The key “{}” must be an integer from {} to {}.", keyPath(path, key), min, max));
    };
    if (!value.is_number_integer()) outOfRange();
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(max)) outOfRange();
        return static_cast<std::int64_t>(u);
    }
    const auto n = value.get<std::int64_t>();
    if (n < min || n > max) outOfRange();
    return n;
}

Bytes asBytes(const json& value, std::string_view key, std::string_view path) {
    auto bytes = Base64::decode(asString(value, key, path));
    if (!bytes) fail(fmt::format("The key “{}” is not Base64 data.", keyPath(path, key)));
    return std::move(*bytes);
}

const json& asObject(const json& value, std::string_view key, std::string_view path) {
    if (!value.is_object()) fail(fmt::format("The key “{}” must be an object.", keyPath(path, key)));
    return value;
}

// Outside text (file names above all) may hold bytes that are not UTF-8; they are replaced rather
// than letting the whole message fail to encode.
std::string text(const std::string& s) { return Utf8::sanitized(s); }

ordered encode(const HelperRequest::Operation& operation) {
    ordered payload = ordered::object();
    std::string_view name;
    std::visit(
        [&](const auto& op) {
            using T = std::decay_t<decltype(op)>;
            if constexpr (std::is_same_v<T, HelperRequest::Version>) {
                name = "version";
            } else if constexpr (std::is_same_v<T, HelperRequest::Read>) {
                name = "read";
                payload["path"] = text(op.path);
            } else if constexpr (std::is_same_v<T, HelperRequest::Write>) {
                name = "write";
                payload["path"] = text(op.path);
                payload["contents"] = Base64::encode(op.contents);
            } else if constexpr (std::is_same_v<T, HelperRequest::Delete>) {
                name = "delete";
                payload["path"] = text(op.path);
            } else if constexpr (std::is_same_v<T, HelperRequest::RepairPermissions>) {
                name = "repairPermissions";
                payload["path"] = text(op.path);
            } else {
                name = "launchctl";
                payload["verb"] = std::string(op.verb.rawValue());
                payload["domain"] = text(op.domain);
                if (op.label) payload["label"] = text(*op.label);
                if (op.path) payload["path"] = text(*op.path);
            }
        },
        operation);
    ordered result = ordered::object();
    result[std::string(name)] = std::move(payload);
    return result;
}

HelperRequest::Operation decodeOperation(const json& value) {
    constexpr std::string_view path = "operation";
    if (!value.is_object()) fail("The key “operation” must be an object.");
    std::string_view found;
    int count = 0;
    for (std::string_view name : caseNames) {
        if (value.contains(name)) {
            found = name;
            ++count;
        }
    }
    if (count != 1) fail("Invalid number of keys found, expected one.");

    const std::string casePath = keyPath(path, found);
    const json& payload = asObject(value.at(found), found, path);
    if (found == "version") return HelperRequest::Version{};
    if (found == "read") return HelperRequest::Read{requiredString(payload, "path", casePath)};
    if (found == "write")
        return HelperRequest::Write{requiredString(payload, "path", casePath),
                                    asBytes(required(payload, "contents", casePath), "contents", casePath)};
    if (found == "delete") return HelperRequest::Delete{requiredString(payload, "path", casePath)};
    if (found == "repairPermissions") return HelperRequest::RepairPermissions{requiredString(payload, "path", casePath)};

    const std::string verbText = requiredString(payload, "verb", casePath);
    auto verb = PrivilegedVerb::fromRawValue(verbText);
    if (!verb) fail(fmt::format("The key “{}” names no launchctl verb the helper runs.", keyPath(casePath, "verb")));
    HelperRequest::Launchctl launchctl;
    launchctl.verb = *verb;
    launchctl.domain = requiredString(payload, "domain", casePath);
    launchctl.label = optionalString(payload, "label", casePath);
    launchctl.path = optionalString(payload, "path", casePath);
    return launchctl;
}

}  // namespace

std::optional<PrivilegedVerb> PrivilegedVerb::fromRawValue(std::string_view raw) {
    for (PrivilegedVerb verb : all())
        if (verb.rawValue() == raw) return verb;
    return std::nullopt;
}

std::string_view PrivilegedVerb::rawValue() const {
    switch (value_) {
    case bootstrap: return "bootstrap";
    case bootout: return "bootout";
    case enable: return "enable";
    case disable: return "disable";
    case kickstart: return "kickstart";
    case kill: break;
    }
    return "kill";
}

std::string_view PrivilegedVerb::title() const {
    switch (value_) {
    case bootstrap: return "Load";
    case bootout: return "Unload";
    case enable: return "Enable";
    case disable: return "Disable";
    case kickstart: return "Start";
    case kill: break;
    }
    return "Stop";
}

std::string HelperRequest::jsonData() const {
    ordered j = ordered::object();
    j["version"] = version;
    j["operation"] = encode(operation);
    j["reason"] = text(reason);
    return j.dump();
}

HelperRequest HelperRequest::fromJson(std::string_view data) {
    const json j = parse(data, "request");
    HelperRequest request;
    request.version = static_cast<int>(asInteger(required(j, "version", ""), "version", "",
                                                 std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    request.operation = decodeOperation(required(j, "operation", ""));
    request.reason = requiredString(j, "reason", "");
    return request;
}

HelperResponse HelperResponse::failure(std::string message) {
    HelperResponse response;
    response.succeeded = false;
    response.message = std::move(message);
    return response;
}

std::string HelperResponse::jsonData() const {
    try {
        ordered j = ordered::object();
        j["succeeded"] = succeeded;
        if (contents) j["contents"] = Base64::encode(*contents);
        if (standardOutput) j["standardOutput"] = text(*standardOutput);
        if (standardError) j["standardError"] = text(*standardError);
        if (exitStatus) j["exitStatus"] = *exitStatus;
        if (message) j["message"] = text(*message);
        if (helperVersion) j["helperVersion"] = text(*helperVersion);
        return j.dump();
    } catch (...) {
        return std::string(HelperService::unreadableReply);
    }
}

HelperResponse HelperResponse::fromJson(std::string_view data) {
    const json j = parse(data, "reply");
    HelperResponse response;
    const json& succeeded = required(j, "succeeded", "");
    if (!succeeded.is_boolean()) fail("The key “succeeded” must be true or false.");
    response.succeeded = succeeded.get<bool>();
    if (const json* v = optional(j, "contents")) response.contents = asBytes(*v, "contents", "");
    response.standardOutput = optionalString(j, "standardOutput", "");
    response.standardError = optionalString(j, "standardError", "");
    if (const json* v = optional(j, "exitStatus"))
        response.exitStatus = static_cast<std::int32_t>(asInteger(*v, "exitStatus", "",
                                                                   std::numeric_limits<std::int32_t>::min(),
                                                                   std::numeric_limits<std::int32_t>::max()));
    response.message = optionalString(j, "message", "");
    response.helperVersion = optionalString(j, "helperVersion", "");
    return response;
}

}  // namespace qw
