// Shared by the helper's tests: requests, the built helper, and a client end of its socket.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "helperkit/HelperProtocol.h"
#include "helperkit/HelperSocket.h"
#include "support/SandboxRoot.h"

namespace qw::test {

inline std::filesystem::path builtBundle() { return std::filesystem::path(QUILLWICK_BINARY_DIR) / "Quillwick.app"; }
inline std::filesystem::path builtHelper() { return builtBundle() / "Contents/MacOS/QuillwickHelper"; }

inline HelperRequest request(HelperRequest::Operation operation, std::string reason = "test") {
    HelperRequest r;
    r.operation = std::move(operation);
    r.reason = std::move(reason);
    return r;
}

inline Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

inline std::string jobPlist(std::string_view label) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Label</key><string>" +
           std::string(label) + "</string><key>Program</key><string>/bin/true</string></dict></plist>\n";
}

// One connection to a helper socket; frames in and out.
class SocketClient {
public:
    explicit SocketClient(const std::filesystem::path& socket) : fd_(HelperSocket::connectTo(socket)) {}
    ~SocketClient() { ::close(fd_); }
    SocketClient(const SocketClient&) = delete;
    SocketClient& operator=(const SocketClient&) = delete;

    int fd() const { return fd_; }
    // A helper that refused the connection may have closed it already: that is an error, not a SIGPIPE.
    void sendRaw(std::string_view bytes) const { (void)!::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    void send(std::string_view payload) const { HelperSocket::writeFrame(fd_, payload); }
    // Nothing when the helper closed the connection instead of replying.
    std::optional<HelperResponse> receive() {
        try {
            if (auto frame = HelperSocket::readFrame(fd_, reader_)) return HelperResponse::fromJson(*frame);
        } catch (const HelperSocket::FrameError&) {
        }
        return std::nullopt;
    }
    // Nothing when the helper closed the connection, before or after the request.
    std::optional<HelperResponse> ask(const HelperRequest& r) {
        try {
            send(r.jsonData());
        } catch (const HelperSocket::FrameError&) {
            return std::nullopt;
        }
        return receive();
    }
    void closeWriting() const { ::shutdown(fd_, SHUT_WR); }

private:
    int fd_;
    HelperSocket::FrameReader reader_;
};

}  // namespace qw::test
