#include "Launchd.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <set>

#include <fmt/format.h>

#include "helperkit/PlistFile.h"
#include "ErrorTexts.h"
#include "LaunchctlFailure.h"
#include "ProcessTools.h"
#include "ServicePrinter.h"

namespace qw {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kUsageStatus = 64;

[[noreturn]] void usageFailure(const std::string& line)
{
    throw LaunchctlFailure(kUsageStatus, "Usage: launchctl " + line);
}

bool isSupported(const LaunchdDomain& domain)
{
    const auto kind = domain.kind();
    return kind == LaunchdDomain::Kind::gui || kind == LaunchdDomain::Kind::user || kind == LaunchdDomain::Kind::system;
}

std::string domainPhrase(const LaunchdDomain& domain)
{
    switch (domain.kind()) {
    case LaunchdDomain::Kind::gui: return fmt::format("user gui: {}", domain.number());
    case LaunchdDomain::Kind::user: return fmt::format("user: {}", domain.number());
    case LaunchdDomain::Kind::session: return fmt::format("session: {}", domain.number());
    case LaunchdDomain::Kind::pid: return fmt::format("pid: {}", domain.number());
    case LaunchdDomain::Kind::system: break;
    }
    return "system";
}

std::string notFound(const LaunchdDomain& domain, const std::string& label)
{
    return fmt::format("Could not find service \"{}\" in domain for {}", label, domainPhrase(domain));
}

LaunchdDomain domainArgument(const std::string& text, const std::string& usageLine)
{
    const auto domain = LaunchdDomain::parse(text);
    if (!domain)
        throw LaunchctlFailure(kUsageStatus, "Unrecognized target specifier.\nUsage: launchctl " + usageLine);
    if (!isSupported(*domain))
        throw LaunchctlFailure(112, fmt::format("Could not find domain for {}", domainPhrase(*domain)));
    return *domain;
}

ServiceTarget targetArgument(const std::string& text, const std::string& usageLine)
{
    const auto target = ServiceTarget::parse(text);
    if (!target)
        throw LaunchctlFailure(kUsageStatus, "Unrecognized target specifier.\nUsage: launchctl " + usageLine);
    if (!isSupported(target->domain))
        throw LaunchctlFailure(113, notFound(target->domain, target->label));
    return *target;
}

std::optional<std::string> stringKey(const PlistFile& file, std::string_view key)
{
    if (const PlistValue* value = file.find(key))
        return value->stringValue();
    return std::nullopt;
}

std::optional<bool> boolKey(const PlistDictionary& dictionary, std::string_view key)
{
    if (const PlistValue* value = dictionary.find(key))
        return value->boolValue();
    return std::nullopt;
}

// A pid whose supervisor is gone (killed from outside) is watched by no one and may be reused:
// it is neither shown as running nor signalled.
void forgetUnsupervised(DomainState& state)
{
    for (auto& [label, record] : state.services) {
        if (record.supervisorPid && ProcessTools::isAlive(*record.supervisorPid))
            continue;
        record.pid.reset();
        record.spawnScheduled = false;
    }
}

DomainState loadLive(const StateStore& store, const LaunchdDomain& domain)
{
    DomainState state = store.load(domain);
    forgetUnsupervised(state);
    return state;
}

struct JobFile {
    ServiceRecord record;
    bool disabledByDefault = false;
};

// What bootstrap takes from a job file. The reason for a refusal goes to the log; launchctl itself
// answers with launchd's terse status.
// `readFrom`, when given, names the same file as `path` (a descriptor already open on it).
JobFile readJobFile(const fs::path& path, const std::function<void(const std::string&)>& refuse,
                    const fs::path& readFrom = {})
{
    PlistFile file;
    try {
        file = PlistFile::read(readFrom.empty() ? path : readFrom);
    } catch (const PlistFile::ReadError& error) {
        refuse(PlistFile::ReadError(error.kind(), path, error.underlying()).what());
    } catch (const std::exception& error) {
        refuse(fmt::format("Could not read {}: {}", path.filename().string(), error.what()));
    }
    JobFile job;
    ServiceRecord& record = job.record;
    record.path = path.string();
    const auto label = stringKey(file, "Label");
    if (!label || label->empty())
        refuse(fmt::format("{} has no Label", path.string()));
    record.label = *label;
    record.program = stringKey(file, "Program");
    if (const PlistValue* arguments = file.find("ProgramArguments"); arguments && arguments->isArray())
        record.arguments = arguments->stringArrayValue().value_or(std::vector<std::string>{});
    if (record.executable().empty())
        refuse(fmt::format("{} has neither Program nor ProgramArguments", path.string()));
    record.workingDirectory = stringKey(file, "WorkingDirectory");
    record.standardOutPath = stringKey(file, "StandardOutPath");
    record.standardErrorPath = stringKey(file, "StandardErrorPath");
    if (const PlistValue* environment = file.find("EnvironmentVariables")) {
        if (const PlistDictionary* variables = environment->dictionaryValue())
            for (const auto& [name, value] : *variables)
                if (const auto text = value.stringValue())
                    record.environment[name] = *text;
    }
    if (const PlistValue* keepAlive = file.find("KeepAlive")) {
        if (const PlistDictionary* conditions = keepAlive->dictionaryValue()) {
            record.keepAlive = ServiceRecord::KeepAlive::conditional;
            record.successfulExit = boolKey(*conditions, "SuccessfulExit");
            record.crashed = boolKey(*conditions, "Crashed");
        } else if (keepAlive->boolValue().value_or(false)) {
            record.keepAlive = ServiceRecord::KeepAlive::always;
        }
    }
    if (const PlistValue* runAtLoad = file.find("RunAtLoad"))
        record.runAtLoad = runAtLoad->boolValue().value_or(false);
    if (const PlistValue* machServices = file.find("MachServices")) {
        const PlistDictionary* services = machServices->dictionaryValue();
        record.machServices = services && !services->empty();
    }
    // At least a second: a KeepAlive job that exits at once would otherwise be restarted in a tight loop.
    if (const PlistValue* throttle = file.find("ThrottleInterval"))
        record.throttleInterval = static_cast<int>(std::clamp<std::int64_t>(throttle->intValue().value_or(10), 1, 86400));
    // Only printed: the stand-in fires no timers.
    if (const PlistValue* calendar = file.find("StartCalendarInterval")) {
        std::vector<const PlistDictionary*> entries;
        if (const PlistDictionary* one = calendar->dictionaryValue())
            entries.push_back(one);
        else if (const PlistArray* many = calendar->arrayValue())
            for (const auto& element : *many)
                if (const PlistDictionary* entry = element.dictionaryValue())
                    entries.push_back(entry);
        for (const PlistDictionary* entry : entries) {
            std::map<std::string, std::int64_t> fields;
            for (const auto& [key, value] : *entry)
                if (const auto number = value.intValue())
                    fields[key] = *number;
            record.calendarIntervals.push_back(std::move(fields));
        }
    }
    if (const PlistValue* disabled = file.find("Disabled"))
        job.disabledByDefault = disabled->boolValue().value_or(false);
    return job;
}

}  // namespace

