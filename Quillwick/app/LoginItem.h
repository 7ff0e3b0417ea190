// LoginItem: the application itself as a login item, through the service-management stand-in in the
// user's gui domain (so it shows in the job list as a job registered by an app).
#pragma once

#include <optional>

namespace qw::LoginItem {

enum class Status { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

// notFound outside a bundle or in a build without service management.
Status status();
// Registers or unregisters unless it already is as asked; throws std::runtime_error with launchd's
// refusal, logging a failed unregistration first.
void setEnabled(bool on);

}  // namespace qw::LoginItem
