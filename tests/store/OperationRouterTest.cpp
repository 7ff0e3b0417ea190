#include "Quillwick/store/OperationRouter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPromise>
#include <QTest>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "Quillwick/store/JobIndex.h"
#include "Quillwick/store/PrivilegedClient.h"
#include "Quillwick/store/PrivilegedError.h"
#include "helperkit/JobLocation.h"
#include "support/SandboxRoot.h"

namespace fs = std::filesystem;
using namespace qw;
using OperationError = OperationRouter::OperationError;

namespace {

// What a finished operation ended with: "" for success, else the error's text.
std::exception_ptr settle(QFuture<void> future) {
    QElapsedTimer clock;
    clock.start();
    while (!future.isFinished() && clock.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    try {
        future.waitForFinished();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

std::string failure(QFuture<void> future) {
    if (auto error = settle(std::move(future))) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            return e.what();
        }
    }
    return "";
}

template <typename Error>
std::optional<Error> caught(QFuture<void> future) {
    if (auto error = settle(std::move(future))) {
        try {
            std::rethrow_exception(error);
        } catch (const Error& e) {
            return e;
        } catch (...) {
        }
    }
    return std::nullopt;
}

HelperResponse replying(bool succeeded) {
    HelperResponse reply;
    reply.succeeded = succeeded;
    return reply;
}

// The privileged road as a test sees it: every request but a read kept, one reply (or error) for all.
// A read answers with the file as the helper would, unless `readReply` says otherwise.
struct FakeHelper {
    std::vector<HelperRequest> requests;
    std::vector<HelperRequest> reads;
    HelperResponse reply = replying(true);
    std::optional<HelperResponse> readReply;
    std::exception_ptr error;
    OperationRouter::Perform perform() {
        return [this](const HelperRequest& request) {
            QPromise<HelperResponse> promise;
            promise.start();
            if (const auto* read = std::get_if<HelperRequest::Read>(&request.operation)) {
                reads.push_back(request);
                HelperResponse answer = replying(true);
                const std::string bytes = test::readFile(read->path);
                answer.contents = Bytes(bytes.begin(), bytes.end());
                promise.addResult(readReply.value_or(answer));
            } else if (requests.push_back(request); error) {
                promise.setException(error);
            } else {
                promise.addResult(reply);
            }
            promise.finish();
            return promise.future();
        };
    }
};

const std::string sleeper = "<key>ProgramArguments</key><array><string>/bin/sleep</string><string>30</string></array>";

Job jobAt(JobDirectory folder, const std::string& label, const std::string& body = sleeper, bool write = true) {
    JobLocation location = JobLocation::forLabel(folder, label);
    if (write) {
        fs::create_directories(location.url.parent_path());
        std::ofstream(location.url) << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key><string>" +
                                           label + "</string>" + body + "</dict></plist>";
        return Job{label, JobDefinition::fromLocation(location), std::nullopt, false, folder};
    }
    JobDefinition definition(label, location);
    return Job{label, definition, std::nullopt, false, folder};
}

std::optional<LaunchctlListEntry> listed(const std::string& label) {
    for (const auto& entry : Launchctl().list())
        if (entry.label == label) return entry;
    return std::nullopt;
}

}  // namespace

class OperationRouterTest : public QObject {
    Q_OBJECT
private slots:
    void agentsAreDrivenDirectlyInTheGuiDomain() {
        test::SandboxRoot root;
        FakeHelper helper;
        OperationRouter router(helper.perform());
        const Job agent = jobAt(JobDirectory::globalAgents, "org.example.agent");
        QVERIFY(!router.usesHelper(agent));

        QCOMPARE(failure(router.load(agent)), std::string());
        QVERIFY(listed("org.example.agent"));
        // launchctl run as a user adds its hint for root, and the message keeps it as the Mac prints it.
        QCOMPARE(failure(router.load(agent)), std::string("Bootstrap failed: 5: Input/output error\n"
                                                          "Try re-running the command as root for richer errors."));
        QCOMPARE(failure(router.start(agent)), std::string());
        QTRY_VERIFY(listed("org.example.agent")->pid);
        QCOMPARE(failure(router.stop(agent)), std::string());
        QCOMPARE(failure(router.disable(agent)), std::string());
        QCOMPARE(failure(router.enable(agent)), std::string());
        QCOMPARE(failure(router.unload(agent)), std::string());
        QVERIFY(!listed("org.example.agent"));

        // A job with no file can still be started; it cannot be loaded.
        const fs::path outside = root.path() / "app.plist";
        std::ofstream(outside) << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key>"
                                  "<string>application.com.example.App</string>" + sleeper + "</dict></plist>";
        QCOMPARE(root.launchctl({"bootstrap", LaunchdDomain::currentGUI().description(), outside.string()}).exitStatus, 0);
        const Job runtime{"application.com.example.App", std::nullopt, listed("application.com.example.App"), false,
                          std::nullopt};
        QCOMPARE(failure(router.start(runtime)), std::string());
        QTRY_VERIFY(listed("application.com.example.App")->pid);
        QCOMPARE(caught<OperationError>(router.load(runtime))->kind(), OperationError::Kind::noFile);
        QVERIFY(helper.requests.empty());
    }

