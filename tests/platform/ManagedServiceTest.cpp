// The service-registration stand-in on the sandbox's launchd: the helper daemon from the built bundle and
// a login item from a bundle of the test's own, through every status.
#include <QTest>

#include <unistd.h>

#include <fstream>

#include "Quillwick/platform/ManagedService.h"
#include "helperkit/HelperProtocol.h"
#include "support/LinkedBundle.h"
#include "support/SandboxRoot.h"
#include "support/SystemUser.h"

using namespace qw;
namespace fs = std::filesystem;
using Status = ManagedService::Status;

class ManagedServiceTest : public QObject {
    Q_OBJECT

private slots:
    void daemonGoesThroughEveryStatus() {
        test::SandboxRoot root;
        const auto daemon = ManagedService::daemon(fs::path(QUILLWICK_BINARY_DIR) / "Quillwick.app",
                                                   std::string(HelperService::plistName));
        QCOMPARE(daemon.label(), std::string("com.tarnmoor.quillwick.helper"));
        QCOMPARE(daemon.status(), Status::notRegistered);
        daemon.registerService();
        daemon.registerService();  // already registered: fine
        QCOMPARE(daemon.status(), Status::enabled);
        QCOMPARE(root.launchctl({"print", "system/com.tarnmoor.quillwick.helper"}).exitStatus, 0);

        const fs::path approval = root.writeFile("/private/var/db/launchd/needs-approval", "");
        QCOMPARE(daemon.status(), Status::requiresApproval);
        fs::remove(approval);

        daemon.unregisterService();
        daemon.unregisterService();
        QCOMPARE(daemon.status(), Status::notRegistered);

        test::TemporaryFolder empty;
        const auto missing = ManagedService::daemon(empty.path(), std::string(HelperService::plistName));
        QCOMPARE(missing.status(), Status::notFound);
        QVERIFY_THROWS_EXCEPTION(ManagedService::Error, missing.registerService());
    }

    // Root would run and serve what the bundle holds: from a bundle someone else could change, nothing is
    // registered, and the error says why.
    void theHelperIsRegisteredOnlyFromABundleOnlyRootCanChange() {
        if (::geteuid() != 0) QSKIP("needs root to hand a folder to a plain user");
        test::SandboxRoot root;
        const test::SystemUser plain("qwmplain", false);
        QVERIFY(plain.exists());
        test::TemporaryFolder folder;
        const fs::path apps = folder.path() / "apps";
        fs::create_directory(apps);
        const auto daemon = ManagedService::daemon(test::linkedBundle(apps), std::string(HelperService::plistName));
        QCOMPARE(::chown(apps.c_str(), plain.uid(), plain.gid()), 0);
        try {
            daemon.registerService();
            QFAIL("registered from a folder a plain user owns");
        } catch (const ManagedService::Error& error) {
            QCOMPARE(std::string(error.what()),
                     "The helper cannot be installed from here: someone other than root could change it or Quillwick, "
                     "since " + apps.string() + " belongs to uid " + std::to_string(plain.uid()) +
                         ", not to root. Put Quillwick in a folder that only root can change.");
        }
        QCOMPARE(daemon.status(), Status::notRegistered);

        QCOMPARE(::chown(apps.c_str(), 0, 0), 0);
        daemon.registerService();
        QCOMPARE(daemon.status(), Status::enabled);
    }

    void loginItemRegistersInTheUsersGuiDomain() {
        test::SandboxRoot root;
        test::TemporaryFolder bundle;
        const fs::path plist = bundle.path() / "Contents/Library/LoginItems/com.tarnmoor.quillwick.login.plist";
        fs::create_directories(plist.parent_path());
        std::ofstream(plist) << "<plist version=\"1.0\"><dict><key>Label</key><string>com.tarnmoor.quillwick.login"
                                "</string><key>ProgramArguments</key><array><string>/bin/sleep</string><string>60"
                                "</string></array><key>RunAtLoad</key><true/></dict></plist>";
        const auto item = ManagedService::loginItem(bundle.path(), "com.tarnmoor.quillwick.login.plist");
        QCOMPARE(item.domain(), LaunchdDomain::currentGUI());
        QCOMPARE(item.status(), Status::notRegistered);
        item.registerService();
        QCOMPARE(item.status(), Status::enabled);
        QVERIFY(root.launchctl({"list"}).standardOutput.find("com.tarnmoor.quillwick.login") != std::string::npos);
        item.unregisterService();
        QCOMPARE(item.status(), Status::notRegistered);
    }

    void aMovedBundlesLoginItemRunsTheProgramInsideIt() {
        test::SandboxRoot root;
        test::TemporaryFolder elsewhere;
        const fs::path bundle = elsewhere.path() / "Moved.app";
        const fs::path list = bundle / "Contents/Library/LoginItems/com.tarnmoor.quillwick.plist";
        fs::create_directories(list.parent_path());
        const fs::path built = fs::path(QUILLWICK_BINARY_DIR) / "Quillwick.app/Contents/Library/LoginItems";
        fs::copy_file(built / list.filename(), list);
        const auto item = ManagedService::loginItem(bundle, list.filename().string());
        item.registerService();
        QCOMPARE(item.status(), Status::enabled);
        const std::string target = LaunchdDomain::currentGUI().description() + "/com.tarnmoor.quillwick";
        const std::string printed = root.launchctl({"print", target}).standardOutput;
        const std::string program = "program = " + (bundle / "Contents/MacOS/Quillwick").string() + "\n";
        QVERIFY2(printed.find(program) != std::string::npos, printed.c_str());
        QVERIFY(printed.find(QUILLWICK_BINARY_DIR) == std::string::npos);
        item.unregisterService();
        QCOMPARE(item.status(), Status::notRegistered);
    }
};

QTEST_MAIN(ManagedServiceTest)
#include "ManagedServiceTest.moc"