bool Launchd::rootMayTrust(const struct stat& file) const
{
    struct stat root {};
    const bool ownedByRoot = file.st_uid == 0 || (::stat(root_.c_str(), &root) == 0 && file.st_uid == root.st_uid);
    return ownedByRoot && (file.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

Launchd::Launchd(fs::path root)
    : root_(std::move(root)),
      store_(root_ / "private/var/db/launchd"),
      log_(root_ / "private/var/log/launchd.log"),
      supervisor_(root_, store_, log_)
{
}

void Launchd::requireChangeRight(const std::string& failure) const
{
    const uid_t caller = ::geteuid();
    struct stat info {};
    if (caller == 0 || (::stat(root_.c_str(), &info) == 0 && info.st_uid == caller))
        return;
    throw LaunchctlFailure(EPERM, failure.ends_with('.') ? failure
                                                         : fmt::format("{}: {}: {}", failure, EPERM, ErrorTexts::describe(EPERM)));
}

std::string Launchd::usage()
{
    return "Usage: launchctl <subcommand> ... | help [subcommand]\n"
           "Subcommands:\n"
           "\tbootstrap       Bootstraps a domain or a service into a domain.\n"
           "\tbootout         Tears down a domain or removes a service from a domain.\n"
           "\tenable          Enables an existing service.\n"
           "\tdisable         Disables an existing service.\n"
           "\tkickstart       Forces an existing service to start.\n"
           "\tkill            Sends a signal to the service instance.\n"
           "\tprint           Prints a description of a domain or service.\n"
           "\tprint-disabled  Prints which services are disabled.\n"
           "\tlist            Lists information about services.\n"
           "\terror           Prints a description of an error.";
}

int Launchd::run(const std::vector<std::string>& arguments, std::ostream& out)
{
    if (arguments.empty())
        throw LaunchctlFailure(kUsageStatus, usage());
    const std::string& verb = arguments.front();
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    if (verb == "list")
        return list(rest, out);
    if (verb == "print")
        return print(rest, out);
    if (verb == "print-disabled")
        return printDisabled(rest, out);
    if (verb == "bootstrap")
        return bootstrap(rest);
    if (verb == "bootout")
        return bootout(rest);
    if (verb == "enable")
        return setDisabled(rest, false);
    if (verb == "disable")
        return setDisabled(rest, true);
    if (verb == "kickstart")
        return kickstart(rest);
    if (verb == "kill")
        return kill(rest);
    if (verb == "error")
        return error(rest, out);
    if (verb == "sandbox-halt")
        return halt();
    throw LaunchctlFailure(kUsageStatus, fmt::format("Unrecognized subcommand: {}\n{}", verb, usage()));
}

int Launchd::list(const std::vector<std::string>& arguments, std::ostream& out)
{
    if (!arguments.empty())
        usageFailure("list");
    const auto domain = LaunchdDomain::gui(static_cast<std::uint32_t>(::geteuid()));
    const DomainState state = loadLive(store_, domain);
    out << ServicePrinter::list(state);
    return 0;
}

int Launchd::print(const std::vector<std::string>& arguments, std::ostream& out)
{
    const std::string usageLine = "print <domain-target> | <service-target>";
    if (arguments.size() != 1)
        usageFailure(usageLine);
    if (const auto domain = LaunchdDomain::parse(arguments[0])) {
        if (!isSupported(*domain))
            throw LaunchctlFailure(112, fmt::format("Could not find domain for {}", domainPhrase(*domain)));
        const DomainState state = loadLive(store_, *domain);
        out << ServicePrinter::domain(*domain, state);
        return 0;
    }
    const ServiceTarget target = targetArgument(arguments[0], usageLine);
    const DomainState state = loadLive(store_, target.domain);
    const auto it = state.services.find(target.label);
    if (it == state.services.end())
        throw LaunchctlFailure(113, "Bad request.\n" + notFound(target.domain, target.label));
    out << ServicePrinter::service(target.domain, it->second);
    return 0;
}

int Launchd::printDisabled(const std::vector<std::string>& arguments, std::ostream& out)
{
    const std::string usageLine = "print-disabled <domain-target>";
    if (arguments.size() != 1)
        usageFailure(usageLine);
    const LaunchdDomain domain = domainArgument(arguments[0], usageLine);
    const DomainState state = store_.load(domain);
    out << ServicePrinter::disabled(state);
    return 0;
}

int Launchd::bootstrap(const std::vector<std::string>& arguments)
{
    const std::string usageLine = "bootstrap <domain-target> [service-path, service-path2, ...]";
    if (arguments.size() < 2)
        usageFailure(usageLine);
    const LaunchdDomain domain = domainArgument(arguments[0], usageLine);
    requireChangeRight("Bootstrap failed");
    // Every path is tried; the status is that of the last failure, as launchctl reports it.
    std::optional<LaunchctlFailure> failure;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        try {
            bootstrapOne(domain, arguments[i]);
        } catch (const LaunchctlFailure& error) {
            failure = error;
        }
    }
    // launchctl run without root says so. Only the helper, standing in for root, acts on the system
    // domain here; whoever acts on another domain is the user, whatever the real uid.
    if (failure && domain.kind() != LaunchdDomain::Kind::system)
        throw LaunchctlFailure(failure->status(),
                               std::string(failure->what()) + "\nTry re-running the command as root for richer errors.");
    if (failure)
        throw *failure;
    return 0;
}

void Launchd::bootstrapOne(const LaunchdDomain& domain, const fs::path& path)
{
    const std::string domainText = domain.description();
    const auto refuse = [&](const std::string& reason) {
        log_.service(domainText, std::nullopt, fmt::format("Bootstrap failed for {}: {}", path.string(), reason));
        throw LaunchctlFailure(EIO, "Bootstrap failed: 5: Input/output error");
    };
    // Checked and read through one descriptor, so that what is loaded is what was checked.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        log_.service(domainText, std::nullopt, fmt::format("Bootstrap failed for {}: no such file", path.string()));
        throw LaunchctlFailure(ENOENT, "Bootstrap failed: 2: No such file or directory");
    }
    if (fd < 0)
        refuse(fmt::format("Could not read {}: {}", path.filename().string(), ErrorTexts::describe(errno)));
    JobFile job;
    try {
        struct stat info {};
        if (domain.kind() == LaunchdDomain::Kind::system && (::fstat(fd, &info) != 0 || !rootMayTrust(info))) {
            log_.service(domainText, std::nullopt,
                         fmt::format("Caller specified a plist with bad ownership/permissions: path = {}, caller = "
                                     "launchctl.{}",
                                     path.string(), ::getpid()));
            throw LaunchctlFailure(EIO, fmt::format("{}: {}\nBootstrap failed: 5: Input/output error", path.string(),
                                                    ErrorTexts::describe(122)));
        }
        job = readJobFile(path, refuse, fmt::format("/proc/self/fd/{}", fd));
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    const std::string target = ServiceTarget{domain, job.record.label}.description();

    int ready = -1;
    {
        const auto lock = store_.lock();
        DomainState state = store_.load(domain);
        if (state.services.count(job.record.label)) {
            log_.service(target, std::nullopt, "Bootstrap failed: service already loaded");
            throw LaunchctlFailure(EIO, "Bootstrap failed: 5: Input/output error");
        }
        const auto override = state.disabled.find(job.record.label);
        const bool disabled = override != state.disabled.end() ? override->second : job.disabledByDefault;
        if (disabled) {
            log_.service(target, std::nullopt, "Bootstrap failed: service is disabled");
            throw LaunchctlFailure(119, fmt::format("{}: Service is disabled\nBootstrap failed: 119: Service is disabled",
                                                    path.string()));
        }
        ServiceRecord& record = state.services.emplace(job.record.label, job.record).first->second;
        if (record.startsAtLoad())
            ready = supervisor_.spawn(domain, record, state, "load");
        store_.save(domain, state);
    }
    Supervisor::awaitStart(ready);
}

int Launchd::bootout(const std::vector<std::string>& arguments)
{
    const std::string usageLine = "bootout <domain-target> [service-path1, service-path2, ...] | <service-target>";
    if (arguments.size() == 1) {
        const ServiceTarget target = targetArgument(arguments[0], usageLine);
        requireChangeRight("Boot-out failed");
        bootoutLabel(target.domain, target.label);
        return 0;
    }
    if (arguments.size() < 2)
        usageFailure(usageLine);
    const LaunchdDomain domain = domainArgument(arguments[0], usageLine);
    requireChangeRight("Boot-out failed");
    std::optional<LaunchctlFailure> failure;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        try {
            const JobFile job = readJobFile(arguments[i], [](const std::string&) {
                throw LaunchctlFailure(EIO, "Boot-out failed: 5: Input/output error");
            });
            bootoutLabel(domain, job.record.label);
        } catch (const LaunchctlFailure& error) {
            failure = error;
        }
    }
    if (failure)
        throw *failure;
    return 0;
}