    void aSilentDirectFailureIsExplainedFromItsStatus() {
        test::SandboxRoot root;
        const fs::path tool = root.paths().launchctl();
        fs::remove(tool);
        std::ofstream(tool) << "#!/bin/sh\n[ \"$1\" = error ] && { echo \"$2: Could not find specified service\"; exit 0; }\n"
                               "exit 113\n";
        ::chmod(tool.c_str(), 0755);
        FakeHelper helper;
        OperationRouter router(helper.perform());
        const Job agent = jobAt(JobDirectory::userAgents, "org.example.gone");
        QCOMPARE(failure(router.stop(agent)), std::string("stop org.example.gone failed: Could not find specified service"));
    }

    void daemonsGoToTheHelperWithTheirVerbAndReason() {
        test::SandboxRoot root;
        FakeHelper helper;
        OperationRouter router(helper.perform());
        const Job daemon = jobAt(JobDirectory::globalDaemons, "org.example.daemon");
        QVERIFY(router.usesHelper(daemon) && router.needsAdministrator(daemon) && !router.isReadOnly(daemon));

        QCOMPARE(failure(router.stop(daemon)), std::string());
        QCOMPARE(failure(router.load(daemon)), std::string());
        QCOMPARE(helper.requests.size(), std::size_t(2));
        QCOMPARE(helper.requests[0].reason, std::string("stop org.example.daemon"));
        QVERIFY((helper.requests[0].operation ==
                 HelperRequest::Operation{HelperRequest::Launchctl{PrivilegedVerb::kill, "system", "org.example.daemon", {}}}));
        QVERIFY((helper.requests[1].operation ==
                 HelperRequest::Operation{HelperRequest::Launchctl{PrivilegedVerb::bootstrap, "system", {},
                                                                   daemon.definition->location->url.string()}}));

        helper.reply = replying(false);
        QCOMPARE(failure(router.enable(daemon)), std::string("The operation did not succeed."));
        helper.reply.exitStatus = 5;
        helper.reply.message = "";
        QCOMPARE(failure(router.load(daemon)), std::string("load org.example.daemon failed: Input/output error"));
        helper.reply.standardError = "Bootstrap failed: 5: Input/output error";
        helper.reply.message = "Bootstrap failed: 5: Input/output error";
        QCOMPARE(failure(router.load(daemon)), std::string("Bootstrap failed: 5: Input/output error"));
        QCOMPARE(failure(router.deleteJob(daemon)), std::string("Bootstrap failed: 5: Input/output error"));
        helper.reply = replying(false);
        QCOMPARE(failure(router.deleteJob(daemon)), std::string("The file could not be deleted."));
        QCOMPARE(failure(router.repairPermissions(daemon)), std::string("The permissions could not be repaired."));
        QCOMPARE(failure(router.save(*daemon.definition)), std::string("The file could not be saved."));

        helper.error = std::make_exception_ptr(std::runtime_error("the road is closed"));
        QCOMPARE(failure(router.unload(daemon)), std::string("the road is closed"));
    }

    void theSystemFoldersAreNeverChanged() {
        test::SandboxRoot root;
        FakeHelper helper;
        OperationRouter router(helper.perform());
        const Job system = jobAt(JobDirectory::systemDaemons, "com.apple.thing");
        const std::string path = system.definition->location->url.string();
        QVERIFY(router.isReadOnly(system) && !router.needsAdministrator(system));
        for (auto operation : {&OperationRouter::stop, &OperationRouter::load, &OperationRouter::unload,
                               &OperationRouter::enable, &OperationRouter::disable, &OperationRouter::start,
                               &OperationRouter::deleteJob, &OperationRouter::repairPermissions}) {
            const auto error = caught<OperationError>((router.*operation)(system));
            QVERIFY(error && *error == OperationError::readOnly(path));
        }
        JobDefinition mislabelled = *system.definition;
        mislabelled.setLabel("other");
        QCOMPARE(caught<OperationError>(router.save(mislabelled))->kind(), OperationError::Kind::readOnly);
        QCOMPARE(failure(router.save(mislabelled)),
                 path + " is part of macOS. Quillwick shows these jobs but never changes them.");
        QVERIFY(helper.requests.empty());
    }

