#include "Quillwick/store/OperationRouter.h"

#include <QPromise>

#include <unistd.h>

#include "Quillwick/store/JobIndex.h"
#include "Quillwick/store/PrivilegedClient.h"
#include "Quillwick/store/RegularFile.h"
#include "helperkit/AtomicFile.h"
#include "helperkit/JobLocation.h"
#include "helperkit/SystemPaths.h"
#include "helperkit/Text.h"

namespace qw {
namespace fs = std::filesystem;

using OperationError = OperationRouter::OperationError;

OperationError OperationError::noFile(std::string label) {
    std::string message = "“" + label +
                          "” has no plist on disk. It was registered by an app rather than installed as a file, so "
                          "there is nothing here to change.";
    return {Kind::noFile, std::move(label), std::move(message)};
}

OperationError OperationError::readOnly(std::string path) {
    std::string message = path + " is part of macOS. Quillwick shows these jobs but never changes them.";
    return {Kind::readOnly, std::move(path), std::move(message)};
}

OperationError OperationError::alreadyExists(std::string path) {
    std::string message = path + " already exists. Pick a different name, or edit the job that is there.";
    return {Kind::alreadyExists, std::move(path), std::move(message)};
}

OperationError OperationError::failed(std::string message) {
    std::string copy = message;
    return {Kind::failed, std::move(message), std::move(copy)};
}

OperationError OperationError::outsideCreatableFolders(std::string path) {
    std::string message = path +
                          " is outside the folders Quillwick creates on its own (your home folder, /Library/Logs and "
                          "/tmp). Create it yourself if the job needs it.";
    return {Kind::outsideCreatableFolders, std::move(path), std::move(message)};
}

OperationError OperationError::folderNotCreated(std::string path, const std::string& reason) {
    std::string message = "The folder " + path + " could not be created: " + reason + ".";
    return {Kind::folderNotCreated, std::move(path), std::move(message)};
}

OperationError OperationError::changedOnDisk(std::string path) {
    std::string message = path + " changed on disk after Quillwick read it, so nothing was saved.";
    return {Kind::changedOnDisk, std::move(path), std::move(message)};
}

namespace {

QFuture<void> finished() {
    QPromise<void> promise;
    promise.start();
    promise.finish();
    return promise.future();
}

QFuture<void> failedWith(std::exception_ptr error) {
    QPromise<void> promise;
    promise.start();
    promise.setException(error);
    promise.finish();
    return promise.future();
}

// Runs a synchronous step now and hands its outcome back as a finished future.
template <typename Step>
QFuture<void> now(Step&& step) {
    try {
        return std::forward<Step>(step)();
    } catch (...) {
        return failedWith(std::current_exception());
    }
}

bool isSystemFolder(JobDirectory folder) {
    return folder == JobDirectory::systemAgents || folder == JobDirectory::systemDaemons;
}

const JobLocation* locationOf(const Job& job) {
    return job.definition && job.definition->location ? &*job.definition->location : nullptr;
}

std::string readOnlyPath(const Job& job) {
    if (const JobLocation* location = locationOf(job)) return location->url.string();
    return job.directory ? job.directory->url().string() : job.label;
}

// Whether `path` is `folder` or lies inside it, compared by whole components.
bool isWithin(const fs::path& path, const fs::path& folder) {
    const fs::path p = path.lexically_normal(), f = folder.lexically_normal();
    auto pi = p.begin();
    for (auto fi = f.begin(); fi != f.end(); ++fi) {
        if (fi->empty()) continue;  // the trailing slash of "/tmp/"
        if (pi == p.end() || *pi != *fi) return false;
        ++pi;
    }
    return true;
}

// The folders Quillwick makes on its own: the user's, the shared log folder (root:admin 0775 on a Mac,
// so an administrator needs no helper there) and the temporary folders.
bool isCreatableArea(const fs::path& target) {
    const SystemPaths& paths = SystemPaths::current();
    return target.is_absolute() &&
           (isWithin(target, paths.home()) || isWithin(target, paths.libraryLogs()) || isWithin(target, paths.resolve("/tmp")) ||
            isWithin(target, paths.resolve("/private/tmp")));
}

// Why this user cannot make `folder`, judged at the nearest part of it that exists; nothing when it can.
std::optional<std::string> whyNotCreatable(const fs::path& folder) {
    std::error_code ec;
    fs::path existing = folder.lexically_normal();
    while (!fs::exists(existing, ec) && existing.has_relative_path()) existing = existing.parent_path();
    if (!fs::is_directory(existing, ec)) return existing.string() + " is not a folder";
    if (existing != folder.lexically_normal() && ::access(existing.c_str(), W_OK | X_OK) != 0)
        return "your account may not create folders in " + existing.string();
    return std::nullopt;
}

}  // namespace

OperationRouter::OperationRouter(PrivilegedClient& privileged, QObject* parent)
    : OperationRouter([client = &privileged](const HelperRequest& request) { return client->perform(request); }, parent) {}

OperationRouter::OperationRouter(Perform privileged, QObject* parent)
    : QObject(parent), privileged_(std::move(privileged)) {}

bool OperationRouter::isReadOnly(const Job& job) const {
    if (job.directory && isSystemFolder(*job.directory)) return true;
    const JobLocation* location = locationOf(job);
    return location && isSystemFolder(location->directory);
}

bool OperationRouter::needsAdministrator(const Job& job) const {
    const JobLocation* location = locationOf(job);
    return location && location->directory.writability() == JobDirectory::Writability::requiresElevation;
}

QFuture<void> OperationRouter::viaHelper(HelperRequest request, std::string fallback) {
    const auto* action = std::get_if<HelperRequest::Launchctl>(&request.operation);
    const bool isAction = action != nullptr;
    std::string reason = request.reason;
    return privileged_(request).then(this, [this, isAction, reason, fallback](const HelperResponse& reply) {
        if (reply.succeeded) return;
        // A failed verb that said nothing on standard error still gets a sentence, as a direct run would.
        const bool silent = Text::trimmed(reply.standardError.value_or(""), " \t\r\n").empty();
        if (isAction && silent && reply.exitStatus && *reply.exitStatus != 0)
            throw OperationError::failed(launchctl_.failureMessage(reason, *reply.exitStatus, ""));
        const std::string message(Text::trimmed(reply.message.value_or(""), " \t\r\n"));
        throw OperationError::failed(message.empty() ? fallback : message);
    });
}

QFuture<void> OperationRouter::launchctlAction(const Job& job, PrivilegedVerb verb, const std::string& reason) {
    return now([&]() -> QFuture<void> {
        if (isReadOnly(job)) throw OperationError::readOnly(readOnlyPath(job));
        std::optional<std::string> path;
        if (verb == PrivilegedVerb::bootstrap) {
            const JobLocation* location = locationOf(job);
            if (!location) throw OperationError::noFile(job.label);
            path = location->url.string();
        }
        const LaunchdDomain domain = job.domain();
        if (domain.requiresRoot()) {
            HelperRequest::Launchctl operation{verb, domain.description(), std::nullopt, path};
            if (!path) operation.label = job.label;
            return viaHelper(HelperRequest{1, operation, reason}, "The operation did not succeed.");
        }
        const ServiceTarget target = job.serviceTarget();
        Subprocess::Result result;
        switch (verb) {
        case PrivilegedVerb::bootstrap: result = launchctl_.bootstrap(domain, *path); break;
        case PrivilegedVerb::bootout: result = launchctl_.bootout(target); break;
        case PrivilegedVerb::enable: result = launchctl_.enable(target); break;
        case PrivilegedVerb::disable: result = launchctl_.disable(target); break;
        case PrivilegedVerb::kickstart: result = launchctl_.kickstart(target, true); break;
        case PrivilegedVerb::kill: result = launchctl_.kill("TERM", target); break;
        }
        if (result.exitStatus != 0)
            throw OperationError::failed(launchctl_.failureMessage(reason, result.exitStatus, result.standardError));
        return finished();
    });
}

QFuture<void> OperationRouter::stop(const Job& job) { return launchctlAction(job, PrivilegedVerb::kill, "stop " + job.label); }
QFuture<void> OperationRouter::load(const Job& job) { return launchctlAction(job, PrivilegedVerb::bootstrap, "load " + job.label); }
QFuture<void> OperationRouter::unload(const Job& job) { return launchctlAction(job, PrivilegedVerb::bootout, "unload " + job.label); }
QFuture<void> OperationRouter::enable(const Job& job) { return launchctlAction(job, PrivilegedVerb::enable, "enable " + job.label); }
QFuture<void> OperationRouter::disable(const Job& job) { return launchctlAction(job, PrivilegedVerb::disable, "disable " + job.label); }
QFuture<void> OperationRouter::start(const Job& job) { return launchctlAction(job, PrivilegedVerb::kickstart, "start " + job.label); }

namespace {

// The checks every write makes before anything is read or sent; the bytes to write.
std::string checkedBytes(const JobDefinition& definition) {
    const std::string label = definition.label();
    if (!definition.location) throw OperationError::noFile(label);
    const JobLocation& location = *definition.location;
    if (isSystemFolder(location.directory)) throw OperationError::readOnly(location.url.string());
    const std::string filename = location.url.stem().string();
    if (label != filename) throw JobLocation::ValidationError::labelDoesNotMatchFilename(label, filename);
    return definition.file.data();
}

void requireUnchanged(const JobDefinition& onDisk, const JobDefinition& basis) {
    if (onDisk.file != basis.file || onDisk.loadFailure != basis.loadFailure)
        throw OperationError::changedOnDisk(onDisk.location->url.string());
}

// The job file as this user reads it; nothing when only root can. Files in /Library are normally
// world-readable, and reading them here spares a save a second password prompt and audit entry; a link
// there is left to the helper to judge.
std::optional<JobDefinition> readableHere(const JobLocation& location) {
    std::error_code ec;
    if (location.directory == JobDirectory::userAgents ||
        fs::symlink_status(location.url, ec).type() == fs::file_type::not_found)
        return JobIndex::readDefinition(location);
    try {
        return JobIndex::definitionFrom(
            location, RegularFile::readWhole(location.url, JobIndex::largestJobFile, RegularFile::Links::refuse));
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

}  // namespace

QFuture<void> OperationRouter::write(const JobLocation& location, const std::string& label, const std::string& bytes) {
    if (location.directory == JobDirectory::userAgents) {
        writeFileAtomically(location.url, bytes);
        return finished();
    }
    HelperRequest::Write write{location.url.string(), Bytes(bytes.begin(), bytes.end())};
    return viaHelper(HelperRequest{1, std::move(write), "save " + label}, "The file could not be saved.");
}

QFuture<void> OperationRouter::save(const JobDefinition& definition) {
    return now([&]() -> QFuture<void> {
        const std::string bytes = checkedBytes(definition);
        return write(*definition.location, definition.label(), bytes);
    });
}

QFuture<void> OperationRouter::save(const JobDefinition& definition, const Job& job, const JobDefinition& basis) {
    JobDefinition located = definition;
    if (!located.location && locationOf(job)) located.location = *locationOf(job);
    return now([&]() -> QFuture<void> {
        const std::string bytes = checkedBytes(located);
        const JobLocation location = *located.location;
        const std::string label = located.label();
        if (const auto onDisk = readableHere(location)) {
            requireUnchanged(*onDisk, basis);
            return write(location, label, bytes);
        }
        // Read as root: the file is closed to this user, and what the scan read may be stale.
        HelperRequest read{1, HelperRequest::Read{location.url.string()}, "check " + label + " before saving"};
        return privileged_(read)
            .then(this,
                  [this, location, label, bytes, basis](const HelperResponse& reply) {
                      if (!reply.succeeded) {
                          const std::string why(Text::trimmed(reply.message.value_or(""), " \t\r\n"));
                          throw OperationError::failed("Nothing was saved: " + location.url.filename().string() +
                                                       " could not be read again first." + (why.empty() ? "" : " " + why));
                      }
                      const Bytes contents = reply.contents.value_or(Bytes());
                      const std::string_view read(reinterpret_cast<const char*>(contents.data()), contents.size());
                      requireUnchanged(JobIndex::definitionFrom(location, read), basis);
                      return write(location, label, bytes);
                  })
            .unwrap();
    });
}

QFuture<void> OperationRouter::create(const JobDefinition& definition) {
    return now([&]() -> QFuture<void> {
        if (!definition.location) throw OperationError::noFile(definition.label());
        const JobLocation& location = *definition.location;
        if (isSystemFolder(location.directory)) throw OperationError::readOnly(location.url.string());
        std::error_code ec;
        if (fs::symlink_status(location.url, ec).type() != fs::file_type::not_found)
            throw OperationError::alreadyExists(location.url.string());
        // launchd makes no folder for a log path: a job whose folder cannot be made would lose all its
        // output, so say so before anything is written.
        std::vector<std::string> logFolders;
        for (const std::string& path : definition.logPaths()) {
            const fs::path folder = fs::path(SystemPaths::current().machinePath(path)).parent_path();
            if (!isCreatableArea(folder)) continue;  // the job's own business, as Quillwick may not make it
            if (auto why = whyNotCreatable(folder)) throw OperationError::folderNotCreated(folder.string(), *why);
            logFolders.push_back(folder.string());
        }
        if (location.directory == JobDirectory::userAgents)
            fs::create_directories(JobDirectory(JobDirectory::userAgents).url());
        return save(definition).then(this, [this, logFolders] {
            std::exception_ptr first;
            for (const std::string& folder : logFolders) {
                try {
                    ensureDirectory(folder);
                } catch (...) {
                    if (!first) first = std::current_exception();
                }
            }
            if (first) std::rethrow_exception(first);
        });
    });
}

QFuture<void> OperationRouter::create(const std::string& label, JobDefinition definition, JobDirectory folder) {
    if (!definition.location) definition.location = JobLocation::forLabel(folder, label);
    return create(definition);
}

QFuture<void> OperationRouter::deleteJob(const Job& job) {
    return now([&]() -> QFuture<void> {
        const JobLocation* location = locationOf(job);
        if (!location) throw OperationError::noFile(job.label);
        if (isReadOnly(job)) throw OperationError::readOnly(location->url.string());
        if (location->directory == JobDirectory::userAgents) {
            fs::remove(location->url);
            return finished();
        }
        return viaHelper(HelperRequest{1, HelperRequest::Delete{location->url.string()}, "delete " + job.label},
                         "The file could not be deleted.");
    });
}

QFuture<void> OperationRouter::repairPermissions(const Job& job) {
    return now([&]() -> QFuture<void> {
        const JobLocation* location = locationOf(job);
        if (!location) throw OperationError::noFile(job.label);
        if (isReadOnly(job)) throw OperationError::readOnly(location->url.string());
        if (location->directory == JobDirectory::userAgents) {
            fs::permissions(location->url, fs::perms(0644), fs::perm_options::replace);
            return finished();
        }
        return viaHelper(HelperRequest{1, HelperRequest::RepairPermissions{location->url.string()},
                                       "repair permissions on " + job.label},
                         "The permissions could not be repaired.");
    });
}

QFuture<void> OperationRouter::apply(const Fix& fix, const Job& job) {
    switch (fix.kind()) {
    case Fix::Kind::setLabelToFilename:
        return now([&]() -> QFuture<void> {
            if (!job.definition) throw OperationError::noFile(job.label);
            JobDefinition copy = *job.definition;
            copy.setLabel(fix.payload());
            return save(copy, job, *job.definition);
        });
    case Fix::Kind::createDirectory:
        return now([&]() -> QFuture<void> {
            ensureDirectory(fix.payload());
            return finished();
        });
    case Fix::Kind::repairPermissions: return repairPermissions(job);
    case Fix::Kind::load: return load(job);
    case Fix::Kind::enable: return enable(job);
    }
    return finished();
}

void OperationRouter::ensureDirectory(const std::string& path) const {
    const std::string folder = SystemPaths::current().machinePath(path);
    const fs::path target(folder);
    if (!isCreatableArea(target)) throw OperationError::outsideCreatableFolders(folder);
    if (auto why = whyNotCreatable(target)) throw OperationError::folderNotCreated(folder, *why);
    std::error_code error;
    fs::create_directories(target, error);
    if (error) throw OperationError::folderNotCreated(folder, error.message());
}

}  // namespace qw