void Launchd::bootoutLabel(const LaunchdDomain& domain, const std::string& label)
{
    ServiceRecord removed;
    {
        const auto lock = store_.lock();
        DomainState state = loadLive(store_, domain);
        const auto it = state.services.find(label);
        if (it == state.services.end())
            throw LaunchctlFailure(ESRCH, "Boot-out failed: 3: No such process");
        removed = it->second;
        state.services.erase(it);  // disabled records stay, as launchd keeps them
        store_.save(domain, state);
    }
    if (removed.pid)
        ProcessTools::stop(*removed.pid, 2s);
    // Its supervisor sees the service gone and ends; one that does not is ended here.
    if (removed.supervisorPid && !ProcessTools::waitUntilGone(*removed.supervisorPid, 1s)) {
        ::kill(-removed.supervisorPgid.value_or(*removed.supervisorPid), SIGKILL);
        ProcessTools::waitUntilGone(*removed.supervisorPid, 1s);
    }
}

int Launchd::setDisabled(const std::vector<std::string>& arguments, bool disabled)
{
    const std::string usageLine = disabled ? "disable <service-target>" : "enable <service-target>";
    if (arguments.size() != 1)
        usageFailure(usageLine);
    const ServiceTarget target = targetArgument(arguments[0], usageLine);
    requireChangeRight("Not privileged to set domain overrides.");
    const auto lock = store_.lock();
    DomainState state = store_.load(target.domain);
    state.disabled[target.label] = disabled;
    store_.save(target.domain, state);
    return 0;
}

