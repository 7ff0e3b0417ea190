// LaunchctlFailure: a verb that fails, with the exit status and the text launchctl prints on standard
// error for it.
#pragma once

#include <stdexcept>
#include <string>

namespace qw {

class LaunchctlFailure : public std::runtime_error {
public:
    LaunchctlFailure(int status, std::string message) : std::runtime_error(std::move(message)), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

}  // namespace qw
