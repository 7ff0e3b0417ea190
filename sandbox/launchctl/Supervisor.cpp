#include "Supervisor.h"

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fmt/format.h>

#include "ErrorTexts.h"
#include "Quillwick/launchd/FileFacts.h"
#include "helperkit/SystemPaths.h"
#include "LaunchctlFailure.h"

extern char** environ;

namespace qw {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string selfExecutable()
{
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.string();
}

// Makes `fd` open as `target` without close-on-exec, whatever number it had.
void placeDescriptor(int fd, int target)
{
    if (fd == target)
        ::fcntl(fd, F_SETFD, 0);
    else
        ::dup2(fd, target);
}

void redirectStandardStreamsToNull()
{
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0)
        return;
    for (int target = 0; target <= 2; ++target)
        placeDescriptor(null, target);
    if (null > 2)
        ::close(null);
}

// The file a job names, on this machine rather than the host's.
std::optional<std::string> onMachine(const std::optional<std::string>& path)
{
    if (!path)
        return std::nullopt;
    return qw::SystemPaths::current().machinePath(*path);
}

int openOutput(const std::optional<std::string>& path)
{
    int fd = -1;
    if (const auto file = onMachine(path))
        fd = ::open(file->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    return fd;
}

std::string targetText(const LaunchdDomain& domain, const std::string& label)
{
    return ServiceTarget{domain, label}.description();
}

std::string exitText(const ExitRecord& exit)
{
    if (exit.bySignal)
        return fmt::format("exited due to {}", ErrorTexts::signalName(exit.value));
    return fmt::format("exited with exit code: {}", exit.value);
}

// Found as the job checks find it: Program, or a first argument holding "/", as it stands (an absolute
// one placed on this machine); any other first argument on the job's PATH, else launchd's own.
std::string resolveProgram(const ServiceRecord& record)
{
    const std::string program = record.executable();
    if (record.program || program.empty() || program.find('/') != std::string::npos)
        return qw::Diagnostics::programFile(program);
    std::string_view path = qw::Diagnostics::launchdPath;
    if (const auto it = record.environment.find("PATH"); it != record.environment.end())
        path = it->second;
    const auto found = qw::Diagnostics::searchPath(program, qw::Diagnostics::pathFolders(path));
    return found ? found->path : program;
}

}  // namespace

Supervisor::Supervisor(fs::path root, const StateStore& store, const LaunchdLog& log)
    : root_(std::move(root)), store_(store), log_(log)
{
    struct stat info {};
    if (::stat(root_.c_str(), &info) == 0) {
        rootDevice_ = info.st_dev;
        rootInode_ = info.st_ino;
    }
}

int Supervisor::spawn(const LaunchdDomain& domain, ServiceRecord& record, DomainState& state,
                      const std::string& reason) const
{
    const std::string self = selfExecutable();
    if (self.empty())
        throw LaunchctlFailure(EIO, "launchctl: cannot find its own executable to supervise the job");
    record.generation = state.takeGeneration();
    const std::string generation = std::to_string(record.generation);
    const std::string domainText = domain.description();
    std::vector<const char*> argv{"launchctl", modeArgument, domainText.c_str(), record.label.c_str(),
                                  generation.c_str(), reason.c_str(), nullptr};
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        throw LaunchctlFailure(EIO, fmt::format("launchctl: cannot start a supervisor: {}", std::strerror(errno)));
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        ::close(ready[0]);
        ::close(ready[1]);
        throw LaunchctlFailure(EIO, fmt::format("launchctl: cannot start a supervisor: {}", std::strerror(error)));
    }
    if (pid == 0) {
        ::setsid();
        // The caller reads our standard output to its end: nothing of it may stay open here.
        placeDescriptor(ready[1], 3);
        redirectStandardStreamsToNull();
        ::close_range(4, UINT_MAX, 0);
        ::execv(self.c_str(), const_cast<char* const*>(argv.data()));
        ::_exit(127);
    }
    ::close(ready[1]);
    record.supervisorPid = pid;
    record.supervisorPgid = pid;  // setsid made it the leader of its own group
    return ready[0];
}