int Launchd::kickstart(const std::vector<std::string>& arguments)
{
    const std::string usageLine = "kickstart [-k] <service-target>";
    bool killing = false;
    std::vector<std::string> rest;
    for (const auto& argument : arguments) {
        if (argument == "-k")
            killing = true;
        else if (!argument.empty() && argument[0] == '-')
            usageFailure(usageLine);
        else
            rest.push_back(argument);
    }
    if (rest.size() != 1)
        usageFailure(usageLine);
    const ServiceTarget target = targetArgument(rest[0], usageLine);
    requireChangeRight(fmt::format("Could not kickstart service \"{}\"", target.label));
    int ready = -1;
    {
        const auto lock = store_.lock();
        DomainState state = loadLive(store_, target.domain);
        const auto it = state.services.find(target.label);
        if (it == state.services.end())
            throw LaunchctlFailure(113, notFound(target.domain, target.label));
        ServiceRecord& record = it->second;
        if (record.pid && !killing)
            return 0;
        if (record.pid) {
            // Its supervisor sees a newer generation and leaves the record to the new one.
            ::kill(-*record.pid, SIGKILL);
            ::kill(*record.pid, SIGKILL);
            record.pid.reset();
            record.lastExit = ExitRecord{true, 9};
        }
        record.penaltyBox = false;
        record.fastExits = 0;
        record.spawnScheduled = false;
        ready = supervisor_.spawn(target.domain, record, state, killing ? "kickstart-kill" : "kickstart");
        store_.save(target.domain, state);
    }
    Supervisor::awaitStart(ready);
    return 0;
}