    void savingWritesTheFileWhereItBelongsInItsFormat() {
        test::SandboxRoot root;
        FakeHelper helper;
        OperationRouter router(helper.perform());
        Job agent = jobAt(JobDirectory::userAgents, "org.example.agent");
        agent.definition->file.format = PlistFormat::binary;
        agent.definition->setRunAtLoad(true);
        QCOMPARE(failure(router.save(*agent.definition)), std::string());
        const PlistFile written = PlistFile::read(agent.definition->location->url);
        QCOMPARE(written, agent.definition->file);

        const Job daemon = jobAt(JobDirectory::globalDaemons, "org.example.daemon");
        JobDefinition renamed = *daemon.definition;
        renamed.setLabel("org.example.other");
        const auto mismatch = caught<JobLocation::ValidationError>(router.save(renamed));
        QVERIFY(mismatch && mismatch->kind() == JobLocation::ValidationError::Kind::labelDoesNotMatchFilename);
        QVERIFY(helper.requests.empty());

        JobDefinition unplaced = *daemon.definition;
        unplaced.location.reset();
        QCOMPARE(failure(router.save(unplaced, daemon, *daemon.definition)), std::string());
        QCOMPARE(helper.requests.size(), std::size_t(1));
        QCOMPARE(helper.requests[0].reason, std::string("save org.example.daemon"));
        const auto& write = std::get<HelperRequest::Write>(helper.requests[0].operation);
        QCOMPARE(write.path, daemon.definition->location->url.string());
        const std::string bytes(write.contents.begin(), write.contents.end());
        QCOMPARE(PlistFile::fromData(bytes, write.path).root, daemon.definition->file.root);
        QCOMPARE(caught<OperationError>(router.save(unplaced))->kind(), OperationError::Kind::noFile);
    }

    // The edit was made on the file as first read; someone changed it since. Nothing may be lost.
    void aFileChangedOnDiskIsNeverOverwritten() {
        test::SandboxRoot root;
        FakeHelper helper;
        OperationRouter router(helper.perform());
        for (const JobDirectory folder : {JobDirectory(JobDirectory::userAgents), JobDirectory(JobDirectory::globalDaemons)}) {
            const Job job = jobAt(folder, "org.example.heartbeat");
            const fs::path file = job.definition->location->url;
            JobDefinition edited = *job.definition;
            edited.setStartInterval(900);
            JobDefinition outside = *job.definition;
            outside.set("ExternalNote", PlistValue("added by a script"));
            outside.file.write(file);
            const std::string onDisk = test::readFile(file);

            QCOMPARE(failure(router.save(edited, job, *job.definition)),
                     file.string() + " changed on disk after Quillwick read it, so nothing was saved.");
            fs::remove(file);
            QCOMPARE(caught<OperationError>(router.save(edited, job, *job.definition))->kind(), OperationError::Kind::changedOnDisk);
            outside.file.write(file);
            QCOMPARE(test::readFile(file), onDisk);
            QVERIFY(helper.requests.empty());

            // Made on the file as it is now, the same edit is written.
            const JobDefinition now = JobIndex::readDefinition(*job.definition->location);
            edited.set("ExternalNote", PlistValue("added by a script"));
            QCOMPARE(failure(router.save(edited, job, now)), std::string());
            if (folder == JobDirectory::userAgents) QCOMPARE(PlistFile::read(file), edited.file);
        }
        // The daemon's file is readable here: only the write asks for the password.
        QCOMPARE(helper.requests.size(), std::size_t(1));
        QVERIFY(helper.reads.empty());

        // What the application cannot read itself (a link it does not follow) is read by the helper.
        const Job daemon = jobAt(JobDirectory::globalDaemons, "org.example.heartbeat");
        const fs::path file = daemon.definition->location->url, real = root.resolve("/tmp/heartbeat.plist");
        fs::create_directories(real.parent_path());
        fs::rename(file, real);
        fs::create_symlink(real, file);
        QCOMPARE(failure(router.save(*daemon.definition, daemon, *daemon.definition)), std::string());
        QCOMPARE(helper.requests.size(), std::size_t(2));
        QCOMPARE(helper.reads.size(), std::size_t(1));
        QVERIFY((helper.reads[0].operation == HelperRequest::Operation{HelperRequest::Read{file.string()}}));
        QCOMPARE(helper.reads[0].reason, std::string("check org.example.heartbeat before saving"));

        // A file the helper cannot read is not written either.
        HelperResponse unread = replying(false);
        unread.message = "Could not read org.example.heartbeat.plist: No such file or directory.";
        helper.readReply = unread;
        QCOMPARE(failure(router.save(*daemon.definition, daemon, *daemon.definition)),
                 std::string("Nothing was saved: org.example.heartbeat.plist could not be read again first. Could not read "
                             "org.example.heartbeat.plist: No such file or directory."));
        QCOMPARE(helper.requests.size(), std::size_t(2));
    }

