// The main window over the demo machine: start-up, filters and their counts, search, the cron switch
// and the problem scan's stamps, the crontab columns and the feedback window.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFutureWatcher>
#include <QLineEdit>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include "Quillwick/app/AppServices.h"
#include "Quillwick/app/ContentView.h"
#include "Quillwick/app/JobListModel.h"
#include "Quillwick/app/QuillwickApp.h"
#include "Quillwick/app/SidebarView.h"
#include "Quillwick/cron/CronDetailView.h"
#include "Quillwick/cron/CrontabStore.h"
#include "Quillwick/detail/JobDetailView.h"
#include "Quillwick/detail/JobSourceView.h"
#include "Quillwick/editing/JobConfigureView.h"
#include "Quillwick/launchd/LaunchdSchema.h"
#include "Quillwick/editing/NewJobView.h"
#include "Quillwick/feedback/FeedbackView.h"
#include "Quillwick/ui/EmptyStateView.h"
#include "helperkit/LaunchdDomain.h"
#include "cron/CronTestSupport.h"
#include "feedback/FeedbackTestSupport.h"
#include "support/SandboxRoot.h"

using namespace qw;

namespace {

// Counts paint events of every widget inside one window.
struct PaintCounter : QObject {
    QWidget* window;
    int count = 0;
    explicit PaintCounter(QWidget* w) : window(w) { qApp->installEventFilter(this); }
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Paint && object->isWidgetType() &&
            static_cast<QWidget*>(object)->window() == window)
            ++count;
        return false;
    }
};

// Shows a main window and waits for its first scan.
bool showStarted(ContentView& window) {
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    QSignalSpy started(&window, &ContentView::startedUp);
    window.show();
    return started.wait(20000);
}

}  // namespace