void Supervisor::awaitStart(int descriptor, std::chrono::milliseconds timeout)
{
    if (descriptor < 0)
        return;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd entry{descriptor, POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char byte;
        const auto got = ::read(descriptor, &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        break;  // a byte, or the end: either way the supervisor is past its first start
    }
    ::close(descriptor);
}

bool Supervisor::rootExists() const
{
    struct stat info {};
    return ::stat(root_.c_str(), &info) == 0 && info.st_dev == rootDevice_ && info.st_ino == rootInode_ &&
           ::access(store_.folder().c_str(), F_OK) == 0;
}

bool Supervisor::stillOwns(const LaunchdDomain& domain, const std::string& label, std::int64_t generation) const
{
    try {
        const DomainState state = store_.load(domain);
        const auto it = state.services.find(label);
        return it != state.services.end() && it->second.generation == generation && !it->second.penaltyBox;
    } catch (const LaunchctlFailure&) {
        return true;  // unreadable for now: ask again on the next round
    }
}

std::optional<Supervisor::Started> Supervisor::start(const LaunchdDomain& domain, const std::string& label,
                                                     std::int64_t generation) const
{
    const auto lock = store_.lock();
    DomainState state = store_.load(domain);
    const auto it = state.services.find(label);
    if (it == state.services.end() || it->second.generation != generation || it->second.penaltyBox)
        return std::nullopt;
    ServiceRecord& record = it->second;

    // Everything the child needs is built before fork.
    const std::string program = resolveProgram(record);
    const std::vector<std::string> arguments = record.argv();
    std::vector<const char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view text(*entry);
        const auto name = text.substr(0, text.find('='));
        if (name == "QUILLWICK_ROOT" || !record.environment.count(std::string(name)))
            environment.emplace_back(text);
    }
    for (const auto& [name, value] : record.environment)
        if (name != "QUILLWICK_ROOT")  // a job stays on this machine, and halting finds it by it
            environment.push_back(name + "=" + value);
    std::vector<const char*> envp;
    for (const auto& entry : environment)
        envp.push_back(entry.c_str());
    envp.push_back(nullptr);
    const int out = openOutput(record.standardOutPath);
    const int err = openOutput(record.standardErrorPath);
    const std::optional<std::string> workingDirectory = onMachine(record.workingDirectory);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        throw LaunchctlFailure(EIO, fmt::format("launchctl: cannot start {}: {}", label, std::strerror(errno)));
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        ::close(out);
        ::close(err);
        throw LaunchctlFailure(EIO, fmt::format("launchctl: cannot start {}: {}", label, std::strerror(error)));
    }
    if (pid == 0) {
        ::setsid();
        const int in = ::open("/dev/null", O_RDONLY);
        placeDescriptor(in, 0);
        placeDescriptor(out, 1);
        placeDescriptor(err, 2);
        int error = 0;
        if (workingDirectory && ::chdir(workingDirectory->c_str()) != 0)
            error = errno;
        if (!error) {
            ::execve(program.c_str(), const_cast<char* const*>(argv.data()), const_cast<char* const*>(envp.data()));
            error = errno;
        }
        [[maybe_unused]] const auto written = ::write(report[1], &error, sizeof error);
        ::_exit(78);  // what launchd records for a job it cannot start
    }
    ::close(report[1]);
    ::close(out);
    ::close(err);
    int execError = 0;
    while (::read(report[0], &execError, sizeof execError) < 0 && errno == EINTR) {
    }
    ::close(report[0]);

    Started started{pid, execError, now(), program};
    record.runs += 1;
    record.lastStart = started.startTime;
    record.spawnScheduled = false;
    if (execError == 0)
        record.pid = pid;
    store_.save(domain, state);
    return started;
}

std::optional<ExitRecord> Supervisor::waitForExit(pid_t pid) const
{
    for (;;) {
        siginfo_t info{};
        // Not reaped yet: until the exit is recorded, the pid cannot be reused under launchctl's feet.
        const int waited = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if (waited == 0 && info.si_pid == pid) {
            if (info.si_code == CLD_EXITED)
                return ExitRecord{false, info.si_status};
            return ExitRecord{true, ErrorTexts::macSignalFromHost(info.si_status)};
        }
        if (waited != 0 && errno == ECHILD)
            return ExitRecord{true, 9};  // not ours to wait for any more: it is gone
        if (!rootExists())
            return std::nullopt;
        std::this_thread::sleep_for(20ms);
    }
}

