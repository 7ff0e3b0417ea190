// The privileged client end to end in a sandbox machine: the one-shot road through the stand-in
// osascript and the real helper, the socket road to the registered helper daemon (run as root, where
// the test is, for clients run as other users), and the audit log.
#include <QSignalSpy>
#include <QTest>

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Quillwick/launchd/Launchctl.h"
#include "Quillwick/platform/ApplicationSupport.h"
#include "Quillwick/store/AuditLog.h"
#include "Quillwick/store/PrivilegedClient.h"
#include "support/SandboxRoot.h"
#include "support/SystemUser.h"

using namespace qw;
namespace fs = std::filesystem;

namespace {

fs::path builtBundle() { return fs::path(QUILLWICK_BINARY_DIR) / "Quillwick.app"; }

HelperRequest versionRequest() {
    HelperRequest request;
    request.reason = "check the helper's version";
    return request;
}

// Waits for the future through the event loop (it finishes on the main thread) and hands back its
// outcome: the reply, or the error it carries.
struct Outcome {
    std::optional<HelperResponse> reply;
    std::exception_ptr error;
};
Outcome await(QFuture<HelperResponse> future) {
    if (!QTest::qWaitFor([&] { return future.isFinished(); }, 30000)) return {};
    Outcome outcome;
    try {
        outcome.reply = future.result();
    } catch (...) {
        outcome.error = std::current_exception();
    }
    return outcome;
}

std::optional<PrivilegedError> privilegedError(const Outcome& outcome) {
    if (!outcome.error) return std::nullopt;
    try {
        std::rethrow_exception(outcome.error);
    } catch (const PrivilegedError& error) {
        return error;
    } catch (...) {
        return std::nullopt;
    }
}

bool folderIsEmpty(const fs::path& folder) { return fs::is_empty(folder); }

// A home folder for the user in the sandbox root; false when it could not be made.
bool makeHome(const test::SandboxRoot& root, const test::SystemUser& user) {
    const fs::path home = root.resolve("/Users/" + user.name());
    std::error_code ignored;
    fs::create_directories(home, ignored);
    return user.exists() && ::chown(home.c_str(), user.uid(), user.gid()) == 0;
}

// The probe's output, run as the user with nothing of the test's environment but the machine root.
std::string probe(const test::SystemUser& user, const test::SandboxRoot& root, const std::string& what) {
    return Subprocess::run("/usr/bin/setpriv",
                           {"--reuid=" + user.name(), "--regid=" + std::to_string(user.gid()), "--init-groups",
                            PRIVILEGED_CLIENT_PROBE, builtBundle().string(), what},
                           std::nullopt,
                           Subprocess::Environment{{"QUILLWICK_ROOT", root.path().string()}, {"PATH", "/usr/bin:/bin"}})
        .standardOutput;
}

}  // namespace

class PrivilegedClientTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { qunsetenv("QUILLWICK_PROMPT"); }

    void oneShotRoadCarriesRequestAndRefusalAndRecordsBoth() {
        test::SandboxRoot root;
        PrivilegedClient client({builtBundle(), std::nullopt});
        QCOMPARE(client.helperStatus(), ManagedService::Status::notRegistered);

        Outcome outcome = await(client.perform(versionRequest()));
        QVERIFY(outcome.reply);
        QVERIFY(outcome.reply->succeeded);
        QCOMPARE(outcome.reply->helperVersion.value_or(""), std::string("1.0.1"));

        // The helper refuses with exit status 1; its own reply still comes back and is recorded.
        HelperRequest write;
        write.operation = HelperRequest::Write{"/tmp/x.plist", Bytes{'x'}};
        write.reason = "save x";
        outcome = await(client.perform(write));
        QVERIFY(outcome.reply);
        QVERIFY(!outcome.reply->succeeded);
        QVERIFY(outcome.reply->message->find("is not in /Library/LaunchAgents") != std::string::npos);

        QCOMPARE(client.auditLog().size(), 2);
        QCOMPARE(client.auditLog()[0].action, QStringLiteral("save x"));
        QVERIFY(!client.auditLog()[0].succeeded);
        QCOMPARE(client.auditLog()[0].detail, std::optional<QString>(QString::fromStdString(*outcome.reply->message)));
        QCOMPARE(client.auditLog()[1].detail, std::nullopt);
        QCOMPARE(AuditLog::load(ApplicationSupport::auditFile()), client.auditLog());

        struct stat info {};
        QCOMPARE(::lstat(ApplicationSupport::requestsFolder().c_str(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0700));
        QVERIFY(folderIsEmpty(ApplicationSupport::requestsFolder()));
    }

    void dismissedOrFailedPromptIsAnErrorAndRecordsNothing() {
        test::SandboxRoot root;
        PrivilegedClient client({builtBundle(), std::nullopt});

        qputenv("QUILLWICK_PROMPT", "cancel");
        auto error = privilegedError(await(client.perform(versionRequest())));
        QVERIFY(error);
        QVERIFY(error->isCancelled());
        QCOMPARE(std::string(error->what()), std::string());

        qputenv("QUILLWICK_PROMPT", "fail");
        error = privilegedError(await(client.perform(versionRequest())));
        QVERIFY(error);
        QCOMPARE(error->kind(), PrivilegedError::Kind::elevationFailed);
        QVERIFY(std::string(error->what()).find("password was incorrect") != std::string::npos);

        QVERIFY(client.auditLog().isEmpty());
        QVERIFY(!fs::exists(ApplicationSupport::auditFile()));
        QVERIFY(folderIsEmpty(ApplicationSupport::requestsFolder()));
    }

    void missingHelperWritesNothing() {
        test::SandboxRoot root;
        test::TemporaryFolder bundle;
        PrivilegedClient client({bundle.path(), std::nullopt});
        QCOMPARE(client.helperStatus(), ManagedService::Status::notFound);
        const auto error = privilegedError(await(client.perform(versionRequest())));
        QVERIFY(error);
        QCOMPARE(*error, PrivilegedError::helperMissing());
        QVERIFY(!fs::exists(ApplicationSupport::requestsFolder()));
    }

    void requestFolderIsRepairedOrRefused() {
        test::SandboxRoot root;
        const fs::path requests = ApplicationSupport::requestsFolder();
        fs::create_directories(requests);
        ::chmod(requests.c_str(), 0777);
        ApplicationSupport::ensureRequestsFolder();
        struct stat info {};
        ::lstat(requests.c_str(), &info);
        QCOMPARE(info.st_mode & 07777, mode_t(0700));

        // A link in its place could send the request file anywhere.
        fs::remove(requests);
        test::TemporaryFolder elsewhere;
        fs::create_directory_symlink(elsewhere.path(), requests);
        QVERIFY_THROWS_EXCEPTION(fs::filesystem_error, ApplicationSupport::ensureRequestsFolder());
    }

    void scriptQuotesForShellAndAppleScript() {
        QCOMPARE(PrivilegedClient::shellQuoted("it's"), std::string("'it'\\''s'"));
        QCOMPARE(PrivilegedClient::appleScriptEscaped("a\\b\"c"), std::string("a\\\\b\\\"c"));
        QCOMPARE(PrivilegedClient::oneShotScript("/A'pp/QuillwickHelper", "/R/1.json", "load \"x\\y\""),
                 std::string("do shell script \"'/A'\\\\''pp/QuillwickHelper' one-shot '/R/1.json'\" with "
                             "administrator privileges with prompt \"Quillwick needs your password to load "
                             "\\\"x\\\\y\\\".\""));
    }

    void socketRoadServesTheRegisteredHelperUntilItIsRemoved() {
        test::SandboxRoot root;
        // The helper daemon admits this test program in place of the application.
        qputenv("QUILLWICK_HELPER_PEER", QByteArray::fromStdString(fs::read_symlink("/proc/self/exe").string()));
        PrivilegedClient client({builtBundle(), std::nullopt});
        client.installHelper();
        QCOMPARE(client.helperStatus(), ManagedService::Status::enabled);
        QVERIFY(QTest::qWaitFor([] { return fs::exists(SystemPaths::current().helperSocket()); }, 10000));

        // The prompt would refuse: only the socket can answer.
        qputenv("QUILLWICK_PROMPT", "cancel");
        for (int i = 0; i < 3; ++i) {
            const Outcome outcome = await(client.perform(versionRequest()));
            QVERIFY(outcome.reply);
            QCOMPARE(outcome.reply->helperVersion.value_or(""), std::string("1.0.1"));
        }

        // Restarted under the cached connection: the next request goes on a new one.
        QCOMPARE(root.launchctl({"kickstart", "-k", "system/com.tarnmoor.quillwick.helper"}).exitStatus, 0);
        QVERIFY(await(client.perform(versionRequest())).reply);

        // Killed as a crash would: launchd starts it again, and the next request waits for it.
        const auto running = Launchctl().print({LaunchdDomain::system(), "com.tarnmoor.quillwick.helper"});
        QVERIFY(running && running->pid);
        QCOMPARE(::kill(*running->pid, SIGKILL), 0);
        QCOMPARE(client.helperStatus(), ManagedService::Status::enabled);
        const Outcome afterCrash = await(client.perform(versionRequest()));
        QVERIFY2(afterCrash.reply, privilegedError(afterCrash) ? privilegedError(afterCrash)->what() : "no reply");

        QFuture<void> removal = client.removeHelper();
        QVERIFY(QTest::qWaitFor([&] { return removal.isFinished(); }, 30000));
        QCOMPARE(client.helperStatus(), ManagedService::Status::notRegistered);
        QCOMPARE(client.auditLog().front().action, QStringLiteral("Removed the privileged helper"));
        QCOMPARE(client.auditLog().back().action, QStringLiteral("Installed the privileged helper"));
        QCOMPARE(client.auditLog().size(), 7);

        // Now the one-shot road, whose prompt is dismissed.
        const auto error = privilegedError(await(client.perform(versionRequest())));
        QVERIFY(error && error->isCancelled());
        qunsetenv("QUILLWICK_HELPER_PEER");
    }

    void theHelperAsRootServesAnAdministratorAndTellsAPlainUserWhy() {
        if (::geteuid() != 0) QSKIP("needs root: the helper runs as root, the client as users the test creates");
        test::SandboxRoot root;
        fs::permissions(root.path(), fs::perms(0755));  // the users must reach the socket and launchd's state
        const test::SystemUser admin("qwladmin", true), plain("qwlplain", false);
        QVERIFY(makeHome(root, admin) && makeHome(root, plain));
        qputenv("QUILLWICK_HELPER_PEER", PRIVILEGED_CLIENT_PROBE);
        PrivilegedClient client({builtBundle(), std::nullopt});
        client.installHelper();
        qunsetenv("QUILLWICK_HELPER_PEER");
        QVERIFY(QTest::qWaitFor([] { return fs::exists(SystemPaths::current().helperSocket()); }, 10000));

        // The administrator's client trusts root's helper, whose executable it may not read.
        const std::string served = probe(admin, root, "version");
        QVERIFY2(served.starts_with("{") && HelperResponse::fromJson(served).helperVersion == "1.0.1", served.c_str());

        QCOMPARE(probe(plain, root, "version"), "error: Could not reach the privileged helper: it serves administrators only, "
                                         "and “" + plain.name() + "” is not one");
        QCOMPARE(probe(plain, root, "remove"), std::string("error: Removing the helper needs an administrator."));
        QCOMPARE(client.helperStatus(), ManagedService::Status::enabled);

        // In a folder others may write, a listener might be anyone's: it is not taken for the helper.
        const fs::path folder = SystemPaths::current().helperSocket().parent_path();
        fs::permissions(folder, fs::perms(0777));
        const std::string refused = probe(admin, root, "version");
        fs::permissions(folder, fs::perms(0755));
        QVERIFY2(refused.find("is not Quillwick's helper") != std::string::npos, refused.c_str());
        root.haltLaunchd();
    }

    void listenerThatFailsTheCheckIsUnreachable() {
        test::SandboxRoot root;
        PrivilegedClient client({builtBundle(), std::nullopt});
        client.installHelper();
        // Registered and listening, but this client demands another program at the other end.
        QVERIFY(QTest::qWaitFor([] { return fs::exists(SystemPaths::current().helperSocket()); }, 10000));
        PrivilegedClient strict({builtBundle(), HelperSocket::PeerRequirement{"/nonexistent", nullptr}});
        const auto error = privilegedError(await(strict.perform(versionRequest())));
        QVERIFY(error);
        QCOMPARE(error->kind(), PrivilegedError::Kind::helperUnreachable);
        QCOMPARE(strict.auditLog().size(), 1);  // only the installation
    }
};

QTEST_MAIN(PrivilegedClientTest)
#include "PrivilegedClientTest.moc"
