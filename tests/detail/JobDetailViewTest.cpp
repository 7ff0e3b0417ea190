// The detail pane in the main window: the header's status from launchctl and from the list entry, kept
// current whatever changed the job; the busy caption of an action; a pane that keeps its tab across
// rescans but starts afresh for another job; and fixes and saves that keep the job's file selected, the
// focus in their tab and the problem markers current.
#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include "Quillwick/app/AppServices.h"
#include "Quillwick/app/ContentView.h"
#include "Quillwick/actions/JobActionBar.h"
#include "Quillwick/detail/IssueCard.h"
#include "Quillwick/detail/JobDetailView.h"
#include "Quillwick/detail/JobProblemsView.h"
#include "Quillwick/detail/JobSourceView.h"
#include "Quillwick/app/SidebarView.h"
#include "Quillwick/ui/Style.h"
#include "support/SandboxRoot.h"

using namespace qw;
namespace fs = std::filesystem;

namespace {

const Job* findJob(const JobStore& store, const std::string& label) {
    for (const auto& job : store.jobs())
        if (job.label == label) return &job;
    return nullptr;
}

Job listed(std::optional<std::int32_t> pid, std::optional<RuntimeState::ExitStatus> exit, bool disabled = false) {
    Job job;
    job.label = "com.example.listed";
    job.status = LaunchctlListEntry{};
    job.status->label = job.label;
    job.status->pid = pid;
    job.status->lastExit = exit;
    job.isDisabled = disabled;
    return job;
}

// The store's futures finish on the main thread, so they are waited for with its events running.
void settle(QFuture<void> future) { QTRY_VERIFY_WITH_TIMEOUT(future.isFinished(), 20000); }

// Shows the window and waits for its first scan.
bool startUp(ContentView& window) {
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    QSignalSpy started(&window, &ContentView::startedUp);
    window.show();
    return started.wait(20000);
}

// A job file in the user's agents folder; loaded into launchd when `load` is set.
std::filesystem::path agent(const test::SandboxRoot& root, const std::string& file, const std::string& label,
                            const std::string& keys, bool load = false) {
    const auto path = root.writeFile("/Users/" + root.paths().home().filename().string() + "/Library/LaunchAgents/" + file,
                                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Label</key>"
                                     "<string>" + label + "</string>" + keys + "</dict></plist>\n");
    if (load) root.launchctl({"bootstrap", "gui/" + std::to_string(getuid()), path.string()});
    return path;
}

// Lets the layouts of widgets just shown take their sizes, as the next pass of the event loop would.
void laidOut() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
    }
}

// Whether every shown child of `parent` lies inside it, with at least the room it needs.
bool showsWhole(QWidget* parent) {
    for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isVisible()) continue;
        if (!parent->rect().contains(child->geometry()) || child->width() < child->minimumSizeHint().width() ||
            (child->hasHeightForWidth() && child->height() < child->heightForWidth(child->width()))) {
            qWarning() << child << child->geometry() << "needs" << child->minimumSizeHint() << "in" << parent->rect();
            return false;
        }
    }
    return true;
}

QString statusOf(const JobDetailView& pane) { return pane.findChild<QLabel*>("detailStatus")->text(); }

bool isRed(const JobDetailView& pane) {
    return pane.findChild<QLabel*>("detailStatus")->palette().color(QPalette::WindowText) == redColor();
}

}  // namespace

class JobDetailViewTest : public QObject {
    Q_OBJECT
    // One demo machine for the tests that only look at it or change jobs of their own: laying it takes
    // a minute on a busy machine.
    std::unique_ptr<test::SandboxRoot> demo_;

private slots:
    void initTestCase() { demo_ = std::make_unique<test::SandboxRoot>(test::SandboxRoot::Options{.demo = true}); }
    void cleanupTestCase() { demo_.reset(); }

    void theStatusFallsBackToTheListEntry() {
        using Exit = RuntimeState::ExitStatus;
        QCOMPARE(JobDetailView::statusText(listed(4321, Exit::code(1)), std::nullopt), QString("Running (pid 4321)"));
        QCOMPARE(JobDetailView::statusText(listed(std::nullopt, Exit::code(0)), std::nullopt), QString("Loaded, waiting"));
        QCOMPARE(JobDetailView::statusText(listed(std::nullopt, Exit::signal(15)), std::nullopt), QString("Loaded, waiting"));
        QCOMPARE(JobDetailView::statusText(listed(std::nullopt, Exit::code(78)), std::nullopt),
                 QString("Not running — last exit code 78"));
        QCOMPARE(JobDetailView::statusText(listed(std::nullopt, std::nullopt, true), std::nullopt), QString("Disabled"));
        Job unloaded;
        unloaded.label = "com.example.gone";
        QCOMPARE(JobDetailView::statusText(unloaded, std::nullopt), QString("Not loaded"));
        // A loaded job's run-time state wins over its disabled mark.
        RuntimeState state;
        state.pid = 7;
        QCOMPARE(JobDetailView::statusText(listed(std::nullopt, std::nullopt, true), state), QString("Running (pid 7)"));
        QCOMPARE(JobDetailView::tabNamed("Problems"), JobDetailView::Tab::problems);
        QVERIFY(!JobDetailView::tabNamed("problems"));
    }

