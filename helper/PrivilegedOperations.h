// Everything the helper tool does as root: one decoded request in, one reply out. Paths and labels are
// checked before anything is touched; every refusal becomes a reply with a message, never a throw.
#pragma once

#include <stdexcept>
#include <string>

#include "helperkit/HelperProtocol.h"

namespace qw::PrivilegedOperations {

inline constexpr int supportedVersion = 1;

class OperationError : public std::runtime_error {
public:
    enum class Kind { unknownDomain, missingPath, unexpectedPath, invalidLabel, foreignDomain, partOfMacOS };
    static OperationError unknownDomain(const std::string& domain);
    static OperationError missingPath(PrivilegedVerb verb);
    static OperationError unexpectedPath(PrivilegedVerb verb);
    static OperationError invalidLabel(const std::string& label);
    static OperationError foreignDomain(const std::string& domain);
    static OperationError partOfMacOS(const std::string& label);
    Kind kind() const { return kind_; }

private:
    OperationError(Kind kind, std::string message) : std::runtime_error(std::move(message)), kind_(kind) {}
    Kind kind_;
};

// `sender` names who asked (nothing for a request file), and goes into every log line of the request.
HelperResponse perform(const HelperRequest& request, std::string_view sender = {}) noexcept;

// CFBundleShortVersionString of the helper's own Info.plist, embedded at build time; "0" without one.
std::string helperVersion();

// Control characters as \xNN, and C1 controls, line and paragraph separators and bidirectional controls
// as \uNNNN, so text from a request cannot forge, garble or visually reorder log lines.
std::string escapedForLog(std::string_view text);

}  // namespace qw::PrivilegedOperations
