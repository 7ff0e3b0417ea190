// The Problems tab over real job files in a sandbox, with the stand-in launchd and the real router:
// repairs that really happen, the jobs that offer none, and what a failed or dismissed repair leaves.
#include <QLabel>
#include <QMessageBox>
#include <QPromise>
#include <QPushButton>
#include <QTest>

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "Quillwick/detail/IssueCard.h"
#include "Quillwick/detail/JobProblemsView.h"
#include "Quillwick/store/JobStore.h"
#include "Quillwick/store/OperationRouter.h"
#include "Quillwick/store/PrivilegedError.h"
#include "Quillwick/ui/EmptyStateView.h"
#include "support/SandboxRoot.h"

using namespace qw;
namespace fs = std::filesystem;

namespace {

std::string plist(const std::string& label, const std::string& extra) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>Label</key><string>" + label + "</string>"
           "<key>ProgramArguments</key><array><string>/bin/sleep</string><string>30</string></array>"
           "<key>RunAtLoad</key><true/>" + extra + "</dict></plist>\n";
}

// A sandbox machine, its store and a router whose helper road answers as told; the tab's reload is
// the host's: rescan, then hand the tab the job as the store now has it.
struct Machine {
    test::SandboxRoot root;
    JobStore store;
    std::function<QFuture<HelperResponse>(const HelperRequest&)> helper = [](const HelperRequest&) {
        return QtFuture::makeExceptionalFuture<HelperResponse>(
            std::make_exception_ptr(PrivilegedError::helperUnreachable("no helper in this test")));
    };
    OperationRouter router{[this](const HelperRequest& r) { return helper(r); }};
    std::unique_ptr<JobProblemsView> view;
    int reloads = 0;
    // The host's reload, when a test holds it back.
    std::function<QFuture<void>()> onFixed;

    // Writes the job file ("~" is the user's home), scans, and shows the tab once its first check is in.
    void open(std::string macPath, const std::string& label, const std::string& extra = {}) {
        if (macPath.starts_with('~')) macPath.replace(0, 1, "/Users/" + root.paths().home().filename().string());
        root.writeFile(macPath, plist(label, extra));
        // The store applies its scan on this thread, so wait by turning the event loop.
        const QFuture<void> scanned = store.reload();
        QTRY_VERIFY(scanned.isFinished());
        view = std::make_unique<JobProblemsView>(job(label), store, router, [this, label] {
            ++reloads;
            if (onFixed) return onFixed();
            return store.reload().then(view.get(), [this, label] { view->setJob(job(label)); });
        });
        QCOMPARE(view->findChild<EmptyStateView*>()->title(), QString("Nothing Wrong"));
        view->show();
        QTRY_VERIFY(!view->cards().empty());
    }
    Job job(const std::string& label) const {
        for (const Job& j : store.jobs())
            if (j.label == label) return j;
        return {};
    }
    IssueCard* card(const QString& title, int nth = 0) const {
        for (IssueCard* c : view->cards())
            if (QString::fromStdString(c->issue().title) == title && nth-- == 0) return c;
        return nullptr;
    }
};

const QString logFolder = QStringLiteral("The log folder does not exist");
const QString notLoaded = QStringLiteral("This job is not loaded");

}  // namespace

