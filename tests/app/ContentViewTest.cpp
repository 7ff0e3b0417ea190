// The main window over the demo machine: start-up, filters and their counts, search, the cron switch
// and the problem scan's stamps.
#include <QLineEdit>
#include <QListView>
#include <QSignalSpy>
#include <QTest>

#include "Quillwick/app/AppServices.h"
#include "Quillwick/app/ContentView.h"
#include "Quillwick/app/JobListModel.h"
#include "Quillwick/app/SidebarView.h"
#include "Quillwick/ui/EmptyStateView.h"
#include "support/SandboxRoot.h"

using namespace qw;

class ContentViewTest : public QObject {
    Q_OBJECT
private slots:
    void theDemoMachineIsListedFilteredSearchedAndCounted() {
        test::SandboxRoot root({.demo = true});
        AppServices services;
        ContentView window(services);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        QSignalSpy started(&window, &ContentView::startedUp);
        window.show();
        QVERIFY(started.wait(20000));

        auto* sidebar = window.findChild<SidebarView*>("sidebar");
        auto* list = window.findChild<QListView*>("jobListView");
        QCOMPARE(sidebar->currentItem()->text(0), QString("Installed"));
        QCOMPARE(window.findChild<EmptyStateView*>("noSelection")->title(), QString("No Job Selected"));
        const int all = int(services.store().jobs().size());
        QVERIFY(all > 10);
        QCOMPARE(sidebar->itemFor(JobFilter::Kind::all)->data(0, SidebarView::CountRole).toInt(), all);
        const int installed = sidebar->itemFor(JobFilter::Kind::installed)->data(0, SidebarView::CountRole).toInt();
        QCOMPARE(list->model()->rowCount(), installed);

        auto* search = window.findChild<QLineEdit*>("searchField");
        QCOMPARE(search->placeholderText(), QString("Label, program or path"));
        search->setText("   ");
        QCOMPARE(list->model()->rowCount(), installed);
        search->setText("  heartbeat ");
        QCOMPARE(list->model()->rowCount(), 1);
        list->setCurrentIndex(list->model()->index(0, 0));
        const auto chosen = window.selection();
        QVERIFY(chosen && chosen->find("heartbeat") != std::string::npos);

        // A selection stays when the filter no longer lists it.
        sidebar->setCurrentItem(sidebar->itemFor(JobFilter::Kind::disabled));
        QCOMPARE(window.filter(), JobFilter(JobFilter::Kind::disabled));
        QCOMPARE(window.selection(), chosen);

        sidebar->setCurrentItem(sidebar->itemFor(JobFilter::Kind::cron));
        QVERIFY(!search->isVisibleTo(&window));
        QCOMPARE(window.newAction()->text(), QString("New Cron Job"));
        QCOMPARE(window.newAction()->toolTip(), QString("Add an entry to your crontab"));
        QCOMPARE(window.findChild<EmptyStateView*>("noSelection")->title(), QString("No Cron Job Selected"));
        root.haltLaunchd();
    }

    void anOlderProblemScanNeverReplacesANewerOne() {
        test::SandboxRoot root;
        AppServices services;
        ContentView window(services);
        window.applyProblemScan(2, {"a"});
        window.applyProblemScan(1, {"b", "c"});
        QCOMPARE(window.problemLabels(), (std::set<std::string>{"a"}));
        auto* sidebar = window.findChild<SidebarView*>("sidebar");
        QCOMPARE(sidebar->itemFor(JobFilter::Kind::problems)->data(0, SidebarView::CountRole).toInt(), 1);
    }
};

QTEST_MAIN(ContentViewTest)
#include "ContentViewTest.moc"
