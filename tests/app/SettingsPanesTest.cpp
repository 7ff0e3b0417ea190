// The Settings window's login-item switch against the sandbox's launchd, and the Privileges pane's
// audit list after real requests through the helper. The program runs from a bundle of its own that
// holds the login item's list and the one-shot helper.
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QFutureWatcher>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "Quillwick/app/AppServices.h"
#include "Quillwick/app/JobBrowsing.h"
#include "Quillwick/app/PrivilegesSettings.h"
#include "Quillwick/app/SettingsView.h"
#include "Quillwick/store/JobFilter.h"
#include "Quillwick/store/PrivilegedClient.h"
#include "helperkit/LaunchdDomain.h"
#include "support/SandboxRoot.h"

using namespace qw;
namespace fs = std::filesystem;

namespace {

const std::string loginLabel = "com.tarnmoor.quillwick";

// Puts a wrapper in front of the root's launchctl that notes each bootstrap and bootout, and refuses
// bootstraps while the root holds "refuse-bootstrap".
void countRegistrations(const test::SandboxRoot& root) {
    const fs::path tool = root.resolve("/bin/launchctl");
    const fs::path real = fs::read_symlink(tool);
    fs::remove(tool);
    root.writeFile("/bin/launchctl",
                   "#!/bin/sh\n"
                   "case \"$1\" in bootstrap|bootout) echo \"$1\" >> \"$QUILLWICK_ROOT/registrations\";; esac\n"
                   "if [ \"$1\" = bootstrap ] && [ -e \"$QUILLWICK_ROOT/refuse-bootstrap\" ]; then\n"
                   "  echo 'Bootstrap failed: 5: Input/output error' >&2; exit 5\nfi\n"
                   "exec '" + real.string() + "' \"$@\"\n",
                   0755);
}

int registrations(const test::SandboxRoot& root) {
    const std::string text = test::readFile(root.path() / "registrations");
    return int(std::count(text.begin(), text.end(), '\n'));
}

bool loginItemLoaded(const test::SandboxRoot& root) {
    return root.launchctl({"print", LaunchdDomain::currentGUI().description() + "/" + loginLabel}).exitStatus == 0;
}

bool finish(QFuture<void> future) {
    QFutureWatcher<void> watcher;
    watcher.setFuture(future);
    QDeadlineTimer deadline(20000);
    while (!watcher.isFinished() && !deadline.hasExpired())
        QTest::qWait(10);
    return watcher.isFinished();
}

const Job* findJob(AppServices& services, const std::string& label) {
    for (const Job& job : services.store().jobs())
        if (job.label == label)
            return &job;
    return nullptr;
}

}  // namespace

class SettingsPanesTest : public QObject {
    Q_OBJECT
private slots:
    void theLoginSwitchRegistersOnClicksOnlyAndARefusalRevertsWithoutRetrying() {
        test::SandboxRoot root;
        countRegistrations(root);
        AppServices services;
        SettingsView settings(services);
        settings.show();
        auto* toggle = settings.findChild<QCheckBox*>("opensAtLoginToggle");
        auto* error = settings.findChild<QLabel*>("loginItemError");
        QVERIFY(!toggle->isChecked() && !loginItemLoaded(root));

        toggle->click();
        QVERIFY(toggle->isChecked() && error->isHidden());
        QVERIFY(loginItemLoaded(root));
        QVERIFY(finish(services.store().reload()));
        const Job* item = findJob(services, loginLabel);
        QVERIFY(item && JobFilter(JobFilter::Kind::runtimeOnly).matches(*item));
        QCOMPARE(statusLine(*item), QString("Registered by an app"));

        // Turned off elsewhere: showing the pane again reads that, and changes nothing itself.
        QVERIFY(root.launchctl({"bootout", LaunchdDomain::currentGUI().description() + "/" + loginLabel}).exitStatus == 0);
        const int before = registrations(root);
        settings.hide();
        settings.show();
        QVERIFY(!toggle->isChecked());
        QCOMPARE(registrations(root), before);

        root.writeFile("/refuse-bootstrap", "");
        toggle->click();
        QVERIFY(!toggle->isChecked());
        QVERIFY(error->isVisibleTo(&settings) && error->text().contains("Input/output error"));
        QCOMPARE(registrations(root), before + 1);  // one refused try, no second from the revert
        QVERIFY(!loginItemLoaded(root));

        fs::remove(root.resolve("/refuse-bootstrap"));
        toggle->click();
        QVERIFY(toggle->isChecked() && !error->isVisibleTo(&settings) && loginItemLoaded(root));
        toggle->click();
        QVERIFY(!toggle->isChecked() && !loginItemLoaded(root));
        QCOMPARE(registrations(root), before + 3);

        // Held for approval, the item counts as on; turning it off still unregisters it.
        root.writeFile("/private/var/db/launchd/needs-approval", "");
        auto* approval = settings.findChild<QWidget*>("loginApprovalRow");
        QVERIFY(!approval->isVisibleTo(&settings));
        toggle->click();
        QVERIFY(toggle->isChecked() && approval->isVisibleTo(&settings) && loginItemLoaded(root));
        toggle->click();
        QVERIFY(!toggle->isChecked() && !approval->isVisibleTo(&settings) && !loginItemLoaded(root));
        root.haltLaunchd();
    }

    void theAuditListShowsWhatWasDoneAsRootNewestFirstUntilCleared() {
        test::SandboxRoot root({.demo = true});
        AppServices services;
        PrivilegesSettings pane(services.privileged());
        pane.show();
        auto* show = pane.findChild<QPushButton*>("showAuditLogButton");
        QVERIFY(!show->isEnabled() && pane.findChild<QLabel*>("auditNothingYet")->isVisibleTo(&pane));

        QVERIFY(finish(services.store().refresh()));
        const Job updater = *findJob(services, "com.lumenfold.updater");  // in /Library/LaunchDaemons
        auto perform = [&](JobAction action) {
            services.actions().run(action, updater);
            QDeadlineTimer deadline(20000);
            while (services.actions().busy() && !deadline.hasExpired())
                QTest::qWait(10);
            return !services.actions().busy() && !services.actions().failure();
        };
        QVERIFY(perform(JobAction::disable));
        QVERIFY(show->isEnabled() && !pane.findChild<QLabel*>("auditNothingYet")->isVisibleTo(&pane));
        show->click();
        auto* sheet = pane.findChild<QDialog*>("auditLogSheet");
        QVERIFY(sheet && sheet->isVisible());
        auto* list = sheet->findChild<QListWidget*>("auditList");
        QCOMPARE(list->count(), 1);

        QVERIFY(perform(JobAction::enable));  // reaches the open sheet too
        const QList<AuditEntry>& log = services.privileged()->auditLog();
        QCOMPARE(list->count(), 2);
        QVERIFY(log[0].date >= log[1].date);
        for (int row = 0; row < 2; ++row) {
            QWidget* shown = list->itemWidget(list->item(row));
            QCOMPARE(shown->findChild<QLabel*>("auditAction")->text(), log[row].action);
            QVERIFY(shown->findChild<QLabel*>("auditSucceeded"));
        }
        QVERIFY(log[0].action.startsWith("enable ") && log[1].action.startsWith("disable "));

        sheet->findChild<QPushButton*>("auditClearButton")->click();
        QCOMPARE(list->count(), 0);
        QVERIFY(!show->isEnabled());
        QVERIFY(PrivilegedClient().auditLog().isEmpty());  // the file was emptied too
        root.haltLaunchd();
    }
};

QTEST_MAIN(SettingsPanesTest)
#include "SettingsPanesTest.moc"