    void aCrashedJobShowsLaunchctlsAccountInRed() {
        AppServices services;
        settle(services.store().refresh());
        QTRY_VERIFY_WITH_TIMEOUT(findJob(services.store(), "com.example.renderd") &&
                                     findJob(services.store(), "com.example.renderd")->health() == Job::Health::failed,
                                 10000);
        JobDetailView pane(*findJob(services.store(), "com.example.renderd"), services.store(), *services.router(),
                           services.actions());
        pane.show();
        QTRY_VERIFY_WITH_TIMEOUT(pane.runtime().has_value(), 10000);
        QCOMPARE(statusOf(pane), QString("Not running — last exit killed by SIGSEGV"));
        QVERIFY(isRed(pane));
        QCOMPARE(pane.findChild<QLabel*>("detailLabel")->toolTip(), QString("com.example.renderd"));
        auto* tabs = pane.findChild<QTabWidget*>("detailTabs");
        QStringList titles;
        for (int i = 0; i < tabs->count(); ++i) titles << tabs->tabText(i);
        QCOMPARE(titles, QStringList({"Overview", "Configure", "Log", "Problems", "Source"}));
        QCOMPARE(tabs->tabToolTip(4), QString("The plist itself, as text."));
    }

    void anActionShowsItsCaptionAndOnlyASuccessReloadsTheState() {
        test::SandboxRoot& root = *demo_;
        AppServices services;
        settle(services.store().refresh());
        const Job* heartbeat = findJob(services.store(), "com.example.heartbeat");
        QVERIFY(heartbeat && heartbeat->isLoaded());
        JobActionRunner::Done pending;
        JobActionRunner runner([&](JobAction, const Job&, JobActionRunner::Done done) { pending = std::move(done); },
                               [](std::function<void()> then) { then(); });
        JobDetailView pane(*heartbeat, services.store(), *services.router(), runner);
        pane.show();
        QTRY_VERIFY_WITH_TIMEOUT(pane.runtime().has_value(), 10000);

        // launchd forgets the job behind the pane's back: only a reload would show it.
        root.launchctl({"bootout", "gui/" + std::to_string(getuid()) + "/com.example.heartbeat"});
        auto* bar = pane.findChild<JobActionBar*>("detailActionBar");
        auto* stop = bar->findChild<QPushButton*>("stopButton");
        QVERIFY(stop && stop->isEnabled());
        stop->click();
        QVERIFY(pane.findChild<QWidget*>("busyIndicator")->isVisibleTo(&pane));
        QCOMPARE(pane.findChild<QLabel*>("busyCaption")->text(), QString("Stop…"));
        QVERIFY(!stop->isEnabled());
        pending({JobActionRunner::Outcome::Kind::failed, "no"});
        QVERIFY(!pane.findChild<QWidget*>("busyIndicator")->isVisibleTo(&pane));
        QTest::qWait(300);
        QVERIFY(pane.runtime().has_value());

        bar->findChild<QPushButton*>("stopButton")->click();
        pending({JobActionRunner::Outcome::Kind::succeeded, {}});
        QTRY_VERIFY_WITH_TIMEOUT(!pane.runtime().has_value(), 10000);
    }

    // At the smallest window the header takes more lines rather than cut a control, every tab is
    // whole, and choosing jobs never moves the split.
    void theSmallestWindowCutsNothingAndKeepsTheSplit() {
        AppServices services;
        ContentView window(services);
        QVERIFY(startUp(window));
        window.resize(window.minimumSize());
        QCOMPARE(window.size(), QSize(980, 600));
        laidOut();
        auto* splitter = window.findChild<QSplitter*>("splitter");
        const QList<int> split = splitter->sizes();
        // An agent, a daemon that is not loaded, a running daemon ("Needs your password" beside the switches).
        for (const char* label : {"com.example.heartbeat", "com.example.status-server", "com.lumenfold.updater"}) {
            window.setSelection(findJob(services.store(), label)->id());
            laidOut();
            QCOMPARE(splitter->sizes(), split);
            auto* pane = window.findChild<JobDetailView*>("jobDetail");
            QVERIFY2(showsWhole(pane->findChild<QWidget*>("detailHeader")), label);
            QVERIFY2(showsWhole(pane->findChild<JobActionBar*>("detailActionBar")), label);
            QTabBar* tabs = pane->findChild<QTabWidget*>("detailTabs")->tabBar();
            for (int i = 0; i < tabs->count(); ++i)
                QVERIFY2(tabs->rect().contains(tabs->tabRect(i)), qPrintable(tabs->tabText(i)));
        }
    }