    void creatingMakesTheFolderTheFileAndItsLogFolders() {
        test::SandboxRoot root;
        FakeHelper helper;
        OperationRouter router(helper.perform());
        const fs::path agents = JobDirectory(JobDirectory::userAgents).url();
        fs::remove_all(agents);
        const fs::path logs = root.paths().home() / "Library/Logs/Example/out.log";
        JobDefinition fresh("org.example.new", std::nullopt);
        fresh.setProgramArguments({"/bin/true"});
        fresh.setStandardOutPath(logs.string());
        fresh.setStandardErrorPath("/var/log/example/err.log");

        QCOMPARE(failure(router.create("org.example.new", fresh, JobDirectory::userAgents)), std::string());
        QVERIFY(fs::exists(agents / "org.example.new.plist"));
        QVERIFY(fs::is_directory(logs.parent_path()));
        QVERIFY(!fs::exists(root.resolve("/var/log/example")));
        QCOMPARE(failure(router.create("org.example.new", fresh, JobDirectory::userAgents)),
                 (agents / "org.example.new.plist").string() +
                     " already exists. Pick a different name, or edit the job that is there.");
        QCOMPARE(caught<OperationError>(router.create("x", fresh, JobDirectory::systemAgents))->kind(),
                 OperationError::Kind::readOnly);

        // A daemon logs to the shared log folder, which an administrator may write without the helper.
        JobDefinition daemon("org.example.daemon", std::nullopt);
        daemon.setProgramArguments({"/bin/true"});
        daemon.setStandardOutPath((root.paths().libraryLogs() / "Quillwick/org.example.daemon.log").string());
        // A macOS path names the machine's folder, not the host's.
        daemon.setStandardErrorPath("//Library/Logs/Typed/err.log");
        QCOMPARE(failure(router.create("org.example.daemon", daemon, JobDirectory::globalDaemons)), std::string());
        QCOMPARE(helper.requests.size(), std::size_t(1));
        QVERIFY(fs::is_directory(root.paths().libraryLogs() / "Quillwick"));
        QVERIFY(fs::is_directory(root.paths().libraryLogs() / "Typed"));
        daemon.setStandardErrorPath(std::nullopt);

        // A log folder that cannot be made is named, with the reason, before anything is written.
        root.writeFile("/Library/Logs/Blocked", "not a folder");
        daemon.setStandardOutPath((root.paths().libraryLogs() / "Blocked/Deeper/out.log").string());
        const std::string blocked = (root.paths().libraryLogs() / "Blocked/Deeper").string();
        QCOMPARE(failure(router.create("org.example.blocked", daemon, JobDirectory::globalDaemons)),
                 "The folder " + blocked + " could not be created: " + (root.paths().libraryLogs() / "Blocked").string() +
                     " is not a folder.");
        QCOMPARE(helper.requests.size(), std::size_t(1));
    }

