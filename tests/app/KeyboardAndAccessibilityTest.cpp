// The keys the platform's conventions promise, what a screen reader is told about rows, counts, fields and
// buttons, and texts holding "&" shown as written.
#include <QAbstractButton>
#include <QAccessible>
#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>
#include <QTextDocumentFragment>
#include <QToolButton>

#include "Quillwick/app/AppServices.h"
#include "Quillwick/app/ContentView.h"
#include "Quillwick/app/JobListView.h"
#include "Quillwick/app/PrivilegesSettings.h"
#include "Quillwick/app/SettingsView.h"
#include "Quillwick/app/SidebarView.h"
#include "Quillwick/cron/CronListView.h"
#include "Quillwick/detail/IssueCard.h"
#include "Quillwick/detail/JobLogView.h"
#include "Quillwick/editing/KeyEditor.h"
#include "Quillwick/ui/AccessibleToggles.h"
#include "cron/CronTestSupport.h"
#include "helperkit/PlistFile.h"
#include "support/SandboxRoot.h"

using namespace qw;

namespace {

// What assistive technology is told a widget or a row says.
QString spoken(QObject* object) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(object);
    return a ? a->text(QAccessible::Name) : QString();
}

QStringList spokenRows(QAbstractItemView* view) {
    QStringList out;
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(view);
    for (int i = 0; a && i < a->childCount(); ++i)
        if (QAccessibleInterface* child = a->child(i); child && child->role() != QAccessible::ColumnHeader)
            out << child->text(QAccessible::Name);
    return out;
}

Job agent(const std::string& label, PlistDictionary extra = {}) {
    PlistDictionary root{{"Label", label}, {"Program", "/bin/true"}};
    for (const auto& [k, v] : extra.entries()) root.set(k, v);
    Job job;
    job.label = label;
    job.directory = JobDirectory::userAgents;
    job.definition = JobDefinition(PlistFile(std::move(root), PlistFormat::xml),
                                   JobLocation::forLabel(JobDirectory::userAgents, label));
    return job;
}

// Shows the window and waits until its first scan is in.
bool startsUp(ContentView& window) {
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    QSignalSpy started(&window, &ContentView::startedUp);
    window.show();
    return started.wait(20000);
}

}  // namespace

class KeyboardAndAccessibilityTest : public QObject {
    Q_OBJECT
private slots:
    // As the application does: every name below is what a screen reader gets from it.
    void initTestCase() { installAccessibleToggles(); }