    void aRescanKeepsTheTabAndAnotherJobStartsOnOverview() {
        AppServices services;
        ContentView window(services);
        QVERIFY(startUp(window));
        const std::string heartbeat = findJob(services.store(), "com.example.heartbeat")->id();
        const std::string ticker = findJob(services.store(), "com.example.ticker")->id();

        window.setSelection(heartbeat);
        auto* pane = window.findChild<JobDetailView*>("jobDetail");
        QVERIFY(pane && pane->isVisible());
        pane->setTab(JobDetailView::Tab::source);
        settle(services.store().reload());
        QTest::qWait(50);
        QCOMPARE(window.findChild<JobDetailView*>("jobDetail"), pane);
        QCOMPARE(pane->tab(), JobDetailView::Tab::source);

        window.setSelection(ticker);
        window.setSelection(heartbeat);
        pane = window.findChild<JobDetailView*>("jobDetail");
        QCOMPARE(pane->job().id(), heartbeat);
        QCOMPARE(pane->tab(), JobDetailView::Tab::overview);
    }

    void aFixFromThePaneReloadsTheJobAndKeepsItSelected() {
        AppServices services;
        ContentView window(services);
        QVERIFY(startUp(window));
        const Job* greeter = findJob(services.store(), "com.example.greeter");
        QVERIFY(greeter && !greeter->isLoaded());
        const std::string id = greeter->id();
        window.setSelection(id);
        auto* pane = window.findChild<JobDetailView*>("jobDetail");
        pane->setTab(JobDetailView::Tab::problems);
        auto* problems = pane->findChild<JobProblemsView*>("problemsTab");
        QPushButton* load = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                     for (auto* b : problems->findChildren<QPushButton*>("fixButton"))
                                         if (b->text() == "Load") load = b;
                                     return load != nullptr;
                                 }()),
                                 10000);
        load->click();
        QTRY_VERIFY_WITH_TIMEOUT(!problems->isBusy(), 20000);
        QVERIFY(!problems->failure());
        QCOMPARE(window.selection(), std::optional<std::string>(id));
        QCOMPARE(window.findChild<JobDetailView*>("jobDetail"), pane);
        QVERIFY(pane->job().isLoaded());
        QVERIFY(statusOf(*pane) != QString("Not loaded"));
        for (const Issue& issue : problems->issues()) QVERIFY(!issue.fix || issue.fix->title() != "Load");
    }

    // The header says what launchd says: after the job changed behind the pane's back (seen by a
    // rescan), and after an action on it started elsewhere that leaves launchd's list as it was.
    void theHeaderFollowsLaunchdWhereverTheJobChanged() {
        test::SandboxRoot root;
        const std::string runAtLoad = "<key>RunAtLoad</key><true/>";
        agent(root, "com.example.heartbeat.plist", "com.example.heartbeat",
              "<key>ProgramArguments</key><array><string>/bin/sleep</string><string>600</string></array>" + runAtLoad, true);
        agent(root, "com.example.config-check.plist", "com.example.config-check",
              "<key>ProgramArguments</key><array><string>/bin/sh</string><string>-c</string><string>exit 78</string></array>" +
                  runAtLoad, true);
        AppServices services;
        ContentView window(services);
        QVERIFY(startUp(window));
        window.setSelection(findJob(services.store(), "com.example.heartbeat")->id());
        auto* pane = window.findChild<JobDetailView*>("jobDetail");
        QTRY_VERIFY_WITH_TIMEOUT(statusOf(*pane).startsWith("Running (pid"), 10000);
        root.launchctl({"bootout", "gui/" + std::to_string(getuid()) + "/com.example.heartbeat"});
        settle(services.store().reload());  // what the next poll does
        QTRY_COMPARE_WITH_TIMEOUT(statusOf(*pane), QString("Not loaded"), 10000);

        const Job configCheck = *findJob(services.store(), "com.example.config-check");  // fails at once
        window.setSelection(configCheck.id());
        pane = window.findChild<JobDetailView*>("jobDetail");
        QTRY_VERIFY_WITH_TIMEOUT(pane->runtime() && pane->runtime()->runs, 10000);
        const auto runs = *pane->runtime()->runs;
        services.actions().run(JobAction::start, configCheck);  // as another window would
        QTRY_VERIFY_WITH_TIMEOUT(!services.actions().busy(), 20000);
        QVERIFY(findJob(services.store(), "com.example.config-check")->status == configCheck.status);
        QTRY_VERIFY_WITH_TIMEOUT(pane->runtime() && pane->runtime()->runs > runs, 10000);
        root.haltLaunchd();
    }

    // A fix or a Source save keeps the job's file selected, even under a new label, and the focus in
    // the tab that did it; the problem markers follow every fix and Refresh, also when only the disk
    // changed.
    void fixesAndSavesKeepTheFileSelectedTheFocusInTheirTabAndTheMarkersCurrent() {
        test::SandboxRoot root;
        const std::string program = "<key>Program</key><string>/bin/true</string><key>RunAtLoad</key><true/>";
        agent(root, "com.example.exporter.plist", "com.example.exporter",
              program + "<key>StandardOutPath</key><string>" + (root.paths().home() / "Library/Logs/Exporter/out.log").string() +
                  "</string>");
        agent(root, "com.example.notes-sync.plist", "com.example.notesync", program);
        agent(root, "com.example.renamed.plist", "com.example.oldname", program);
        AppServices services;
        ContentView window(services);
        QVERIFY(startUp(window));
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QSignalSpy scans(&window, &ContentView::problemScanApplied);
        QTRY_VERIFY_WITH_TIMEOUT(scans.count() > 0, 20000);
        const auto problemCount = [&] {
            return window.findChild<SidebarView*>("sidebar")->itemFor(JobFilter::Kind::problems)->data(0, SidebarView::CountRole).toInt();
        };
        const auto inside = [](QWidget* tab) { return tab->isAncestorOf(QApplication::focusWidget()); };
        const auto fix = [&](JobProblemsView* problems, const QString& title) {
            QPushButton* button = nullptr;
            QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                         for (auto* b : problems->findChildren<QPushButton*>("fixButton"))
                                             if (b->text() == title && b->isVisible()) button = b;
                                         return button != nullptr;
                                     }()),
                                     10000);
            button->setFocus();
            QTest::keyClick(button, Qt::Key_Space);
            QTRY_VERIFY_WITH_TIMEOUT(!problems->isBusy(), 20000);
            QVERIFY(!problems->failure());
        };

        // Create Folder changes only the disk.
        const std::string exporter = findJob(services.store(), "com.example.exporter")->id();
        QVERIFY(window.problemLabels().count(exporter));
        const int before = problemCount();
        window.setSelection(exporter);
        auto* pane = window.findChild<JobDetailView*>("jobDetail");
        pane->setTab(JobDetailView::Tab::problems);
        auto* problems = pane->findChild<JobProblemsView*>("problemsTab");
        fix(problems, "Create Folder");
        QTRY_VERIFY_WITH_TIMEOUT(!window.problemLabels().count(exporter), 10000);
        QCOMPARE(problemCount(), before - 1);
        QVERIFY(inside(problems));

        // So does a file made world-writable behind the window's back; Refresh finds it.
        const std::string exporterFile = findJob(services.store(), "com.example.exporter")->definition->location->url;
        fs::permissions(exporterFile, fs::perms(0666));
        window.refreshAction()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(window.problemLabels().count(exporter), 10000);

        // The label fix renames the job: the selection follows its file, the pane stays.
        window.setSelection(findJob(services.store(), "com.example.notesync")->id());
        pane = window.findChild<JobDetailView*>("jobDetail");
        pane->setTab(JobDetailView::Tab::problems);
        problems = pane->findChild<JobProblemsView*>("problemsTab");
        fix(problems, "Set Label to “com.example.notes-sync”");
        QTRY_COMPARE_WITH_TIMEOUT(window.selection(), std::optional<std::string>("userAgents:com.example.notes-sync"), 10000);
        QCOMPARE(window.findChild<JobDetailView*>("jobDetail"), pane);
        QCOMPARE(pane->job().label, std::string("com.example.notes-sync"));
        QCOMPARE(pane->tab(), JobDetailView::Tab::problems);
        QVERIFY(inside(problems));

        // So does a Source save that gives the job the label of its file.
        window.setSelection(findJob(services.store(), "com.example.oldname")->id());
        pane = window.findChild<JobDetailView*>("jobDetail");
        pane->setTab(JobDetailView::Tab::source);
        auto* source = pane->findChild<JobSourceView*>("sourceTab");
        source->editor()->setPlainText(source->text().replace("com.example.oldname", "com.example.renamed"));
        source->saveButton()->setFocus();
        source->saveButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!source->isBusy(), 20000);
        QVERIFY(!source->failure());
        QTRY_COMPARE_WITH_TIMEOUT(window.selection(), std::optional<std::string>("userAgents:com.example.renamed"), 10000);
        QCOMPARE(window.findChild<JobDetailView*>("jobDetail"), pane);
        QCOMPARE(pane->tab(), JobDetailView::Tab::source);
        QVERIFY(inside(source));
        root.haltLaunchd();
    }
};

QTEST_MAIN(JobDetailViewTest)
#include "JobDetailViewTest.moc"
