// Outside bytes as they arrive on the helper's socket: split into frames however the stream is cut, and
// every whole frame handled as a request. Every request must get a reply that decodes. The machine is a
// fresh empty sandbox root, so whatever the fuzzer asks for touches nothing real.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "helper/HelperRequests.h"
#include "helperkit/HelperProtocol.h"
#include "helperkit/HelperSocket.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static std::string root = "/tmp/qw-fuzz-XXXXXX";
    if (!::mkdtemp(root.data())) std::abort();
    ::setenv("QUILLWICK_ROOT", root.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    // The first byte picks where the stream is cut, so frames straddle reads.
    const std::size_t chunk = std::size_t(data[0]) + 1;
    qw::HelperSocket::FrameReader reader;
    try {
        for (std::size_t at = 0; at < bytes.size(); at += chunk) {
            reader.feed(bytes.substr(at, chunk));
            while (auto frame = reader.next()) {
                const std::string reply = qw::HelperRequests::replyTo(frame->payload);
                (void)qw::HelperResponse::fromJson(reply);  // throws, and so aborts, if it does not decode
                if (qw::HelperSocket::encodeFrame(frame->payload).substr(4) != frame->payload) std::abort();
            }
        }
    } catch (const qw::HelperSocket::FrameError& error) {
        if (error.kind() != qw::HelperSocket::FrameError::Kind::oversized) std::abort();
    }
    return 0;
}