    void theSearchFieldTakesCtrlFEscapeAndDownAndEveryIconButtonIsNamed() {
        test::SandboxRoot root({.demo = true});
        AppServices services;
        ContentView window(services);
        QVERIFY(startsUp(window));
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto* search = window.findChild<QLineEdit*>("searchField");
        auto* list = window.findChild<QListView*>("jobListView");
        const int installed = list->model()->rowCount();

        QTest::keyClick(list, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(search->hasFocus());
        QTest::keyClicks(search, "heartbeat");
        QCOMPARE(list->model()->rowCount(), 1);
        // The prompt is the field's description; its name says what it is, and its clear button's what it does.
        QCOMPARE(spoken(search), QString("Search"));
        QCOMPARE(spoken(list), QString("Jobs"));
        QCOMPARE(spoken(window.findChild<QWidget*>("sidebar")), QString("Filters"));
        auto* clear = search->findChild<QToolButton*>();
        QVERIFY(clear && clear->isVisibleTo(&window));
        QCOMPARE(spoken(clear), QString("Clear"));
        QTest::keyClick(search, Qt::Key_Down);
        QVERIFY(list->hasFocus());
        QVERIFY(window.selection() && window.selection()->find("heartbeat") != std::string::npos);

        QTest::keyClick(list, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(search->hasFocus());
        QTest::keyClick(search, Qt::Key_Escape);
        QCOMPARE(search->text(), QString());
        QCOMPARE(list->model()->rowCount(), installed);
        // Down keeps the chosen job rather than jumping to the first.
        QTest::keyClick(search, Qt::Key_Down);
        QVERIFY(list->hasFocus());
        QVERIFY(window.selection() && window.selection()->find("heartbeat") != std::string::npos);

        // With the job's pane open: a button showing only a symbol is named by its help text, or by
        // what it belongs to.
        QCOMPARE(spoken(window.findChild<QToolButton*>("moreMenu")), QString("More actions for com.example.heartbeat"));
        int iconOnly = 0;
        for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
            if (!button->isVisibleTo(&window) || !button->text().isEmpty() || button->icon().isNull())
                continue;
            ++iconOnly;
            const QString help = QTextDocumentFragment::fromHtml(button->toolTip()).toPlainText();
            QVERIFY2(!spoken(button).isEmpty(), qPrintable(button->objectName()));
            QVERIFY2(help.isEmpty() || spoken(button) == help, qPrintable(spoken(button)));
        }
        QVERIFY(iconOnly >= 3);  // the hint, the folder and the menu at least
        root.haltLaunchd();
    }

    // A screen reader hears each field of the job editor by its key, and each "More" by what it explains.
    void editorFieldsAndTheirMoreButtonsAreNamedByTheirKey() {
        for (const char* name : {"Label", "Program", "StartInterval", "ProcessType"}) {
            JobDefinition draft(PlistFile(PlistDictionary{{"Label", "com.example.x"}}, PlistFormat::xml));
            KeyEditor row(*LaunchdSchema::key(name), {[&] { return draft; }, [&](JobDefinition d) { draft = std::move(d); }},
                          true);
            row.show();
            const QString key = QString::fromUtf8(name);
            QWidget* field = row.control()->findChild<QLineEdit*>();
            if (!field) field = row.control()->findChild<QComboBox*>();
            QVERIFY2(field, qPrintable(key));
            QCOMPARE(spoken(field), key);
            auto* more = row.findChild<QToolButton*>("moreButton");
            QVERIFY2(more, qPrintable(key));
            QCOMPARE(spoken(more), "More about " + key);
            more->click();
            QCOMPARE(spoken(more), "Less about " + key);
        }
        // A list's rows by the list's key and the row's number, a calendar entry's fields by their titles.
        JobDefinition draft(PlistFile(PlistDictionary{{"ProgramArguments", PlistValue::array({"/bin/echo", "hi"})},
                                                      {"StartCalendarInterval", PlistValue::dictionary({{"Hour", 9}})}},
                                      PlistFormat::xml));
        for (const auto& [name, fields] :
             {std::pair{"ProgramArguments", QStringList{"ProgramArguments 0", "ProgramArguments 1"}},
              std::pair{"StartCalendarInterval", QStringList{"Hour", "Minute", "Day", "Weekday", "Month"}}}) {
            KeyEditor row(*LaunchdSchema::key(name), {[&] { return draft; }, [&](JobDefinition d) { draft = std::move(d); }},
                          true);
            QStringList names;
            for (QLineEdit* field : row.control()->findChildren<QLineEdit*>()) names << spoken(field);
            QCOMPARE(names, fields);
            QCOMPARE(spoken(row.control()->findChild<QToolButton*>("addButton")), "Add to " + QString(name));
        }
    }

    // Each tab of a job's pane: a field is heard by what it is, not by a prompt that goes once text is typed.
    void everyTextFieldOfAJobPaneIsNamed() {
        test::SandboxRoot root({.demo = true});
        AppServices services;
        ContentView window(services);
        QVERIFY(startsUp(window));
        for (const Job& job : services.store().jobs())
            if (job.label == "com.lumenfold.sync") window.setSelection(job.id());
        auto* tabs = window.findChild<QTabWidget*>("detailTabs");
        QVERIFY(tabs);
        QStringList named;
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QWidget* page = tabs->currentWidget();
            if (page->objectName() == "sourceTab")
                QTRY_VERIFY(page->findChild<QPlainTextEdit*>("sourceEditor")->isVisibleTo(&window));
            QList<QWidget*> fields;
            for (auto* f : page->findChildren<QLineEdit*>()) fields << f;
            for (auto* f : page->findChildren<QPlainTextEdit*>()) fields << f;
            for (QWidget* field : fields) {
                if (!field->isVisibleTo(&window)) continue;
                QVERIFY2(!spoken(field).isEmpty(), qPrintable(page->objectName() + "/" + field->objectName()));
                named << spoken(field);
            }
        }
        for (const char* name : {"Key in EnvironmentVariables", "Value of LUMENFOLD_MODE", "Filter", "Log", "Source"})
            QVERIFY2(named.contains(name), name);
        auto* filter = window.findChild<QLineEdit*>("logFilter");
        filter->setText("x");
        QCOMPARE(spoken(filter->findChild<QToolButton*>()), QString("Clear"));
        root.haltLaunchd();
    }