class ContentViewTest : public QObject {
    Q_OBJECT
private slots:
    void theDemoMachineIsListedFilteredSearchedAndCounted() {
        test::SandboxRoot root({.demo = true});
        AppServices services;
        ContentView window(services);
        QVERIFY(showStarted(window));

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

    void theCronFilterListsTheCrontabAndShowsTheChosenEntry() {
        test::SandboxRoot root({.demo = true});
        AppServices services;
        ContentView window(services);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        QSignalSpy read(services.crontab(), &CrontabStore::crontabChanged);
        QSignalSpy started(&window, &ContentView::startedUp);
        window.setFilter(JobFilter::Kind::cron);
        window.show();
        QVERIFY(read.count() > 0 || read.wait(20000));
        QVERIFY(started.count() > 0 || started.wait(20000));

        auto* rows = window.findChild<QListView*>("cronRows");
        QVERIFY(rows && rows->isVisibleTo(&window));
        const std::vector<CronJob> jobs = services.crontab()->crontab().jobs();
        QCOMPARE(jobs.size(), std::size_t(5));  // the commented-out entry is listed too
        QCOMPARE(rows->model()->rowCount(), 5);
        QCOMPARE(window.findChild<EmptyStateView*>("noSelection")->title(), QString("No Cron Job Selected"));

        rows->setCurrentIndex(rows->model()->index(1, 0));
        QCOMPARE(window.cronSelection(), std::optional<qint64>(jobs[1].line));
        auto* detail = window.findChild<CronDetailView*>("cronDetail");
        QVERIFY(detail && detail->isVisibleTo(&window));
        QCOMPARE(detail->job().command, jobs[1].command);

        // Leaving the filter and coming back keeps the entry shown.
        window.setFilter(JobFilter::Kind::all);
        window.setFilter(JobFilter::Kind::cron);
        QVERIFY(window.findChild<CronDetailView*>("cronDetail")->isVisibleTo(&window));
        window.setCronSelection(std::nullopt);
        QVERIFY(!rows->currentIndex().isValid());
        QVERIFY(window.findChild<EmptyStateView*>("noSelection")->isVisibleTo(&window));

        // A line added from outside shows on Refresh, without leaving the view.
        QVERIFY(test::installCrontab(root, test::installedCrontab(root) + "0 4 * * * /usr/bin/true\n"));
        window.refreshAction()->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(rows->model()->rowCount(), 6, 60000);
        root.haltLaunchd();
    }

    // The keys typed after a create go to the new job, not into the search field, also when the pane of
    // the job shown before held the focus.
    void afterCreateTheFocusIsOnTheNewJob() {
        test::SandboxRoot root;
        root.writeFile("/Users/" + SystemPaths::loginName() + "/Library/LaunchAgents/com.example.first.plist",
                       "<plist version=\"1.0\"><dict><key>Label</key><string>com.example.first</string>"
                       "<key>Program</key><string>/bin/true</string></dict></plist>\n");
        AppServices services;
        ContentView window(services);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        QSignalSpy started(&window, &ContentView::startedUp);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(started.count() > 0 || started.wait(20000));
        window.setSelection(services.store().jobs().front().id());
        window.findChild<QWidget*>("jobDetail")->findChild<QTabBar*>()->setFocus();
        const auto create = [&](const QString& label) {
            window.newAction()->trigger();
            QPointer<NewJobView> sheet = window.findChild<NewJobView*>();
            QTest::keyClicks(sheet->labelField(), label);
            QTest::keyClicks(sheet->findChild<QWidget*>("parameter:program")->findChild<QLineEdit*>(), "/bin/true");
            sheet->loadToggle()->click();
            sheet->createButton()->click();
            return QTest::qWaitFor([&] { return !sheet; }, 20000) &&
                   window.selection().value_or("").ends_with(":" + label.toStdString());
        };

        QVERIFY(create("com.example.fresh"));
        auto* list = window.findChild<QListView*>("jobListView");
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTRY_COMPARE(QApplication::focusWidget(), list);
        QCOMPARE(list->currentIndex().data(JobListModel::IdRole).toString().toStdString(), *window.selection());

        // A job the search leaves out of the list gets its pane.
        window.findChild<QLineEdit*>("searchField")->setText("first");
        QVERIFY(create("com.example.other"));
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTRY_COMPARE(QApplication::focusWidget(), window.findChild<QWidget*>("jobDetail"));
        QCOMPARE(QApplication::focusWidget()->accessibleName(), QString("com.example.other"));
    }

    void newOpensOneJobSheetOutsideTheCronFilter() {
        test::SandboxRoot root;
        AppServices services;
        ContentView window(services);
        window.show();
        QVERIFY(window.newAction()->isEnabled());
        window.newAction()->trigger();
        window.newAction()->trigger();
        QCOMPARE(window.findChildren<NewJobView*>().size(), qsizetype(1));
        QCOMPARE(window.findChild<NewJobView*>()->windowModality(), Qt::WindowModal);
    }

    void theOneFeedbackWindowHoldsTheForm() {
        test::SandboxRoot root;
        QuillwickApp app;
        app.openWindow("feedback");
        QWidget* window = app.feedbackWindow();
        QVERIFY(window && window->isWindow());
        QVERIFY(window->findChild<FeedbackView*>());
        app.openWindow("feedback");
        QCOMPARE(app.feedbackWindow(), window);

        // Closed while its message is on the way, the window stays to bring back a failure.
        test::TestBundle bundle(test::configuredInfo());
        FeedbackService::Completion answer;
        window->findChild<FeedbackView*>()->setSender(
            [&](FeedbackService::Category, const QString&, const QString&, QObject*, FeedbackService::Completion done) {
                answer = std::move(done);
            });
        window->findChild<QPlainTextEdit*>("message")->setPlainText("Half a report");
        window->findChild<QPushButton*>("send")->click();
        QVERIFY(answer);
        const QPointer<QWidget> kept(window);
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(kept);
        answer(std::make_exception_ptr(FeedbackService::FeedbackError::server(500, "Down")));
        QVERIFY(window->isVisible());
        QCOMPARE(window->findChild<QPlainTextEdit*>("message")->toPlainText(), QString("Half a report"));
    }

    void aRescanThatFindsTheSameJobsRedrawsNothing() {
        test::SandboxRoot root;
        const auto agent = [&](const std::string& label, const std::string& program) {
            return root.writeFile("/Users/" + SystemPaths::loginName() + "/Library/LaunchAgents/" + label + ".plist",
                                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                                  "<key>Label</key><string>" + label + "</string><key>ProgramArguments</key><array>"
                                  "<string>" + program + "</string><string>600</string></array></dict></plist>\n");
        };
        agent("com.example.idle", "/bin/sleep");
        const auto running = agent("com.example.sleeper", "/bin/sleep");
        QCOMPARE(root.launchctl({"bootstrap", LaunchdDomain::currentGUI().description(), running.string()}).exitStatus, 0);
        QCOMPARE(root.launchctl({"kickstart", LaunchdDomain::currentGUI().description() + "/com.example.sleeper"}).exitStatus, 0);

        AppServices services;
        ContentView window(services);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        QSignalSpy started(&window, &ContentView::startedUp);
        QSignalSpy scanned(&window, &ContentView::problemScanApplied);
        window.show();
        QVERIFY(started.wait(20000));
        QVERIFY(scanned.count() > 0 || scanned.wait(20000));
        QCOMPARE(window.findChild<QListView*>("jobListView")->model()->rowCount(), 2);
        QTest::qWait(300);  // the first frames

        PaintCounter paints(&window);
        QSignalSpy changed(&services.store(), &JobStore::jobsChanged);
        for (int pass = 0; pass < 2; ++pass) {
            QFutureWatcher<void> rescan;
            rescan.setFuture(services.store().reload());
            QTRY_VERIFY(rescan.isFinished());
        }
        QTest::qWait(300);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(paints.count, 0);
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

    // Closing a window or quitting asks about unsaved edits: Cancel keeps everything, Don't Save lets
    // them go, Save writes them before the window goes; a quit goes on from window to window.
    void unsavedEditsAreNeverClosedAwayWithoutAsking() {
        test::SandboxRoot root;
        const std::string file = "/Users/" + SystemPaths::loginName() + "/Library/LaunchAgents/com.example.edit.plist";
        const std::filesystem::path onDisk = root.writeFile(file, "<plist version=\"1.0\"><dict><key>Label</key><string>com.example.edit</string>"
                             "<key>Program</key><string>/bin/true</string></dict></plist>\n");
        QuillwickApp app;
        const auto open = [&](JobDetailView::Tab tab) {
            QPointer<ContentView> window = app.newMainWindow();
            QSignalSpy started(window.data(), &ContentView::startedUp);
            window->activateWindow();
            [&] { QVERIFY(QTest::qWaitForWindowActive(window) && (started.count() > 0 || started.wait(20000))); }();
            window->setSelection(app.services().store().jobs().front().id());
            window->findChild<JobDetailView*>("jobDetail")->setTab(tab);
            return window;
        };
        QPointer<ContentView> first = open(JobDetailView::Tab::source);
        auto* source = first->findChild<JobSourceView*>("sourceTab");
        const QString edited = source->text().replace("/bin/true", "/bin/echo");
        source->editor()->setPlainText(edited);
        QPointer<ContentView> second = open(JobDetailView::Tab::configure);
        second->findChild<JobConfigureView*>("configureTab")->addKey(*LaunchdSchema::key("RunAtLoad"));

        const auto answer = [&](ContentView* window, const char* button) {
            QTRY_VERIFY(window->findChild<QMessageBox*>("unsavedChangesAlert"));
            auto* alert = window->findChild<QMessageBox*>("unsavedChangesAlert");
            QCOMPARE(alert->findChild<QLabel*>("alertQuestion")->text(),
                     QString("Do you want to save the changes you made to “com.example.edit”?"));
            alert->findChild<QPushButton*>(button)->click();
        };
        const auto press = [](ContentView* window, QKeyCombination keys) {
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window));
            QTest::keyClick(window, keys.key(), keys.keyboardModifiers());
        };
        press(first, Qt::CTRL | Qt::Key_W);
        answer(first, "cancelButton");
        QVERIFY(!first->close());  // the close button, Alt+F4
        answer(first, "cancelButton");
        press(first, Qt::CTRL | Qt::Key_Q);
        answer(first, "cancelButton");
        QTRY_VERIFY(!first->findChild<QMessageBox*>("unsavedChangesAlert"));
        QVERIFY(first->isVisible() && second->isVisible());
        QVERIFY(!second->findChild<QMessageBox*>("unsavedChangesAlert"));
        QCOMPARE(source->text(), edited);

        press(first, Qt::CTRL | Qt::Key_Q);
        answer(first, "dontSaveButton");
        QTRY_VERIFY(!first);
        answer(second, "saveButton");
        QTRY_VERIFY(!second);
        const std::string written = test::readFile(onDisk);
        QVERIFY(written.find("RunAtLoad") != std::string::npos && written.find("/bin/true") != std::string::npos);
    }