class JobProblemsViewTest : public QObject {
    Q_OBJECT
private slots:
    void aFixRunsOnItsOwnCardAndItsProblemIsGoneAfterTheRecheck() {
        Machine m;
        const fs::path out = m.root.paths().home() / "Logs/out", err = m.root.paths().home() / "Logs/err";
        m.open("~/Library/LaunchAgents/com.example.logs.plist", "com.example.logs",
               "<key>StandardOutPath</key><string>" + (out / "o.log").string() + "</string>"
               "<key>StandardErrorPath</key><string>" + (err / "e.log").string() + "</string>");
        IssueCard* first = m.card(logFolder, 0);
        IssueCard* second = m.card(logFolder, 1);
        QVERIFY(first && second && m.card(notLoaded));
        QCOMPARE(first->issue().id(), second->issue().id());
        QCOMPARE(first->findChild<QLabel*>("severitySymbol")->accessibleName(), QString("Warning"));

        second->fixButton()->click();
        QVERIFY(second->isBusy() && !second->fixButton()->isEnabled());
        QVERIFY(!first->isBusy() && first->fixButton()->isEnabled());
        QTRY_VERIFY(!m.view->isBusy());
        QCOMPARE(m.reloads, 1);
        QVERIFY(fs::is_directory(err) && !fs::exists(out));
        QVERIFY(m.card(logFolder, 0) && !m.card(logFolder, 1));
        QVERIFY(QString::fromStdString(m.card(logFolder)->issue().explanation).contains(QString::fromStdString(out.string())));

        m.card(notLoaded)->fixButton()->click();
        QTRY_VERIFY(!m.view->isBusy());
        QVERIFY(!m.card(notLoaded));
        QVERIFY(!m.view->failure());
        QCOMPARE(m.root.launchctl({"print", "gui/" + std::to_string(getuid()) + "/com.example.logs"}).exitStatus, 0);
    }

    // The list's marks follow every rescan; so does the open tab, though no job value changed.
    void theOpenTabFollowsTheStore() {
        Machine m;
        m.open("~/Library/LaunchAgents/com.example.open.plist", "com.example.open");
        const QString loose = QStringLiteral("Anyone can edit this job's file");
        QVERIFY(!m.card(loose));
        ::chmod(m.job("com.example.open").definition->location->url.c_str(), 0666);
        m.store.refresh();
        QTRY_VERIFY(m.card(loose));
    }

    // A label fix made on the file as the store last read it, changed on disk since: nothing is
    // written until Reload has taken the file as it now is.
    void aFixOverAnOutsideChangeWritesNothingAndOffersReload() {
        Machine m;
        m.open("~/Library/LaunchAgents/com.example.right.plist", "com.example.wrong");
        const fs::path file = m.job("com.example.wrong").definition->location->url;
        const std::string outside = plist("com.example.wrong", "<key>ExternalNote</key><string>kept</string>");
        std::ofstream(file) << outside;
        const QString mismatch = QStringLiteral("The label does not match the filename");
        m.card(mismatch)->fixButton()->click();
        QTRY_VERIFY(m.view->findChild<QMessageBox*>("changedOnDiskAlert"));
        QCOMPARE(test::readFile(file), outside);
        auto* alert = m.view->findChild<QMessageBox*>("changedOnDiskAlert");
        QCOMPARE(alert->escapeButton()->text(), QString("Cancel"));
        alert->findChild<QPushButton*>("reloadButton")->click();
        QCOMPARE(m.reloads, 1);
        QTRY_VERIFY(m.view->job().definition->find("ExternalNote"));
        QVERIFY(!m.view->failure() && m.card(mismatch));

        m.card(mismatch)->fixButton()->click();
        QTRY_VERIFY(!m.view->isBusy());
        const PlistFile fixed = PlistFile::read(file);
        QCOMPARE(*fixed.find("Label"), PlistValue("com.example.right"));
        QCOMPARE(*fixed.find("ExternalNote"), PlistValue("kept"));
    }

    // A reload answered from another thread queues the recheck on the tab; the tab then goes (its
    // job was deleted, another was selected). Nothing of the recheck may run on the remains: freed
    // memory is made to read as garbage, so a use after free crashes (at least once in ten rounds).
    void aTabDestroyedWithItsRecheckQueuedRunsNothingOfIt() {
        mallopt(M_PERTURB, 0x5a);
        Machine m;
        for (int round = 0; round < 10; ++round) {
            QPromise<void> reloaded;
            reloaded.start();
            m.onFixed = [&reloaded] { return reloaded.future(); };
            const fs::path log = m.root.paths().home() / ("Logs/" + std::to_string(round) + "/o.log");
            m.open("~/Library/LaunchAgents/com.example.gone.plist", "com.example.gone",
                   "<key>StandardOutPath</key><string>" + log.string() + "</string>");
            m.card(logFolder)->fixButton()->click();
            QVERIFY(fs::is_directory(log.parent_path()));
            std::thread([&reloaded] { reloaded.finish(); }).join();
            m.view.reset();
            QCoreApplication::sendPostedEvents();
        }
        mallopt(M_PERTURB, 0);
    }

