// Stands in for the application on the helper's socket in the attack tests: connects, sends one request
// and prints the reply's JSON, or "closed" when the helper ends the connection instead. It can load a
// library first, wait for a line on standard input before sending, or hand its connection to another
// program that sends in its place.
//
//   helper_test_peer SOCKET REQUEST [--load LIBRARY] [--pause] [--hand-to PROGRAM]
//   helper_test_peer --fd N REQUEST
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "helperkit/HelperSocket.h"

namespace {

int sendOn(int fd, const std::string& request) {
    qw::HelperSocket::FrameReader reader;
    try {
        qw::HelperSocket::writeFrame(fd, request);
        if (auto reply = qw::HelperSocket::readFrame(fd, reader)) {
            std::fwrite(reply->data(), 1, reply->size(), stdout);
            return 0;
        }
    } catch (const qw::HelperSocket::FrameError&) {
    }
    std::fputs("closed", stdout);
    return 0;
}

int usage() {
    std::fputs("usage: helper_test_peer SOCKET REQUEST [--load LIBRARY] [--pause] [--hand-to PROGRAM]\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 3 && arguments[0] == "--fd") return sendOn(std::stoi(arguments[1]), arguments[2]);
    qw::HelperSocket::sealProcess();  // as the application does
    if (arguments.size() < 2) return usage();
    std::string library, handTo;
    bool pause = false;
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        if (arguments[i] == "--pause")
            pause = true;
        else if (arguments[i] == "--load" && i + 1 < arguments.size())
            library = arguments[++i];
        else if (arguments[i] == "--hand-to" && i + 1 < arguments.size())
            handTo = arguments[++i];
        else
            return usage();
    }
    if (!library.empty() && !::dlopen(library.c_str(), RTLD_NOW)) {
        std::fprintf(stderr, "%s\n", ::dlerror());
        return 2;
    }
    int fd = -1;
    try {
        fd = qw::HelperSocket::connectTo(arguments[0]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 2;
    }
    if (pause) {
        std::puts("ready");
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
    }
    if (handTo.empty()) return sendOn(fd, arguments[1]);

    // The connection is ours; the request comes from the other program, while we stay alive.
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        ::fcntl(fd, F_SETFD, 0);
        const std::string number = std::to_string(fd);
        ::execl(handTo.c_str(), handTo.c_str(), "--fd", number.c_str(), arguments[1].c_str(), nullptr);
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}