    // Choosing another job in the list with unsaved edits asks the same question: Cancel stays on the
    // edited job with its edits, Don't Save moves on.
    void choosingAnotherJobAsksAboutUnsavedEdits() {
        test::SandboxRoot root;
        for (const std::string label : {"com.example.a", "com.example.b"})
            root.writeFile("/Users/" + SystemPaths::loginName() + "/Library/LaunchAgents/" + label + ".plist",
                           "<plist version=\"1.0\"><dict><key>Label</key><string>" + label +
                               "</string><key>Program</key><string>/bin/true</string></dict></plist>\n");
        AppServices services;
        ContentView window(services);
        QVERIFY(showStarted(window));
        auto* list = window.findChild<QListView*>("jobListView");
        const auto choose = [&](int row) {
            list->selectionModel()->setCurrentIndex(list->model()->index(row, 0), QItemSelectionModel::ClearAndSelect);
        };
        choose(0);
        QPointer<JobDetailView> pane = window.findChild<JobDetailView*>("jobDetail");
        pane->setTab(JobDetailView::Tab::source);
        auto* source = pane->findChild<JobSourceView*>("sourceTab");
        const QString edited = source->text().replace("/bin/true", "/bin/echo");
        source->editor()->setPlainText(edited);

        const auto answer = [&](const char* button) {
            QTRY_VERIFY(window.findChild<QMessageBox*>("unsavedChangesAlert"));
            window.findChild<QMessageBox*>("unsavedChangesAlert")->findChild<QPushButton*>(button)->click();
            QTRY_VERIFY(!window.findChild<QMessageBox*>("unsavedChangesAlert"));
        };
        choose(1);
        answer("cancelButton");
        QCOMPARE(window.findChild<JobDetailView*>("jobDetail"), pane.data());
        QCOMPARE(source->text(), edited);
        QCOMPARE(list->selectionModel()->selectedRows().value(0).row(), 0);

        choose(1);
        answer("dontSaveButton");
        QTRY_VERIFY(window.findChild<JobDetailView*>("jobDetail") &&
                    window.findChild<JobDetailView*>("jobDetail") != pane.data());
        QCOMPARE(list->selectionModel()->selectedRows().value(0).row(), 1);
    }

