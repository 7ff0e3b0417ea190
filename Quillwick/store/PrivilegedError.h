// The error of the privileged road. `cancelled` (the user dismissed the password prompt) has no text and
// is never shown; callers test kind() for it.
#pragma once

#include <stdexcept>
#include <string>

namespace qw {

class PrivilegedError : public std::exception {
public:
    enum class Kind { helperUnreachable, elevationFailed, helperMissing, cancelled };

    static PrivilegedError helperUnreachable(std::string reason) { return {Kind::helperUnreachable, std::move(reason)}; }
    static PrivilegedError elevationFailed(std::string message) { return {Kind::elevationFailed, std::move(message)}; }
    static PrivilegedError helperMissing() { return {Kind::helperMissing, {}}; }
    static PrivilegedError cancelled() { return {Kind::cancelled, {}}; }

    Kind kind() const { return kind_; }
    const std::string& payload() const { return payload_; }
    bool isCancelled() const { return kind_ == Kind::cancelled; }
    // The user-facing sentence; empty for cancelled.
    const char* what() const noexcept override { return description_.c_str(); }

    bool operator==(const PrivilegedError& other) const { return kind_ == other.kind_ && payload_ == other.payload_; }

private:
    PrivilegedError(Kind kind, std::string payload);
    Kind kind_;
    std::string payload_;
    std::string description_;
};

}  // namespace qw
