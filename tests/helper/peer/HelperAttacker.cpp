// An administrator's own code against the helper, for the attack tests. It is never the application;
// each road ends with the reply's JSON (or "closed") and a line feed on standard output.
//
//   helper_attacker forge SOCKET REQUEST APP   in new user and pid namespaces, starts APP as pid 2 and,
//                                              after a line on standard input, names it as the sender
//   helper_attacker exec SOCKET REQUEST APP [FD]
//                                              sends the request, then at once becomes APP (holding the
//                                              connection as descriptor FD when given), a forked copy
//                                              keeping the connection to read the reply
//   helper_attacker hold SOCKET COUNT          COUNT connections, each announcing the largest frame and
//                                              sending all of it but its last byte; then waits for the
//                                              end of standard input
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "helperkit/HelperSocket.h"

namespace {

namespace hs = qw::HelperSocket;

void printReply(int fd) {
    hs::FrameReader reader;
    std::string line = "closed";
    try {
        if (auto reply = hs::readFrame(fd, reader)) line = *reply;
    } catch (const hs::FrameError&) {
    }
    line += "\n";
    (void)!::write(1, line.data(), line.size());
}

bool writeFile(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return written;
}

int forge(const std::string& socket, const std::string& request, const char* app) {
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWPID) != 0 ||
        !writeFile("/proc/self/uid_map", fmt::format("{} {} 1", uid, uid)) ||
        !writeFile("/proc/self/setgroups", "deny") || !writeFile("/proc/self/gid_map", fmt::format("{} {} 1", gid, gid))) {
        std::printf("no namespaces: %s\n", std::strerror(errno));
        return 3;
    }
    std::fflush(stdout);
    const pid_t init = ::fork();
    if (init == 0) {
        const int fd = hs::connectTo(socket);
        const pid_t genuine = ::fork();
        if (genuine == 0) {
            ::execl(app, app, nullptr);
            ::_exit(127);
        }
        std::puts("ready");
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
        // Pid 1 of the namespace may name any process of it as the sender.
        const std::string frame = hs::encodeFrame(request);
        iovec bytes{const_cast<char*>(frame.data()), frame.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))] = {};
        msghdr message{};
        message.msg_iov = &bytes;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* part = CMSG_FIRSTHDR(&message);
        part->cmsg_level = SOL_SOCKET;
        part->cmsg_type = SCM_CREDENTIALS;
        part->cmsg_len = CMSG_LEN(sizeof(ucred));
        const ucred named{genuine, uid, gid};
        std::memcpy(CMSG_DATA(part), &named, sizeof named);
        if (::sendmsg(fd, &message, MSG_NOSIGNAL) < 0) std::printf("not sent: %s\n", std::strerror(errno));
        printReply(fd);
        ::kill(genuine, SIGKILL);
        ::waitpid(genuine, nullptr, 0);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(init, &status, 0);
    return 0;
}

int sendThenExec(const std::string& socket, const std::string& request, const char* app, int at) {
    int fd = hs::connectTo(socket);
    if (at >= 0 && ::dup2(fd, at) == at) {
        ::close(fd);
        fd = at;
    }
    ::fcntl(fd, F_SETFD, 0);  // the application inherits it, as a child of ours would
    if (::fork() == 0) {
        printReply(fd);
        ::_exit(0);
    }
    hs::writeFrame(fd, request);
    ::execl(app, app, nullptr);
    return 127;
}

int hold(const std::string& socket, int count) {
    std::vector<int> held;
    const std::string header = hs::encodeFrame(std::string(hs::maxFrameSize, ' ')).substr(0, 4);
    const std::string body(hs::maxFrameSize - 1, ' ');
    for (int i = 0; i < count; ++i) {
        const int fd = hs::connectTo(socket);
        held.push_back(fd);
        if (::send(fd, header.data(), header.size(), MSG_NOSIGNAL) < 0) continue;
        for (std::size_t sent = 0; sent < body.size();) {
            const ssize_t n = ::send(fd, body.data() + sent, body.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
    }
    std::puts("held");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 4 && arguments[0] == "forge") return forge(arguments[1], arguments[2], argv[4]);
    if ((arguments.size() == 4 || arguments.size() == 5) && arguments[0] == "exec")
        return sendThenExec(arguments[1], arguments[2], argv[4], arguments.size() == 5 ? std::stoi(arguments[4]) : -1);
    if (arguments.size() == 3 && arguments[0] == "hold") return hold(arguments[1], std::stoi(arguments[2]));
    std::fputs("usage: helper_attacker forge|exec SOCKET REQUEST APP [FD] | hold SOCKET COUNT\n", stderr);
    return 2;
}
