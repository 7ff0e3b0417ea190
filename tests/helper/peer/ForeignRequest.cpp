// Foreign code for inside the application, slipped in under a system library's name: once the
// application's main has begun (at its first setOrganizationName), it sends the request in
// QUILLWICK_TEST_REQUEST to the socket QUILLWICK_TEST_SOCKET as the application, prints the reply's JSON
// (or "closed") and a line feed, and ends the process.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void sendAndPrint(const char* socketPath, const std::string& request) {
    std::string line = "closed";
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath, sizeof address.sun_path - 1);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const auto n = static_cast<std::uint32_t>(request.size());
        std::string frame{char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
        frame += request;
        unsigned char header[4];
        if (::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size()) &&
            ::recv(fd, header, 4, MSG_WAITALL) == 4) {
            std::string reply((std::size_t(header[0]) << 24) | (header[1] << 16) | (header[2] << 8) | header[3], '\0');
            if (::recv(fd, reply.data(), reply.size(), MSG_WAITALL) == static_cast<ssize_t>(reply.size())) line = reply;
        }
    }
    line += "\n";
    (void)!::write(1, line.data(), line.size());
}

}  // namespace

// QCoreApplication::setOrganizationName(const QString&), which the application calls first in main.
extern "C" void _ZN16QCoreApplication19setOrganizationNameERK7QString(const void*) {
    const char* socketPath = std::getenv("QUILLWICK_TEST_SOCKET");
    const char* request = std::getenv("QUILLWICK_TEST_REQUEST");
    if (socketPath && request) sendAndPrint(socketPath, request);
    ::_exit(0);
}