int Launchd::kill(const std::vector<std::string>& arguments)
{
    const std::string usageLine = "kill <signal-name|signal-number> <service-target>";
    if (arguments.size() != 2)
        usageFailure(usageLine);
    const auto macSignal = ErrorTexts::macSignal(arguments[0]);
    const auto hostSignal = macSignal ? ErrorTexts::hostSignalFromMac(*macSignal) : std::nullopt;
    if (!hostSignal)
        throw LaunchctlFailure(kUsageStatus, fmt::format("Unrecognized signal specifier: {}\nUsage: launchctl {}",
                                                         arguments[0], usageLine));
    const ServiceTarget target = targetArgument(arguments[1], usageLine);
    requireChangeRight("Could not kill service");
    // Under the lock the recorded pid is still unreaped: its supervisor records an exit before reaping.
    const auto lock = store_.lock();
    const DomainState state = loadLive(store_, target.domain);
    const auto it = state.services.find(target.label);
    if (it == state.services.end())
        throw LaunchctlFailure(113, notFound(target.domain, target.label));
    if (!it->second.pid)
        throw LaunchctlFailure(ESRCH, "Could not kill service: 3: No such process");
    if (::kill(*it->second.pid, *hostSignal) != 0)
        throw LaunchctlFailure(errno, fmt::format("Could not kill service: {}: {}", errno, ErrorTexts::describe(errno)));
    return 0;
}

