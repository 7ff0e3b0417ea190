// The sheet and the tab over the real router in a sandbox machine: an agent created and loaded
// through the stand-in launchd, the daemon template through the real helper tool, a save on disk.
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <unistd.h>

#include "Quillwick/editing/JobConfigureView.h"
#include "Quillwick/editing/KeyEditor.h"
#include "Quillwick/editing/NewJobView.h"
#include "Quillwick/editing/PathField.h"
#include "Quillwick/editing/TemplateChip.h"
#include "Quillwick/store/JobIndex.h"
#include "Quillwick/store/OperationRouter.h"
#include "Quillwick/store/PrivilegedClient.h"
#include "support/SandboxRoot.h"

using namespace qw;
namespace fs = std::filesystem;

namespace {

fs::path builtBundle() { return fs::path(QUILLWICK_BINARY_DIR) / "Quillwick.app"; }

void fill(NewJobView& sheet, const QString& id, const QString& text) {
    QWidget* w = sheet.findChild<QWidget*>("parameter:" + id);
    QLineEdit* edit = qobject_cast<PathField*>(w) ? w->findChild<QLineEdit*>() : qobject_cast<QLineEdit*>(w);
    QTest::keyClicks(edit, text);
}

// Types a label and a program into a fresh sheet of the given template and presses Create.
void createJob(NewJobView& sheet, const QString& templateId, const QString& label) {
    sheet.findChild<TemplateChip*>("chip:" + templateId)->click();
    QTest::keyClicks(sheet.labelField(), label);
    fill(sheet, "program", "/bin/sleep");
    fill(sheet, "arguments", "30");
    sheet.createButton()->click();
}

}  // namespace

class EditingEndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void anAgentIsCreatedAndLoaded() {
        test::SandboxRoot root;
        PrivilegedClient client({builtBundle(), std::nullopt});
        OperationRouter router([&client](const HelperRequest& r) { return client.perform(r); });
        QString created;
        NewJobView sheet(router, [&](const QString& label) {
            created = label;
            return QtFuture::makeReadyFuture();
        });
        sheet.show();
        createJob(sheet, "login", "com.example.agent");
        QTRY_COMPARE_WITH_TIMEOUT(created, QString("com.example.agent"), 30000);
        QVERIFY(!sheet.failure());
        QVERIFY(fs::exists(root.paths().userLaunchAgents() / "com.example.agent.plist"));
        const auto printed = root.launchctl({"print", "gui/" + std::to_string(getuid()) + "/com.example.agent"});
        QCOMPARE(printed.exitStatus, 0);
    }

    void theDaemonTemplateGoesThroughTheHelper() {
        test::SandboxRoot root;
        PrivilegedClient client({builtBundle(), std::nullopt});
        OperationRouter router([&client](const HelperRequest& r) { return client.perform(r); });
        QString created;
        NewJobView sheet(router, [&](const QString& label) {
            created = label;
            return QtFuture::makeReadyFuture();
        });
        sheet.show();
        createJob(sheet, "boot", "com.example.daemon");
        QTRY_VERIFY_WITH_TIMEOUT(!sheet.isBusy(), 30000);
        QCOMPARE(sheet.failure().value_or(""), QString());
        QCOMPARE(created, QString("com.example.daemon"));
        const std::string bytes = test::readFile(root.resolve("/Library/LaunchDaemons/com.example.daemon.plist"));
        QVERIFY(bytes.find("<key>KeepAlive</key>\n\t<true/>") != std::string::npos);
        QCOMPARE(root.launchctl({"print", "system/com.example.daemon"}).exitStatus, 0);
        QVERIFY(fs::is_directory(root.resolve("/Library/Logs/Quillwick")));  // launchd would not make it
        QVERIFY(!client.auditLog().isEmpty());
    }

    void theConfigureTabSavesThroughTheRouter() {
        test::SandboxRoot root;
        const fs::path file = root.paths().userLaunchAgents() / "com.example.tab.plist";
        fs::create_directories(file.parent_path());
        PlistFile(PlistDictionary{{"Label", "com.example.tab"}, {"Program", "/bin/true"}}, PlistFormat::binary).write(file);
        Job job;
        job.label = "com.example.tab";
        job.directory = JobDirectory::userAgents;
        job.definition = JobDefinition::fromLocation(JobLocation(JobDirectory::userAgents, file));

        PrivilegedClient client({builtBundle(), std::nullopt});
        OperationRouter router([&client](const HelperRequest& r) { return client.perform(r); });
        bool saved = false;
        JobConfigureView view(job, router, [&] {
            saved = true;
            return QtFuture::makeReadyFuture();
        });
        view.show();
        view.addKey(*LaunchdSchema::key("RunAtLoad"));
        view.saveButton()->click();
        QTRY_VERIFY(saved);
        const PlistFile written = PlistFile::read(file);
        QCOMPARE(written.format, PlistFormat::binary);
        QCOMPARE(written.root, (PlistDictionary{{"Label", "com.example.tab"}, {"Program", "/bin/true"}, {"RunAtLoad", true}}));
    }

    // StartInterval changed and left unsaved; a script adds a key to the file; the poll hands the tab
    // the new file. Save writes nothing and says so; only Reload gives the edit up. The daemon's file
    // is read again through the real helper tool.
    void anOutsideChangeIsNeverSavedOver() {
        for (const JobDirectory folder : {JobDirectory(JobDirectory::userAgents), JobDirectory(JobDirectory::globalDaemons)}) {
            test::SandboxRoot root;
            const std::string label = "com.example.heartbeat";
            const JobLocation location = JobLocation::forLabel(folder, label);
            fs::create_directories(location.url.parent_path());
            PlistFile file({{"Label", label}, {"Program", "/bin/true"}, {"StartInterval", 300}}, PlistFormat::xml);
            file.write(location.url);
            const auto scanned = [&] { return Job{label, JobIndex::readDefinition(location), std::nullopt, false, folder}; };
            PrivilegedClient client({builtBundle(), std::nullopt});
            OperationRouter router([&client](const HelperRequest& r) { return client.perform(r); });
            std::unique_ptr<JobConfigureView> view;
            int reloads = 0;
            view = std::make_unique<JobConfigureView>(scanned(), router, [&] {
                ++reloads;
                view->setJob(scanned());
                return QtFuture::makeReadyFuture();
            });
            view->show();
            auto setInterval = [&] {
                auto* interval = view->findChild<KeyEditor*>("key:StartInterval")->findChild<QLineEdit*>("integerEdit");
                interval->selectAll();
                QTest::keyClicks(interval, "900");
            };
            setInterval();
            file.set("ExternalNote", PlistValue("added by a script"));
            file.write(location.url);
            const std::string outside = test::readFile(location.url);
            view->setJob(scanned());

            for (const QString answer : {"Keep Editing", "Reload"}) {
                view->saveButton()->click();
                QTRY_VERIFY_WITH_TIMEOUT(view->findChild<QMessageBox*>("changedOnDiskAlert"), 30000);
                QCOMPARE(test::readFile(location.url), outside);
                QCOMPARE(view->draft().draft()->startInterval(), std::optional<std::int64_t>(900));
                auto* alert = view->findChild<QMessageBox*>("changedOnDiskAlert");
                QCOMPARE(alert->escapeButton()->text(), QString("Keep Editing"));
                (answer == "Reload" ? alert->findChild<QPushButton*>("reloadButton") : alert->escapeButton())->click();
                QTRY_VERIFY(!view->findChild<QMessageBox*>("changedOnDiskAlert"));
            }
            QCOMPARE(reloads, 1);
            QCOMPARE(view->draft().draft()->file, file);
            QVERIFY(!view->saveButton()->isEnabled());

            setInterval();
            view->saveButton()->click();
            QTRY_VERIFY_WITH_TIMEOUT(reloads == 2, 30000);
            file.set("StartInterval", PlistValue(900));
            QCOMPARE(PlistFile::read(location.url), file);
        }
    }
};

QTEST_MAIN(EditingEndToEndTest)
#include "EditingEndToEndTest.moc"
