#include "helperkit/Subprocess.h"
#include "helperkit/Text.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "helperkit/Utf8.h"

extern char** environ;

namespace qw::Subprocess {

namespace {

std::string trimmed(const std::string& text) { return std::string(Text::trimmedWhitespace(text)); }

std::string errorText(int error) { return std::system_category().message(error); }

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& o) noexcept : fd_(o.release()) {}
    Fd& operator=(Fd&& o) noexcept {
        reset(o.release());
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

struct Pipe {
    Fd read, write;
};

// Both ends close-on-exec, so a program started on another thread meanwhile never holds them open.
// Ends are kept above the standard descriptors: dup2 onto the same number would keep close-on-exec.
Pipe makePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::system_category());
    Pipe p{Fd(fds[0]), Fd(fds[1])};
    for (Fd* end : {&p.read, &p.write}) {
        if (end->get() > STDERR_FILENO) continue;
        const int moved = ::fcntl(end->get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (moved < 0) throw std::system_error(errno, std::system_category());
        end->reset(moved);
    }
    return p;
}

void setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Blocks SIGPIPE on this thread for the lifetime of the object, so that writing to a program that has
// gone away gives EPIPE instead of killing the caller; a SIGPIPE this run raised is consumed, one that
// was pending before is left alone.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigemptyset(&pipeSet_);
        sigaddset(&pipeSet_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSet_, &previousMask_);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeGuard() {
        if (!wasPending_) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec zero{0, 0};
                while (sigtimedwait(&pipeSet_, nullptr, &zero) < 0 && errno == EINTR) {
                }
            }
        }
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t pipeSet_;
    sigset_t previousMask_;
    bool wasPending_ = false;
};

class SpawnSetup {
public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

pid_t waitFor(pid_t pid, int& status) {
    pid_t r;
    do {
        r = ::waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    return r;
}

}  // namespace

std::string Result::message() const {
    std::string error = trimmed(standardError);
    return error.empty() ? trimmed(standardOutput) : error;
}

Failure::Failure(std::string executable, std::string underlying)
    : std::runtime_error("Could not run " + executable + ": " + underlying),
      executable_(std::move(executable)),
      underlying_(std::move(underlying)) {}

Result runBytes(const std::string& executable, const std::vector<std::string>& arguments,
                const std::optional<std::string>& input, const std::optional<Environment>& environment,
                const std::optional<std::filesystem::path>& currentDirectory) {
    if (executable.empty()) throw Failure(executable, errorText(ENOENT));

    std::vector<std::string> argStorage;
    argStorage.reserve(arguments.size() + 1);
    argStorage.push_back(executable);
    argStorage.insert(argStorage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : argStorage) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> envStorage;
    std::vector<char*> envp;
    if (environment) {
        for (const auto& [key, value] : *environment) envStorage.push_back(key + "=" + value);
        for (auto& e : envStorage) envp.push_back(e.data());
        envp.push_back(nullptr);
    }

    SigpipeGuard sigpipe;
    Pipe out, err, in;
    try {
        out = makePipe();
        err = makePipe();
        if (input) in = makePipe();
    } catch (const std::system_error& e) {
        throw Failure(executable, errorText(e.code().value()));
    }

    SpawnSetup setup;
    if (input) posix_spawn_file_actions_adddup2(&setup.actions, in.read.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, out.write.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, err.write.get(), STDERR_FILENO);
    if (currentDirectory) posix_spawn_file_actions_addchdir_np(&setup.actions, currentDirectory->c_str());
    // The program starts as the platform starts one: only the three standard descriptors, every signal
    // at its default and none blocked, whatever the calling thread ignores or blocks (a job started by
    // it must not inherit a socket, nor be deaf to TERM).
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&setup.attributes, &all);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, executable.c_str(), &setup.actions, &setup.attributes, argv.data(),
                                      environment ? envp.data() : environ);
    if (spawned != 0) throw Failure(executable, errorText(spawned));

    out.write.reset();
    err.write.reset();
    in.read.reset();

    std::string outBytes, errBytes;
    std::size_t written = 0;
    setNonBlocking(out.read.get());
    setNonBlocking(err.read.get());
    if (input) {
        setNonBlocking(in.write.get());
        if (input->empty()) in.write.reset();
    }

    // One loop feeds the input and drains both outputs, so neither side can stall the other.
    char buffer[65536];
    while (out.read || err.read || in.write) {
        pollfd fds[3];
        nfds_t count = 0;
        int outIndex = -1, errIndex = -1, inIndex = -1;
        if (out.read) fds[outIndex = int(count++)] = {out.read.get(), POLLIN, 0};
        if (err.read) fds[errIndex = int(count++)] = {err.read.get(), POLLIN, 0};
        if (in.write) fds[inIndex = int(count++)] = {in.write.get(), POLLOUT, 0};
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        auto drain = [&](int index, Fd& fd, std::string& sink) {
            if (index < 0 || fds[index].revents == 0) return;
            const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
            if (n > 0)
                sink.append(buffer, std::size_t(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                fd.reset();
        };
        drain(outIndex, out.read, outBytes);
        drain(errIndex, err.read, errBytes);
        // POLLERR (the program closed its input or ended) is left to write() to report as EPIPE.
        if (inIndex >= 0 && fds[inIndex].revents != 0) {
            const ssize_t n = ::write(in.write.get(), input->data() + written, input->size() - written);
            if (n >= 0) {
                written += std::size_t(n);
                if (written == input->size()) in.write.reset();
            } else if (errno != EAGAIN && errno != EINTR) {
                in.write.reset();
            }
        }
    }
    out.read.reset();
    err.read.reset();
    in.write.reset();

    int status = 0;
    Result result;
    // With SIGCHLD ignored the status is gone; that must not read as success.
    if (waitFor(pid, status) < 0)
        result.exitStatus = -1;
    else if (WIFEXITED(status))
        result.exitStatus = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.exitStatus = 128 + WTERMSIG(status);
    result.standardOutput = std::move(outBytes);
    result.standardError = std::move(errBytes);
    return result;
}

Result run(const std::string& executable, const std::vector<std::string>& arguments,
           const std::optional<std::string>& input, const std::optional<Environment>& environment,
           const std::optional<std::filesystem::path>& currentDirectory) {
    Result result = runBytes(executable, arguments, input, environment, currentDirectory);
    result.standardOutput = Utf8::sanitized(result.standardOutput);
    result.standardError = Utf8::sanitized(result.standardError);
    return result;
}

}  // namespace qw::Subprocess