    void deletingRepairingAndFixesActOnTheFile() {
        test::SandboxRoot root;
        FakeHelper helper;
        OperationRouter router(helper.perform());
        const Job agent = jobAt(JobDirectory::userAgents, "org.example.agent");
        const fs::path file = agent.definition->location->url;
        ::chmod(file.c_str(), 0666);
        QCOMPARE(failure(router.repairPermissions(agent)), std::string());
        QCOMPARE(fs::status(file).permissions(), fs::perms(0644));

        const Job misnamed = jobAt(JobDirectory::userAgents, "org.example.misnamed");
        Job relabelled = misnamed;
        relabelled.definition->setLabel("wrong");
        relabelled.definition->file.write(file.parent_path() / "org.example.misnamed.plist");
        QCOMPARE(failure(router.apply(Fix::setLabelToFilename("org.example.misnamed"), relabelled)), std::string());
        QCOMPARE(JobDefinition::fromLocation(*misnamed.definition->location).label(), std::string("org.example.misnamed"));

        const std::string home = root.paths().home().string();
        QCOMPARE(failure(router.apply(Fix::createDirectory(home + "/Library/Logs/A/B"), agent)), std::string());
        QVERIFY(fs::is_directory(home + "/Library/Logs/A/B"));
        for (const std::string& outside : {std::string("/var/log/x"), home + "x/logs", root.resolve("/tmpx").string(),
                                           home + "/../" + root.paths().home().filename().string() + "x",
                                           std::string("relative/logs")}) {
            const auto error = caught<OperationError>(router.apply(Fix::createDirectory(outside), agent));
            QVERIFY2(error && error->kind() == OperationError::Kind::outsideCreatableFolders, outside.c_str());
            QVERIFY(std::string(error->what()).starts_with(root.paths().machinePath(outside) + " is outside"));
        }
        QCOMPARE(failure(router.apply(Fix::createDirectory(root.resolve("/tmp/q").string()), agent)), std::string());
        QCOMPARE(failure(router.apply(Fix::createDirectory((root.paths().libraryLogs() / "Exporter").string()), agent)),
                 std::string());
        QVERIFY(fs::is_directory(root.paths().libraryLogs() / "Exporter"));

        QCOMPARE(failure(router.deleteJob(agent)), std::string());
        QVERIFY(!fs::exists(file));
        const Job runtime{"application.x", std::nullopt, std::nullopt, false, std::nullopt};
        QCOMPARE(caught<OperationError>(router.deleteJob(runtime))->kind(), OperationError::Kind::noFile);
        QCOMPARE(caught<OperationError>(router.apply(Fix::setLabelToFilename("x"), runtime))->kind(),
                 OperationError::Kind::noFile);

        const Job global = jobAt(JobDirectory::globalAgents, "org.example.global");
        QCOMPARE(failure(router.repairPermissions(global)), std::string());
        QCOMPARE(failure(router.deleteJob(global)), std::string());
        QCOMPARE(helper.requests.size(), std::size_t(2));
        QVERIFY((helper.requests[0].operation ==
                 HelperRequest::Operation{HelperRequest::RepairPermissions{global.definition->location->url.string()}}));
        QCOMPARE(helper.requests[0].reason, std::string("repair permissions on org.example.global"));
        QCOMPARE(helper.requests[1].reason, std::string("delete org.example.global"));
    }

    // The computer-wide folders through the real helper tool, run once through the stand-in prompt.
    void theComputerWideFoldersAreChangedThroughTheHelper() {
        test::SandboxRoot root;
        PrivilegedClient client({fs::path(QUILLWICK_BINARY_DIR) / "Quillwick.app", std::nullopt});
        OperationRouter router(client);
        JobDefinition daemon("org.example.daemon", JobLocation::forLabel(JobDirectory::globalDaemons, "org.example.daemon"));
        daemon.setProgramArguments({"/bin/sleep", "30"});
        daemon.setRunAtLoad(true);
        const fs::path file = daemon.location->url;

        QCOMPARE(failure(router.create(daemon)), std::string());
        QCOMPARE(JobDefinition::fromLocation(*daemon.location).file, daemon.file);
        const Job job{"org.example.daemon", JobDefinition::fromLocation(*daemon.location), std::nullopt, false,
                      JobDirectory::globalDaemons};

        QCOMPARE(failure(router.load(job)), std::string());
        auto service = [] {
            for (const auto& entry : Launchctl().printDomainServices(LaunchdDomain::system()))
                if (entry.label == "org.example.daemon") return std::optional(entry);
            return std::optional<LaunchctlListEntry>();
        };
        QTRY_VERIFY(service() && service()->pid);
        const std::string again = failure(router.load(job));
        QVERIFY2(again.find("Bootstrap failed") != std::string::npos, again.c_str());
        QCOMPARE(failure(router.stop(job)), std::string());
        QCOMPARE(failure(router.unload(job)), std::string());
        QVERIFY(!service());

        ::chmod(file.c_str(), 0666);
        QCOMPARE(failure(router.repairPermissions(job)), std::string());
        QCOMPARE(fs::status(file).permissions(), fs::perms(0644));

        qputenv("QUILLWICK_PROMPT", "cancel");
        const auto dismissed = caught<PrivilegedError>(router.deleteJob(job));
        qunsetenv("QUILLWICK_PROMPT");
        QVERIFY(dismissed && dismissed->isCancelled());
        QVERIFY(fs::exists(file));
        QCOMPARE(failure(router.deleteJob(job)), std::string());
        QVERIFY(!fs::exists(file));
        QCOMPARE(client.auditLog().front().action, QStringLiteral("delete org.example.daemon"));
    }
};

QTEST_MAIN(OperationRouterTest)
#include "OperationRouterTest.moc"