    // launchd loaded the user's copy of a label that /Library declares too: the other row is not
    // loaded, and its card says where the copy launchd runs is.
    void theCopyOfALabelThatLaunchdDidNotLoadNamesTheOther() {
        Machine m;
        const std::string home = "/Users/" + m.root.paths().home().filename().string();
        const fs::path mine = m.root.writeFile(home + "/Library/LaunchAgents/com.example.twice.plist", plist("com.example.twice", ""));
        m.root.writeFile("/Library/LaunchAgents/com.example.twice.plist", plist("com.example.twice", ""));
        QCOMPARE(m.root.launchctl({"bootstrap", "gui/" + std::to_string(getuid()), mine.string()}).exitStatus, 0);
        const QFuture<void> scanned = m.store.reload();
        QTRY_VERIFY(scanned.isFinished());
        Job global;
        for (const Job& j : m.store.jobs())
            if (j.id() == "globalAgents:com.example.twice") global = j;
        QVERIFY(global.definition && !global.isLoaded());
        m.view = std::make_unique<JobProblemsView>(global, m.store, m.router, JobProblemsView::OnFixed{});
        m.view->show();
        QTRY_VERIFY(m.card("Another job has the same label"));
        QVERIFY(QString::fromStdString(m.card("Another job has the same label")->issue().explanation)
                    .endsWith(QString::fromStdString(" The other copy is " + mine.string() + ".")));
        QVERIFY(m.card(notLoaded));
        m.root.haltLaunchd();
    }

    void aSystemJobShowsItsProblemsWithoutRepairs() {
        Machine m;
        m.open("/System/Library/LaunchDaemons/com.apple.x.plist", "com.apple.x",
               "<key>StandardOutPath</key><string>" + (m.root.paths().home() / "none/o.log").string() + "</string>");
        QVERIFY(m.card(logFolder));
        QVERIFY(m.view->findChildren<QPushButton*>().isEmpty());
    }

    void aFailedRepairAlertsAndLeavesTheCards() {
        Machine m;
        m.open("~/Library/LaunchAgents/com.example.var.plist", "com.example.var",
               "<key>StandardOutPath</key><string>/nowhere/at/all/o.log</string>");
        const std::vector<Issue> before = m.view->issues();
        m.card(logFolder)->fixButton()->click();
        QTRY_VERIFY(m.view->findChild<QMessageBox*>());
        auto* alert = m.view->findChild<QMessageBox*>();
        QCOMPARE(alert->text(), QString("That didn’t work"));
        QVERIFY(m.view->failure()->contains("outside the folders"));
        QVERIFY(!m.view->isBusy());
        QCOMPARE(m.reloads, 0);
        QCOMPARE(m.view->issues(), before);
        QVERIFY(m.card(logFolder)->fixButton()->isEnabled());
        alert->reject();
        QTRY_VERIFY(!m.view->failure());
    }

    void aDismissedPasswordPromptIsSilent() {
        Machine m;
        int asked = 0;
        m.helper = [&asked](const HelperRequest&) {
            ++asked;
            return QtFuture::makeExceptionalFuture<HelperResponse>(std::make_exception_ptr(PrivilegedError::cancelled()));
        };
        m.open("/Library/LaunchDaemons/com.example.daemon.plist", "com.example.daemon");
        m.card(notLoaded)->fixButton()->click();
        QTRY_COMPARE(asked, 1);
        QTRY_VERIFY(!m.view->isBusy());
        QVERIFY(!m.view->findChild<QMessageBox*>());
        QVERIFY(!m.view->failure());
        QCOMPARE(m.reloads, 0);
        QVERIFY(m.card(notLoaded));
    }
};

QTEST_MAIN(JobProblemsViewTest)
#include "JobProblemsViewTest.moc"
