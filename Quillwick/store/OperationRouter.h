// OperationRouter: the one object through which every change to a job file or to launchd is carried
// out, and the one that decides who does it. launchctl actions in the user's gui domain (every agent,
// /Library/LaunchAgents included, and jobs without a file) run /bin/launchctl directly; actions in the
// system domain (the two daemon folders) go to the privileged helper. Files in ~/Library/LaunchAgents
// are changed directly, those in /Library/LaunchAgents and /Library/LaunchDaemons through the helper,
// and the /System folders never: every change and action on a job there is refused.
//
// Main thread only; it keeps no state between calls and does not refresh the job store (its callers
// do). Asynchronous operations return a QFuture that finishes on the main thread; their errors travel in
// it as the original exception: OperationError, JobLocation::ValidationError, PrivilegedError (its
// `cancelled` kind is never shown), Subprocess::Failure, PlistWriteError or std::filesystem's error.
// Direct-road operations are done before the call returns (the future is already finished).
#pragma once

#include <QFuture>
#include <QObject>

#include <exception>
#include <filesystem>
#include <functional>
#include <string>

#include "Quillwick/launchd/Issue.h"
#include "Quillwick/launchd/Job.h"
#include "Quillwick/launchd/JobDefinition.h"
#include "Quillwick/launchd/Launchctl.h"
#include "helperkit/HelperProtocol.h"

namespace qw {

class PrivilegedClient;

class OperationRouter : public QObject {
    Q_OBJECT
public:
    class OperationError;
    // The privileged road: hands one request to the helper and returns its reply.
    using Perform = std::function<QFuture<HelperResponse>(const HelperRequest&)>;

    // The application's road: the client, which outlives the router.
    explicit OperationRouter(PrivilegedClient& privileged, QObject* parent = nullptr);
    explicit OperationRouter(Perform privileged, QObject* parent = nullptr);

    // launchctl kill TERM, bootstrap of the job's file, bootout, enable, disable, kickstart -k.
    QFuture<void> stop(const Job& job);
    QFuture<void> load(const Job& job);
    QFuture<void> unload(const Job& job);
    QFuture<void> enable(const Job& job);
    QFuture<void> disable(const Job& job);
    QFuture<void> start(const Job& job);

    // Writes the definition, in its own format, to its location (the label must match the file name),
    // whatever is there now: for a file that is new.
    QFuture<void> save(const JobDefinition& definition);
    // The same over a job's file (a definition without a location takes the job's), but only while the
    // file on disk still reads as `basis`, the definition the edit was made on; otherwise nothing is
    // written and OperationError changedOnDisk is thrown. In the /Library folders the helper reads it.
    QFuture<void> save(const JobDefinition& definition, const Job& job, const JobDefinition& basis);
    // A new file at the definition's location (nothing may be there yet), then its log folders. A log
    // folder it may make but cannot is refused before anything is written; one outside those folders is
    // the job's own business and left alone.
    QFuture<void> create(const JobDefinition& definition);
    // The same with the location named by folder and label when the definition has none.
    QFuture<void> create(const std::string& label, JobDefinition definition, JobDirectory folder);
    // Removes the job's file.
    QFuture<void> deleteJob(const Job& job);
    // Sets the job file's mode to 0644 (root, wheel and 0644 through the helper).
    QFuture<void> repairPermissions(const Job& job);
    // Carries out one fix of the diagnostics.
    QFuture<void> apply(const Fix& fix, const Job& job);

    // Makes a folder with its missing parents, only inside the user's home folder, /Library/Logs, /tmp or
    // /private/tmp, compared component by component. An existing folder is no error. Throws
    // OperationError: outsideCreatableFolders, or folderNotCreated naming the folder and why.
    void ensureDirectory(const std::string& path) const;

    bool isReadOnly(const Job& job) const;
    bool needsAdministrator(const Job& job) const;
    bool usesHelper(const Job& job) const { return job.domain().requiresRoot(); }

private:
    QFuture<void> launchctlAction(const Job& job, PrivilegedVerb verb, const std::string& reason);
    QFuture<void> viaHelper(HelperRequest request, std::string fallback);
    QFuture<void> write(const JobLocation& location, const std::string& label, const std::string& bytes);

    Perform privileged_;
    Launchctl launchctl_;
};

class OperationRouter::OperationError : public std::exception {
public:
    enum class Kind {
        noFile, readOnly, alreadyExists, failed, outsideCreatableFolders, folderNotCreated,
        changedOnDisk,  // the file is no longer what the edit was made on: nothing was written
    };

    static OperationError noFile(std::string label);
    static OperationError readOnly(std::string path);
    static OperationError alreadyExists(std::string path);
    static OperationError failed(std::string message);
    static OperationError outsideCreatableFolders(std::string path);
    static OperationError folderNotCreated(std::string path, const std::string& reason);
    static OperationError changedOnDisk(std::string path);

    Kind kind() const { return kind_; }
    const std::string& payload() const { return payload_; }
    const char* what() const noexcept override { return message_.c_str(); }
    bool operator==(const OperationError& o) const { return kind_ == o.kind_ && payload_ == o.payload_; }

private:
    OperationError(Kind kind, std::string payload, std::string message)
        : kind_(kind), payload_(std::move(payload)), message_(std::move(message)) {}
    Kind kind_;
    std::string payload_;
    std::string message_;
};

}  // namespace qw
