// Job actions from the job list's context menu, carried out by the sandbox's launchd: what the menu
// starts really happens there, and the privileged road's failures reach the alert (a cancelled
// prompt, nothing). The program runs from a bundle of its own, so the one-shot helper is found.
#include <csignal>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "Quillwick/actions/ActionSettling.h"
#include "Quillwick/app/AppServices.h"
#include "Quillwick/app/ContentView.h"
#include "Quillwick/app/JobListModel.h"
#include "Quillwick/store/PrivilegedClient.h"
#include "helperkit/LaunchdDomain.h"
#include "helperkit/SystemPaths.h"
#include "support/SandboxRoot.h"

using namespace qw;

namespace {

const Job* findJob(AppServices& services, const std::string& label) {
    for (const Job& job : services.store().jobs())
        if (job.label == label)
            return &job;
    return nullptr;
}

// Right-clicks the one listed row (the search field narrows the list to it) and picks `item`.
bool chooseFromMenu(ContentView& window, const QString& item) {
    auto* list = window.findChild<QListView*>("jobListView");
    if (list->model()->rowCount() != 1)
        return false;
    const QModelIndex row = list->model()->index(0, 0);
    list->scrollTo(row);
    const QPoint at = list->visualRect(row).center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &click);
    const auto menus = window.findChildren<QMenu*>("jobActionsMenu");
    if (menus.isEmpty())
        return false;
    QMenu* menu = menus.last();
    for (QAction* action : menu->actions()) {
        if (action->text() == item && action->isEnabled()) {
            action->trigger();
            menu->close();
            return true;
        }
    }
    menu->close();
    return false;
}

struct Window {
    AppServices services;
    ContentView view{services};

    explicit Window(const QString& search) {
        view.setAttribute(Qt::WA_DeleteOnClose, false);
        view.setFilter(JobFilter::Kind::all);
        view.findChild<QLineEdit*>("searchField")->setText(search);
    }
    bool start() {
        QSignalSpy started(&view, &ContentView::startedUp);
        view.show();
        return started.wait(20000);
    }
    bool idle() {
        QDeadlineTimer deadline(20000);
        while (services.actions().busy() && !deadline.hasExpired())
            QTest::qWait(10);
        return !services.actions().busy();
    }
};

}  // namespace

class JobActionsEndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void everyActionOfTheMenuChangesWhatLaunchdReports() {
        test::SandboxRoot root({.demo = true});
        const std::string label = "com.example.watchdog";  // sleeps a minute, starts at load
        const std::string target = LaunchdDomain::currentGUI().description() + "/" + label;
        auto disabledLine = [&](const char* state) {
            const auto out = root.launchctl({"print-disabled", LaunchdDomain::currentGUI().description()});
            return out.standardOutput.find("\"" + label + "\" => " + state) != std::string::npos;
        };
        Window w(QString::fromStdString(label));
        QVERIFY(w.start());
        QVERIFY(findJob(w.services, label) && !findJob(w.services, label)->isLoaded());
        QVERIFY(root.launchctl({"print", target}).exitStatus != 0);

        QVERIFY(chooseFromMenu(w.view, "Load"));
        QVERIFY(w.idle());
        QCOMPARE(root.launchctl({"print", target}).exitStatus, 0);
        QVERIFY(findJob(w.services, label)->isLoaded());

        if (findJob(w.services, label)->isRunning()) {
            QVERIFY(chooseFromMenu(w.view, "Stop"));
            QVERIFY(w.idle());
        }
        QVERIFY(!findJob(w.services, label)->isRunning());

        QVERIFY(chooseFromMenu(w.view, "Start"));
        QVERIFY(w.idle());
        const auto pid = findJob(w.services, label)->pid();
        QVERIFY(pid && ActionSettling::isRunning(*pid));

        QVERIFY(chooseFromMenu(w.view, "Restart"));
        QVERIFY(w.idle());
        const auto restarted = findJob(w.services, label)->pid();
        QVERIFY(restarted && *restarted != *pid && ActionSettling::isRunning(*restarted));
        QTRY_VERIFY(!ActionSettling::isRunning(*pid));

        QVERIFY(chooseFromMenu(w.view, "Stop"));
        QVERIFY(w.idle());
        QVERIFY(!findJob(w.services, label)->isRunning());
        QTRY_VERIFY(!ActionSettling::isRunning(*restarted));

        QVERIFY(chooseFromMenu(w.view, "Disable"));
        QVERIFY(w.idle());
        QVERIFY(disabledLine("disabled"));
        QVERIFY(findJob(w.services, label)->isDisabled);
        QVERIFY(!chooseFromMenu(w.view, "Start"));  // offered, but off while disabled

        QVERIFY(chooseFromMenu(w.view, "Enable"));
        QVERIFY(w.idle());
        QVERIFY(disabledLine("enabled"));
        QVERIFY(!findJob(w.services, label)->isDisabled);

