// The job browser's pieces over hand-made jobs: status lines, search, the list's row updates, the
// context menu and the action bar in the states the user meets.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "Quillwick/actions/JobActionBar.h"
#include "Quillwick/actions/JobActionsMenu.h"
#include "Quillwick/app/JobBrowsing.h"
#include "Quillwick/app/JobListModel.h"
#include "Quillwick/app/JobListView.h"
#include "Quillwick/ui/EmptyStateView.h"
#include "helperkit/PlistFile.h"

using namespace qw;

namespace {

Job fileJob(const std::string& label, JobDirectory folder, PlistDictionary extra = {}) {
    PlistDictionary root{{"Label", label}};
    for (const auto& [k, v] : extra.entries())
        root.set(k, v);
    const std::string path = "/Users/me/Library/LaunchAgents/" + label + ".plist";
    Job job;
    job.label = label;
    job.definition = JobDefinition(PlistFile(root, PlistFormat::xml), JobLocation(folder, path));
    job.directory = folder;
    return job;
}

Job loaded(Job job, std::optional<int> pid = {}, std::optional<RuntimeState::ExitStatus> exit = {}) {
    job.status = LaunchctlListEntry{job.label, pid, exit};
    return job;
}

QStringList texts(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions())
        out << (a->isSeparator() ? "-" : a->text() + (a->isEnabled() ? "" : " (off)"));
    return out;
}

}  // namespace

class JobBrowserTest : public QObject {
    Q_OBJECT
private slots:
    void statusLineFollowsTheFirstRuleThatApplies() {
        const Job user = fileJob("com.example.a", JobDirectory::userAgents);
        Job disabledRunning = loaded(user, 42);
        disabledRunning.isDisabled = true;
        Job disabled = loaded(user);
        disabled.isDisabled = true;
        Job runtime;
        runtime.label = "com.app.helper";
        runtime.status = LaunchctlListEntry{runtime.label, std::nullopt, std::nullopt};
        const std::vector<std::pair<Job, QString>> cases{
            {disabledRunning, "Running · pid 42"},
            {disabled, "Disabled"},
            {loaded(user, {}, RuntimeState::ExitStatus::code(78, "EX_CONFIG")), "Failed · code 78 (EX_CONFIG)"},
            {runtime, "Registered by an app"},
            {user, "Not loaded"},
            {loaded(user, {}, RuntimeState::ExitStatus::code(0)), "User Agents"},
            {loaded(fileJob("d", JobDirectory::globalDaemons)), "Global Daemons"},
        };
        for (const auto& [job, text] : cases)
            QCOMPARE(statusLine(job), text);
    }

    void searchTrimsBlanksOnlyAndLooksThroughProgramPathAndArguments() {
        const Job job = fileJob("com.example.backup", JobDirectory::userAgents,
                                PlistDictionary{{"ProgramArguments", PlistValue::array({"/opt/tools/bin/rsync",
                                                                                         "--archive", "/Volumes/Backup"})}});
        const Job other = fileJob("org.other", JobDirectory::userAgents);
        const std::vector<Job> jobs{job, other};
        auto all = [](const Job&) { return true; };
        QCOMPARE(visibleJobs(jobs, all, " \t ").size(), std::size_t(2));
        QCOMPARE(visibleJobs(jobs, all, "  BACKUP\t").size(), std::size_t(1));
        QCOMPARE(visibleJobs(jobs, all, "tools/bin").size(), std::size_t(1));
        QCOMPARE(visibleJobs(jobs, all, "--archive /volumes").size(), std::size_t(1));
        QCOMPARE(visibleJobs(jobs, all, "LaunchAgents/org").size(), std::size_t(1));
        QCOMPARE(visibleJobs(jobs, all, "backup\n").size(), std::size_t(0));
        QCOMPARE(visibleJobs(jobs, [](const Job& j) { return j.label == "org.other"; }, "").size(), std::size_t(1));
    }

    void aRescanKeepsTheSelectedRowAndTheEmptyStateFollowsTheList() {
        JobListView view([](JobAction, const Job&) {}, nullptr);
        view.resize(300, 400);
        view.show();
        const Job a = fileJob("a", JobDirectory::userAgents), b = fileJob("b", JobDirectory::userAgents),
                  c = fileJob("c", JobDirectory::userAgents);
        view.setJobs({a, b, c});
        auto* empty = view.findChild<EmptyStateView*>("jobListEmpty");
        QVERIFY(!empty->isVisible());
        QSignalSpy picked(&view, &JobListView::selectionChanged);
        view.listView()->setCurrentIndex(view.model()->index(1));
        QCOMPARE(picked.count(), 1);
        QCOMPARE(view.selection(), std::optional<std::string>(b.id()));

        QSignalSpy removed(view.model(), &QAbstractItemModel::rowsRemoved);
        view.setJobs({loaded(b, 7), c});
        QCOMPARE(removed.count(), 1);
        QCOMPARE(view.listView()->currentIndex().row(), 0);
        QCOMPARE(view.model()->index(0).data(JobListModel::StatusLineRole).toString(), QString("Running · pid 7"));
        QCOMPARE(picked.count(), 1);

        view.setJobs({});
        QVERIFY(empty->isVisible());
        QCOMPARE(empty->title(), QString("No Jobs"));
        QCOMPARE(empty->description(), QString("Nothing here matches."));
        QCOMPARE(view.selection(), std::optional<std::string>(b.id()));
    }

