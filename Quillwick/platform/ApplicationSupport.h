// The application's own folder under the user's Application Support folder, and the folder of one-shot
// request files in it.
#pragma once

#include <filesystem>

namespace qw::ApplicationSupport {

std::filesystem::path folder();          // ~/Library/Application Support/Quillwick
std::filesystem::path auditFile();       // folder()/audit.json
std::filesystem::path requestsFolder();  // folder()/Requests

// Makes the request folder, or repairs it to mode 0700: it must be a real folder (not a link) owned by
// this user, since the helper reads requests from it as root. Throws std::filesystem::filesystem_error.
std::filesystem::path ensureRequestsFolder();

}  // namespace qw::ApplicationSupport