Supervisor::Outcome Supervisor::recordExit(const LaunchdDomain& domain, const std::string& label,
                                           std::int64_t generation, const Started& started,
                                           const ExitRecord& exit) const
{
    Outcome outcome;
    const auto lock = store_.lock();
    DomainState state = store_.load(domain);
    const auto it = state.services.find(label);
    if (it == state.services.end() || it->second.generation != generation)
        return outcome;  // booted out, or another supervisor took over and recorded what it did
    ServiceRecord& record = it->second;
    if (record.pid && *record.pid != started.pid)
        return outcome;
    record.pid.reset();
    record.lastExit = exit;
    const double ran = std::max(0.0, now() - started.startTime);
    outcome.ranSeconds = ran;
    const double throttle = std::max(0, record.throttleInterval);
    if (record.restartsAfter(exit)) {
        record.fastExits = ran < throttle ? record.fastExits + 1 : 0;
        // The next message starts a Mach service however often it crashed: it is only spaced out, never
        // left waiting for a kickstart.
        if (record.fastExits >= 3 && !record.machServices) {
            record.penaltyBox = true;
            outcome.penaltyBox = true;
        } else {
            record.spawnScheduled = true;
            outcome.restart = true;
            if (record.keepAlive == ServiceRecord::KeepAlive::never)
                outcome.reason = "ipc (mach)";
            // Starts are at least ThrottleInterval apart, as launchd spaces them.
            outcome.delaySeconds = std::max(0.0, throttle - ran);
        }
    } else {
        record.fastExits = 0;
    }
    store_.save(domain, state);
    return outcome;
}

int Supervisor::run(const std::vector<std::string>& arguments) const
{
    if (arguments.size() != 4)
        return 64;
    const auto domain = LaunchdDomain::parse(arguments[0]);
    if (!domain)
        return 64;
    const std::string& label = arguments[1];
    const std::int64_t generation = std::stoll(arguments[2]);
    std::string reason = arguments[3];
    const std::string target = targetText(*domain, label);
    ::signal(SIGPIPE, SIG_IGN);
    // Jobs start in "/" unless they name a WorkingDirectory, and the caller's folder may go away.
    [[maybe_unused]] const int changed = ::chdir("/");

    int ready = 3;
    ::fcntl(ready, F_SETFD, FD_CLOEXEC);  // jobs must not inherit it
    const auto announce = [&ready] {
        if (ready < 0)
            return;
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(ready, &byte, 1);
        ::close(ready);
        ready = -1;
    };

    for (;;) {
        std::optional<Started> started;
        try {
            started = start(*domain, label, generation);
        } catch (const LaunchctlFailure& failure) {
            log_.service(target, std::nullopt, failure.what());
        }
        announce();
        if (!started)
            return 0;
        if (started->execError != 0)
            log_.service(target, started->pid,
                         fmt::format("Could not find and/or execute program specified by service: {}: {}: {}",
                                     started->execError, std::strerror(started->execError), started->program));
        else
            log_.service(target, started->pid, fmt::format("Successfully spawned {}[{}] because {}",
                                                           fs::path(started->program).filename().string(),
                                                           started->pid, reason));

        const std::optional<ExitRecord> exit = waitForExit(started->pid);
        if (!exit) {
            // The root is gone: nothing is left to record into, and nothing may outlive it.
            ::kill(-started->pid, SIGKILL);
            ::kill(started->pid, SIGKILL);
            ::waitpid(started->pid, nullptr, 0);
            return 0;
        }
        Outcome outcome;
        try {
            outcome = recordExit(*domain, label, generation, *started, *exit);
        } catch (const LaunchctlFailure& failure) {
            log_.service(target, started->pid, failure.what());
        }
        ::waitpid(started->pid, nullptr, 0);
        ::kill(-started->pid, SIGKILL);  // what the job left behind in its group goes with it
        log_.service(target, started->pid, exitText(*exit));
        if (outcome.penaltyBox) {
            log_.service(target, std::nullopt,
                         "Service has exited too quickly too often and is in the penalty box; it waits for a kickstart.");
            return 0;
        }
        if (!outcome.restart)
            return 0;
        if (outcome.delaySeconds > 0)
            log_.service(target, std::nullopt,
                         fmt::format("Service only ran for {} seconds. Pushing respawn out by {} seconds.",
                                     static_cast<long>(outcome.ranSeconds),
                                     static_cast<long>(std::ceil(outcome.delaySeconds))));
        const auto wakeAt = std::chrono::steady_clock::now() +
                            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                std::chrono::duration<double>(outcome.delaySeconds));
        auto nextCheck = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() < wakeAt) {
            if (!rootExists())
                return 0;
            if (std::chrono::steady_clock::now() >= nextCheck) {
                if (!stillOwns(*domain, label, generation))
                    return 0;
                nextCheck = std::chrono::steady_clock::now() + 200ms;
            }
            std::this_thread::sleep_for(20ms);
        }
        reason = outcome.reason;
    }
}

}  // namespace qw
