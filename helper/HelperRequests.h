// The two roads into the helper: request bytes from a connection, and a one-shot request file. Both end
// in PrivilegedOperations::perform and always produce exactly one encoded reply.
#pragma once

#include <string>
#include <string_view>

#include "helperkit/Logger.h"

namespace qw::HelperRequests {

// The helper's "main" log.
const Logger& mainLog();

// Decodes, performs and encodes one request from a connection; an undecodable one is logged and answered
// with "The helper could not read that request.". `sender` says who sent it, for the log.
std::string replyTo(std::string_view requestBytes, std::string_view sender = {});

struct OneShotResult {
    std::string output;  // the reply's JSON, no line feed
    int exitStatus = 1;  // 0 when the reply succeeded
};
// Reads one request from the file (only reads it), performs it, and says what to print and exit with.
OneShotResult oneShot(const std::string& requestFile);

}  // namespace qw::HelperRequests