        QVERIFY(chooseFromMenu(w.view, "Unload"));
        QVERIFY(w.idle());
        QVERIFY(root.launchctl({"print", target}).exitStatus != 0);
        QVERIFY(!findJob(w.services, label)->isLoaded());
        QVERIFY(!w.services.actions().failure());
        root.haltLaunchd();
    }

    // launchctl returns before a stopped process has exited, and lists a job that failed at once
    // with its pid until it is reaped: the list, and the pane of the job, show what launchd says
    // once the action is over.
    void anActionIsOverOnceLaunchdHasLetGoOfTheProcess() {
        test::SandboxRoot root;
        const std::string gui = LaunchdDomain::currentGUI().description();
        const auto agent = [&](const std::string& label, const std::string& script, bool runAtLoad) {
            const auto program = root.writeFile("/usr/local/bin/" + label, "#!/bin/sh\n" + script, 0755);
            const auto file = root.writeFile(
                "/Users/" + SystemPaths::loginName() + "/Library/LaunchAgents/" + label + ".plist",
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Label</key><string>" +
                    label + "</string><key>Program</key><string>" + program.string() + "</string>" +
                    (runAtLoad ? "<key>RunAtLoad</key><true/>" : "") + "</dict></plist>\n");
            return root.launchctl({"bootstrap", gui, file.string()}).exitStatus;
        };
        // Takes a moment to shut down, as many daemons do.
        QCOMPARE(agent("com.example.slow-stop", "trap 'sleep 1; exit 0' TERM\nwhile :; do sleep 5 & wait $!; done\n", true), 0);
        // Fails as soon as it has looked around: well inside the second a start is watched for that.
        QCOMPARE(agent("com.example.fails-at-once", "sleep 0.2\nexit 3\n", false), 0);

        Window w("slow-stop");
        QVERIFY(w.start());
        const Job* slow = findJob(w.services, "com.example.slow-stop");
        QVERIFY(slow && slow->isRunning());
        w.view.setSelection(slow->id());
        auto* status = w.view.findChild<QLabel*>("detailStatus");
        QTRY_VERIFY(status->text().startsWith("Running (pid"));

        QVERIFY(chooseFromMenu(w.view, "Stop"));
        QVERIFY(w.idle());
        QVERIFY(!findJob(w.services, "com.example.slow-stop")->isRunning());
        auto* list = w.view.findChild<QListView*>("jobListView");
        QVERIFY(!list->model()->index(0, 0).data(JobListModel::StatusLineRole).toString().contains("Running"));
        QTRY_VERIFY(!status->text().startsWith("Running"));

        w.view.findChild<QLineEdit*>("searchField")->setText("fails-at-once");
        QVERIFY(chooseFromMenu(w.view, "Start"));
        QVERIFY(w.idle());
        const Job* failed = findJob(w.services, "com.example.fails-at-once");
        QVERIFY(!failed->isRunning());
        QCOMPARE(failed->health(), Job::Health::failed);
        root.haltLaunchd();
    }

    void aRefusedPromptAlertsUntilOKAndACancelledOneSaysNothing() {
        test::SandboxRoot root({.demo = true});
        const std::string label = "com.lumenfold.updater";  // in /Library/LaunchDaemons: needs the prompt
        const std::string target = "system/" + label;
        Window w(QString::fromStdString(label));
        QVERIFY(w.start());
        QVERIFY(w.services.privileged());
        QVERIFY(w.services.needsAdministrator(*findJob(w.services, label)));

        qputenv("QUILLWICK_PROMPT", "cancel");
        QVERIFY(chooseFromMenu(w.view, "Unload"));
        QVERIFY(w.idle());
        QVERIFY(!w.services.actions().failure());
        QVERIFY(!w.view.findChild<QMessageBox*>("failureAlert"));
        QCOMPARE(root.launchctl({"print", target}).exitStatus, 0);

        qputenv("QUILLWICK_PROMPT", "fail");
        QVERIFY(chooseFromMenu(w.view, "Unload"));
        QVERIFY(w.idle());
        qunsetenv("QUILLWICK_PROMPT");
        const auto failure = w.services.actions().failure();
        QVERIFY(failure && !failure->isEmpty());
        auto* alert = w.view.findChild<QMessageBox*>("failureAlert");
        QVERIFY(alert && alert->isVisible());
        QCOMPARE(alert->windowTitle(), QString("That didn’t work"));
        QCOMPARE(alert->text(), QString("That didn’t work"));
        QVERIFY(alert->informativeText().contains(failure->toHtmlEscaped()));
        QCOMPARE(root.launchctl({"print", target}).exitStatus, 0);

        // While the alert is up, the same failure does not stack a second one.
        QCOMPARE(w.view.findChildren<QMessageBox*>("failureAlert").size(), qsizetype(1));
        alert->buttons().front()->click();
        QTRY_VERIFY(!w.view.findChild<QMessageBox*>("failureAlert"));
        QVERIFY(!w.services.actions().failure());

        // With the password given, the helper does it and the audit log says so.
        QVERIFY(chooseFromMenu(w.view, "Unload"));
        QVERIFY(w.idle());
        QVERIFY(!w.services.actions().failure());
        QVERIFY(root.launchctl({"print", target}).exitStatus != 0);
        QVERIFY(!findJob(w.services, label)->isLoaded());
        QCOMPARE(w.services.privileged()->auditLog().size(), qsizetype(1));
        QVERIFY(w.services.privileged()->auditLog().front().succeeded);
        root.haltLaunchd();
    }
};

QTEST_MAIN(JobActionsEndToEndTest)
#include "JobActionsEndToEndTest.moc"
