// The privileged client end to end in a sandbox machine: the one-shot road through the stand-in
// osascript and the real helper, the socket road to the registered helper daemon, and the audit log.
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

#include "Quillwick/platform/ApplicationSupport.h"
#include "Quillwick/store/AuditLog.h"
#include "Quillwick/store/PrivilegedClient.h"
#include "support/SandboxRoot.h"

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

        QFuture<void> removal = client.removeHelper();
        QVERIFY(QTest::qWaitFor([&] { return removal.isFinished(); }, 30000));
        QCOMPARE(client.helperStatus(), ManagedService::Status::notRegistered);
        QCOMPARE(client.auditLog().front().action, QStringLiteral("Removed the privileged helper"));
        QCOMPARE(client.auditLog().back().action, QStringLiteral("Installed the privileged helper"));
        QCOMPARE(client.auditLog().size(), 6);

        // Now the one-shot road, whose prompt is dismissed.
        const auto error = privilegedError(await(client.perform(versionRequest())));
        QVERIFY(error && error->isCancelled());
        qunsetenv("QUILLWICK_HELPER_PEER");
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