    // The program runs while a main window is open; the last one to close ends it, and the settings
    // and feedback windows close with it.
    void closingTheLastMainWindowEndsTheProgram() {
        test::SandboxRoot root;
        QuillwickApp app;
        QPointer<ContentView> first = app.newMainWindow();
        QPointer<ContentView> second = app.newMainWindow();
        app.showSettings();
        app.openWindow("feedback");
        QPointer<QWidget> settings = app.settingsWindow();
        QPointer<QWidget> feedback = app.feedbackWindow();
        QVERIFY(settings && settings->isVisible() && feedback && feedback->isVisible());

        first->close();
        QTRY_VERIFY(!first);
        QCOMPARE(app.mainWindows().size(), std::size_t(1));
        QVERIFY(second->isVisible() && settings->isVisible());

        QTimer::singleShot(0, second, &QWidget::close);
        QTimer stuck;  // what the program would do without end
        stuck.setSingleShot(true);
        connect(&stuck, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        stuck.start(30000);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(app.mainWindows().empty());
        QVERIFY(!settings || !settings->isVisible());
        QVERIFY(!feedback || !feedback->isVisible());
    }

    // Quitting while a feedback message is on its way waits for the server's answer, showing the form:
    // a failure keeps the program with the message, an accepted send ends it.
    void quittingWaitsForAFeedbackMessageOnItsWay() {
        test::SandboxRoot root;
        test::TestBundle bundle(test::configuredInfo());
        QuillwickApp app;
        QPointer<ContentView> window = app.newMainWindow();
        app.openWindow("feedback");
        QPointer<QWidget> feedback = app.feedbackWindow();
        std::vector<FeedbackService::Completion> answers;
        feedback->findChild<FeedbackView*>()->setSender(
            [&](FeedbackService::Category, const QString&, const QString&, QObject*, FeedbackService::Completion done) {
                answers.push_back(std::move(done));
            });
        feedback->findChild<QPlainTextEdit*>("message")->setPlainText("Half a report");
        auto* send = feedback->findChild<QPushButton*>("send");
        send->click();
        feedback->close();

        bool failedShown = false, acceptedLast = false;
        QTimer::singleShot(0, window, [&] { window->findChild<QAction*>("quitAction")->trigger(); });
        QTimer step;
        connect(&step, &QTimer::timeout, [&] {
            if (window || !feedback || !feedback->isVisible() || answers.size() != 1) return;
            step.stop();
            answers[0](std::make_exception_ptr(FeedbackService::FeedbackError::server(500, "Down")));
            failedShown = feedback->isVisible() &&
                          feedback->findChild<QPlainTextEdit*>("message")->toPlainText() == "Half a report";
            send->click();
            feedback->close();
            QTimer::singleShot(0, [&] {
                acceptedLast = answers.size() == 2;
                if (acceptedLast) answers[1](nullptr);
            });
        });
        step.start(10);
        QTimer stuck;
        stuck.setSingleShot(true);
        connect(&stuck, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        stuck.start(30000);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(failedShown);
        QVERIFY(acceptedLast);
    }
};

QTEST_MAIN(ContentViewTest)
#include "ContentViewTest.moc"