    void sidebarSectionHeadersAreNeverChosen() {
        SidebarView sidebar;
        sidebar.resize(220, 700);
        sidebar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sidebar));
        sidebar.setFocus();
        sidebar.setFilter(JobFilter::Kind::all);
        QTest::keyClick(&sidebar, Qt::Key_Down);
        QCOMPARE(sidebar.filter(), JobFilter(JobFilter::Kind::running));
        QCOMPARE(sidebar.currentItem(), sidebar.itemFor(JobFilter::Kind::running));
        QTest::keyClick(&sidebar, Qt::Key_Up);
        QCOMPARE(sidebar.filter(), JobFilter(JobFilter::Kind::all));
        sidebar.setFilter(JobFilter::Kind::problems);
        QTest::keyClick(&sidebar, Qt::Key_Down);
        QCOMPARE(sidebar.filter(), JobFilter::directory(JobDirectory::userAgents));

        const QList<QTreeWidgetItem*> headers = sidebar.findItems("Location", Qt::MatchExactly);
        QCOMPARE(headers.size(), qsizetype(1));
        QTest::mouseClick(sidebar.viewport(), Qt::LeftButton, {}, sidebar.visualItemRect(headers.front()).center());
        QTreeWidgetItem* userAgents = sidebar.itemFor(JobFilter::directory(JobDirectory::userAgents));
        QCOMPARE(sidebar.filter(), JobFilter::directory(JobDirectory::userAgents));
        QCOMPARE(sidebar.currentItem(), userAgents);
        QCOMPARE(sidebar.selectedItems(), QList<QTreeWidgetItem*>({userAgents}));
    }

    void aSidebarRowChosenByItsAccessibleActionFiltersAsAClickDoes() {
        SidebarView sidebar;
        sidebar.show();
        QSignalSpy chosen(&sidebar, &SidebarView::filterChanged);
        QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(&sidebar);
        QAccessibleInterface* running = nullptr;
        for (int i = 0; tree && i < tree->childCount() && !running; ++i)
            if (tree->child(i)->text(QAccessible::Name) == "Running") running = tree->child(i);
        QVERIFY(running && running->actionInterface());
        const QStringList actions = running->actionInterface()->actionNames();
        QVERIFY2(!actions.isEmpty(), "the row offers no action");
        running->actionInterface()->doAction(actions.front());
        QCOMPARE(sidebar.filter(), JobFilter(JobFilter::Kind::running));
        QCOMPARE(sidebar.currentItem(), sidebar.itemFor(JobFilter::Kind::running));
        QCOMPARE(chosen.size(), 1);

        // The same action on the chosen row leaves it chosen: nothing sets the filter to none.
        running->actionInterface()->doAction(actions.front());
        QCOMPARE(sidebar.filter(), JobFilter(JobFilter::Kind::running));
        QCOMPARE(sidebar.selectedItems(), QList<QTreeWidgetItem*>({sidebar.itemFor(JobFilter::Kind::running)}));
    }

    void theSettingsWindowClosesWithEscapeAndCtrlW() {
        test::SandboxRoot root;
        AppServices services;
        for (const QKeySequence& key : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
            auto* settings = new SettingsView(services);
            settings->setAttribute(Qt::WA_DeleteOnClose);
            QPointer<SettingsView> alive(settings);
            settings->show();
            QVERIFY(QTest::qWaitForWindowActive(settings));
            QTest::keySequence(settings->currentWidget(), key);
            QTRY_VERIFY2(!alive, qPrintable(key.toString()));
        }
    }

    void rowsAndCountsAreReadOutAsTheyAreSeen() {
        JobListView jobs([](JobAction, const Job&) {}, nullptr);
        Job running = agent("com.example.worker");
        running.status = LaunchctlListEntry{running.label, 42, std::nullopt};
        jobs.setJobs({running, agent("com.example.idle")});
        jobs.setProblemLabels({running.id()});
        jobs.show();
        QCOMPARE(spokenRows(jobs.listView()),
                 QStringList({"com.example.worker, Running · pid 42, This job has problems",
                              "com.example.idle, Not loaded"}));

        SidebarView sidebar;
        sidebar.setCounts({{JobFilter::Kind::installed, 12}, {JobFilter::Kind::running, 0}}, 3, 0);
        sidebar.show();
        QStringList sidebarRows = spokenRows(&sidebar);
        QVERIFY2(sidebarRows.contains("Installed, 12"), qPrintable(sidebarRows.join(" | ")));
        QVERIFY(sidebarRows.contains("Problems, 3"));
        QVERIFY(sidebarRows.contains("Running"));  // no badge is drawn for none

        // Each row of what was done as root: its action (naming the job), how it ended and when.
        AuditEntry failed;
        failed.action = "load com.example.daemon";
        failed.detail = "Bootstrap failed: 5: Input/output error";
        AuditEntry installed;
        installed.action = "Installed the privileged helper";
        installed.succeeded = true;
        AuditLogSheet sheet({failed, installed}, [] {});
        sheet.show();
        QStringList shownDates;
        for (int row = 0; row < sheet.list()->count(); ++row)
            shownDates << sheet.list()->itemWidget(sheet.list()->item(row))->findChildren<QLabel*>().back()->text();
        QCOMPARE(spokenRows(sheet.list()),
                 QStringList({"load com.example.daemon, Failed, " + shownDates[0],
                              "Installed the privileged helper, Succeeded, " + shownDates[1]}));

        test::SandboxRoot root;
        QVERIFY(test::installCrontab(root, "30 2 * * * /usr/bin/backup\n#0 9 * * 1 /bin/report\n"));
        CrontabStore store;
        QVERIFY(test::reloaded(store));
        // The cron list shares its column with the job list, which hides it.
        QStackedWidget column;
        auto* cron = new CronListView(&store);
        auto* jobList = new QWidget;
        column.addWidget(cron);
        column.addWidget(jobList);
        column.show();
        auto* cronRows = cron->findChild<QListView*>("cronRows");
        QCOMPARE(spokenRows(cronRows),
                 QStringList({"/usr/bin/backup, At 02:30", "/bin/report, Commented out — at 09:00 on mondays"}));
        QAccessibleInterface* rows = QAccessible::queryAccessibleInterface(cronRows);
        QVERIFY(!rows->child(0)->state().invisible && !rows->child(0)->rect().isEmpty());
        column.setCurrentWidget(jobList);
        for (int i = 0; i < rows->childCount(); ++i) {
            QVERIFY(rows->child(i)->state().invisible);
            QVERIFY(rows->child(i)->rect().isEmpty());
        }
    }

    void textsHoldingAnAmpersandShowItAsWritten() {
        test::SandboxRoot root;
        const std::string logs = root.resolve("/Users/Shared/Logs").string();
        Job job = agent("com.example.both", {{"StandardOutPath", logs + "/both.log"},
                                             {"StandardErrorPath", logs + "/both.log"}});
        JobLogView both(job, std::nullopt);
        QStringList titles;
        for (QAbstractButton* b : both.findChild<QButtonGroup*>()->buttons()) titles << spoken(b);
        QCOMPARE(titles, QStringList({"Output & Errors", "launchd Activity"}));

        Issue issue{Issue::Severity::error, "Label and file name differ", "", Fix::setLabelToFilename("Tom&Jerry")};
        IssueCard card(issue, false, true, [] {});
        QCOMPARE(spoken(card.fixButton()), QString("Set Label to “Tom&Jerry”"));
    }
};

QTEST_MAIN(KeyboardAndAccessibilityTest)
#include "KeyboardAndAccessibilityTest.moc"
