// The service-registration stand-in on the sandbox's launchd: the helper daemon from the built bundle and
// a login item from a bundle of the test's own, through every status.
#include <QTest>

#include <fstream>

#include "Quillwick/platform/ManagedService.h"
#include "helperkit/HelperProtocol.h"
#include "support/SandboxRoot.h"

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