    void neighbouringRowsComeAndGoTogetherAndTheOrderIsTheNewOne() {
        JobListModel model;
        auto job = [](const char* label) { return fileJob(label, JobDirectory::userAgents); };
        model.setJobs({job("a"), job("b"), job("c"), job("d"), job("e")});
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy moved(&model, &QAbstractItemModel::rowsMoved);
        model.setJobs({job("x"), job("y"), job("d"), job("a"), job("z")});
        QStringList order;
        for (int row = 0; row < model.rowCount(); ++row)
            order << model.index(row).data().toString();
        QCOMPARE(order, (QStringList{"x", "y", "d", "a", "z"}));
        QCOMPARE(removed.count(), 2);  // b and c, then e
        QCOMPARE(inserted.count(), 2);  // x and y, then z
        QCOMPARE(moved.count(), 1);
    }

    void contextMenuOffersWhatAppliesAndReadOnlyDisablesOnlyTheActions() {
        Job idleDisabled = loaded(fileJob("x", JobDirectory::userAgents, {{"StandardOutPath", "/tmp/x.log"}}));
        idleDisabled.isDisabled = true;
        std::unique_ptr<QMenu> menu(makeJobActionsMenu(idleDisabled, false, [](JobAction) {}));
        QCOMPARE(texts(menu.get()), (QStringList{"Start (off)", "-", "Unload", "Enable", "-", "Reveal in Finder",
                                                 "Reveal Log in Finder", "Copy Label", "Copy File Path"}));

        Job runtime;
        runtime.label = "com.app.helper";
        runtime.status = LaunchctlListEntry{runtime.label, 9, std::nullopt};
        menu.reset(makeJobActionsMenu(runtime, false, [](JobAction) {}));
        QCOMPARE(texts(menu.get()), (QStringList{"Restart", "Stop", "-", "Unload", "Disable", "-", "Copy Label"}));
        runtime.status.reset();
        menu.reset(makeJobActionsMenu(runtime, false, [](JobAction) {}));
        QCOMPARE(texts(menu.get()), (QStringList{"Start (off)", "-", "Disable", "-", "Copy Label"}));

        std::vector<JobAction> ran;
        menu.reset(makeJobActionsMenu(fileJob("s", JobDirectory::systemAgents), true,
                                      [&](JobAction a) { ran.push_back(a); }));
        QCOMPARE(texts(menu.get()), (QStringList{"Start (off)", "-", "Load (off)", "Disable (off)", "-",
                                                 "Reveal in Finder", "Copy Label", "Copy File Path"}));
        menu.reset(makeJobActionsMenu(loaded(fileJob("u", JobDirectory::userAgents)), false,
                                      [&](JobAction a) { ran.push_back(a); }));
        menu->actions().at(0)->trigger();
        QCOMPARE(ran, std::vector<JobAction>{JobAction::start});
    }

    void actionBarReflectsTheJobAndItsSwitchesActOnClicksOnly() {
        Job job = loaded(fileJob("x", JobDirectory::userAgents));
        job.isDisabled = true;
        std::vector<JobAction> ran;
        JobActionBar bar(job, {}, false, [&](JobAction a) { ran.push_back(a); });
        bar.show();
        auto* start = bar.findChild<QPushButton*>("startButton");
        QVERIFY(!start->isEnabled());
        QCOMPARE(start->toolTip(), QString("This job is disabled. Switch Enabled on before it can start."));
        auto* loadedSwitch = bar.findChild<QCheckBox*>("loadedSwitch");
        QVERIFY(loadedSwitch->isChecked() && !loadedSwitch->isEnabled());
        auto* enabledSwitch = bar.findChild<QCheckBox*>("enabledSwitch");
        QVERIFY(!enabledSwitch->isChecked() && enabledSwitch->isEnabled());
        QVERIFY(!bar.findChild<QWidget*>("permissionNote"));

        enabledSwitch->click();
        QCOMPARE(ran, std::vector<JobAction>{JobAction::enable});
        QVERIFY(!enabledSwitch->isChecked());  // the rescan moves it, not the click

        job.isDisabled = false;
        bar.setJob(job, {});  // a rescan: rebuilt, runs nothing
        QCOMPARE(ran.size(), std::size_t(1));

        JobActionBar daemon(loaded(fileJob("d", JobDirectory::globalDaemons)), {}, false, [](JobAction) {});
        QCOMPARE(daemon.findChild<QLabel*>("permissionNoteText")->text(), QString("Needs your password"));
        JobActionBar system(fileJob("s", JobDirectory::systemDaemons), {true, true}, false, [](JobAction) {});
        QVERIFY(!system.isEnabled());
        QCOMPARE(system.findChild<QLabel*>("permissionNoteText")->text(), QString("Read only"));

        Job runtime;
        runtime.label = "com.app.helper";
        runtime.status = LaunchctlListEntry{runtime.label, std::nullopt, std::nullopt};
        JobActionBar appBar(runtime, {}, true, [](JobAction) {});
        QVERIFY(!appBar.isEnabled());
        auto* appLoaded = appBar.findChild<QCheckBox*>("loadedSwitch");
        QCOMPARE(appLoaded->toolTip(), QString("This job has no file — an app registered it with the system directly."));
        QVERIFY(!appBar.findChild<QToolButton*>("revealButton"));
    }
};

QTEST_MAIN(JobBrowserTest)
#include "JobBrowserTest.moc"
