#include "helper/HelperRequests.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "helper/PrivilegedOperations.h"
#include "helperkit/HelperProtocol.h"
#include "helperkit/HelperSocket.h"

namespace qw::HelperRequests {

namespace {

// The request file is the application's, at most one frame's worth; anything else is no request.
std::string readRequestFile(const std::string& path) {
    if (path.find('\0') != std::string::npos) throw std::runtime_error("The path holds a NUL character.");
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) throw std::runtime_error(std::strerror(errno));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw std::runtime_error("It is not a regular file.");
    }
    std::string bytes;
    char chunk[65536];
    while (true) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw std::runtime_error(std::strerror(error));
        }
        if (n == 0) break;
        bytes.append(chunk, static_cast<std::size_t>(n));
        if (bytes.size() > HelperSocket::maxFrameSize) {
            ::close(fd);
            throw std::runtime_error("It is larger than a request can be.");
        }
    }
    ::close(fd);
    return bytes;
}

}  // namespace

const Logger& mainLog() {
    static const Logger instance(std::string(HelperService::machServiceName), "main");
    return instance;
}

std::string replyTo(std::string_view requestBytes, std::string_view sender) {
    HelperRequest request;
    try {
        request = HelperRequest::fromJson(requestBytes);
    } catch (const HelperDecodingError& error) {
        mainLog().error(fmt::format("undecodable request: {}",
                                    PrivilegedOperations::escapedForLog(error.what())));
        return HelperResponse::failure("The helper could not read that request.").jsonData();
    }
    return PrivilegedOperations::perform(request, sender).jsonData();
}

OneShotResult oneShot(const std::string& requestFile) {
    HelperResponse reply;
    try {
        reply = PrivilegedOperations::perform(HelperRequest::fromJson(readRequestFile(requestFile)));
    } catch (const std::exception& error) {
        reply = HelperResponse::failure(
            fmt::format("The helper could not read the request file: {}", error.what()));
    }
    return {reply.jsonData(), reply.succeeded ? 0 : 1};
}

}  // namespace qw::HelperRequests