int Launchd::error(const std::vector<std::string>& arguments, std::ostream& out)
{
    if (arguments.size() != 1)
        usageFailure("error <code>");
    const std::string& text = arguments[0];
    long code = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), code);
    if (failure != std::errc() || end != text.data() + text.size() || text.empty())
        usageFailure("error <code>");
    out << code << ": " << ErrorTexts::describe(code) << "\n";
    return 0;
}

int Launchd::halt()
{
    requireChangeRight("launchctl: only the owner of this machine root may halt its launchd.");
    std::set<pid_t> supervisors;
    std::set<pid_t> jobs;
    {
        // Halting must not be stopped by a busy or damaged state: it is best effort over every domain.
        std::optional<StateStore::Lock> lock;
        try {
            lock.emplace(store_.lock());
        } catch (const LaunchctlFailure&) {
        }
        for (const LaunchdDomain& domain : store_.storedDomains()) {
            DomainState state;
            try {
                state = store_.load(domain);
            } catch (const LaunchctlFailure&) {
                continue;
            }
            bool changed = false;
            for (auto& [label, record] : state.services) {
                if (record.supervisorPid)
                    supervisors.insert(*record.supervisorPid);
                if (record.pid)
                    jobs.insert(*record.pid);
                changed = changed || record.pid || record.supervisorPid || record.spawnScheduled || record.generation;
                record.pid.reset();
                record.supervisorPid.reset();
                record.supervisorPgid.reset();
                record.spawnScheduled = false;
                record.generation = 0;  // no supervisor owns it any more
            }
            if (changed) {
                try {
                    store_.save(domain, state);
                } catch (const LaunchctlFailure&) {
                }
            }
        }
        // Only processes of this root: a recorded pid of a process long gone may belong to anyone now.
        // Supervisors first, so that none starts a job again; each job's group goes with it.
        for (const pid_t supervisor : supervisors)
            if (ProcessTools::belongsToRoot(supervisor, root_))
                ::kill(-supervisor, SIGKILL);
        for (const pid_t job : jobs) {
            if (ProcessTools::belongsToRoot(job, root_)) {
                ::kill(-job, SIGKILL);
                ::kill(job, SIGKILL);
            }
        }
    }
    for (const pid_t pid : supervisors)
        ProcessTools::waitUntilGone(pid, 2s);
    for (const pid_t pid : jobs)
        ProcessTools::waitUntilGone(pid, 2s);
    return 0;
}

}  // namespace qw
