#include "Quillwick/app/ContentView.h"

#include <unordered_set>

#include <QFutureWatcher>
#include <QLineEdit>
#include <QListView>
#include <QCloseEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QThreadPool>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtConcurrent>

#include "Quillwick/app/AppServices.h"
#include "Quillwick/actions/JobActionBar.h"
#include "Quillwick/app/JobBrowsing.h"
#include "Quillwick/app/JobListModel.h"
#include "Quillwick/app/JobListView.h"
#include "Quillwick/app/SidebarView.h"
#include "Quillwick/cron/CronDetailView.h"
#include "Quillwick/cron/CronListView.h"
#include "Quillwick/cron/CrontabStore.h"
#include "Quillwick/cron/NewCronJobView.h"
#include "Quillwick/detail/JobDetailView.h"
#include "Quillwick/editing/NewJobView.h"
#include "Quillwick/launchd/FileFacts.h"
#include "Quillwick/launchd/JobDiagnostics.h"
#include "Quillwick/store/JobIndex.h"
#include "Quillwick/ui/EmptyStateView.h"
#include "Quillwick/ui/FailureAlert.h"
#include "Quillwick/ui/SearchField.h"
#include "Quillwick/ui/Symbols.h"

namespace qw {
namespace {

QThreadPool& problemPool() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setThreadPriority(QThread::LowPriority);
        return p;
    }();
    return *pool;
}

std::set<std::string> scanForProblems(const std::vector<Job>& jobs, const std::set<std::string>& duplicated) {
    const std::unordered_set<std::string> duplicates(duplicated.begin(), duplicated.end());
    std::set<std::string> out;
    for (const Job& job : jobs) {
        const Diagnostics::FileFacts facts(job);
        const auto others = duplicates.contains(job.label) ? JobIndex::otherFiles(jobs, job) : std::vector<std::string>{};
        for (const Issue& issue : Diagnostics::issues(job, facts, duplicates, others)) {
            if (issue.severity != Issue::Severity::note) {
                out.insert(job.id());
                break;
            }
        }
    }
    return out;
}

QString q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

ContentView::ContentView(AppServices& services, QWidget* parent)
    : QMainWindow(parent), services_(services), sidebar_(new SidebarView), searchField_(new SearchField),
      content_(new QStackedWidget), jobList_(nullptr), detail_(new QStackedWidget),
      noSelection_(new EmptyStateView("No Job Selected", "list.bullet.rectangle",
                                      "Choose a job to see what it does, whether it is running, and why not.")) {
    setObjectName("mainWindow");
    setAttribute(Qt::WA_DeleteOnClose);
    setMinimumSize(980, 600);
    setWindowTitle("Quillwick");

    jobList_ = new JobListView(
        [this](JobAction action, const Job& job) { services_.actions().run(action, job); },
        [this](const Job& job) { return services_.isReadOnly(job); });

    auto* sidebarPane = new QWidget;
    sidebarPane->setObjectName("sidebarPane");
    auto* sidebarLayout = new QVBoxLayout(sidebarPane);
    sidebarLayout->setContentsMargins(6, 6, 0, 0);
    searchField_->setObjectName("searchField");
    searchField_->setPlaceholderText("Label, program or path");
    sidebarLayout->addWidget(searchField_);
    sidebarLayout->addWidget(sidebar_);
    sidebarPane->setMinimumWidth(190);
    sidebarPane->setMaximumWidth(280);

    content_->setObjectName("contentColumn");
    content_->addWidget(jobList_);
    content_->setMinimumWidth(260);
    content_->setMaximumWidth(460);
    detail_->setObjectName("detailColumn");
    noSelection_->setObjectName("noSelection");
    // As narrow with no job as with one, so that choosing one never moves the split.
    noSelection_->setMinimumWidth(JobDetailView::narrowestWidth());
    detail_->addWidget(noSelection_);

    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->setObjectName("splitter");
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(sidebarPane);
    splitter->addWidget(content_);
    splitter->addWidget(detail_);
    splitter->setStretchFactor(2, 1);
    splitter->setSizes({210, 320, 450});
    setCentralWidget(splitter);

    auto* toolbar = addToolBar("Toolbar");
    toolbar->setObjectName("toolbar");
    toolbar->setMovable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    newAction_ = toolbar->addAction(symbolIcon("plus"), "New Job", this, &ContentView::create);
    newAction_->setObjectName("newAction");
    newAction_->setShortcut(QKeySequence::New);
    newAction_->setShortcutContext(Qt::WindowShortcut);
    refreshAction_ = toolbar->addAction(symbolIcon("arrow.clockwise"), "Refresh", this, [this] {
        services_.store().refresh();
        // Nothing watches the crontab: in its view, Refresh is how a change made elsewhere shows.
        if (filter_.kind() == JobFilter::Kind::cron && services_.crontab())
            services_.crontab()->reload();
    });
    refreshAction_->setObjectName("refreshAction");
    refreshAction_->setShortcut(QKeySequence::Refresh);
    auto* find = new QAction(this);
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, [this] {
        if (!searchField_->isVisible())
            return;
        searchField_->setFocus(Qt::ShortcutFocusReason);
        searchField_->selectAll();
    });
    addAction(find);

    JobStore& store = services_.store();
    connect(&store, &JobStore::jobsChanged, this, [this] {
        updateJobs();
        scheduleProblemScan();
    });
    connect(&store, &JobStore::duplicatedLabelsChanged, this, &ContentView::scheduleProblemScan);
    // After every fix, save, repair, action and Refresh: they change what no job value shows (a
    // folder made, a file's mode), so the same jobs may have other problems now.
    connect(&store, &JobStore::reloaded, this, &ContentView::scheduleProblemScan);
    connect(&store, &JobStore::isLoadingChanged, this, &ContentView::updateToolbar);
    connect(&services_.actions(), &JobActionRunner::failureChanged, this, &ContentView::showFailure);
    connect(&services_.actions(), &JobActionRunner::busyChanged, this, &ContentView::updateDetail);
    if (CrontabStore* crontab = services_.crontab())
        connect(crontab, &CrontabStore::crontabChanged, this, &ContentView::updateCounts);
    connect(sidebar_, &SidebarView::filterChanged, this, &ContentView::setFilter);
    connect(searchField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        search_ = text;
        updateJobs();
    });
    connect(searchField_, &SearchField::downPressed, jobList_, &JobListView::focusRows);
    connect(jobList_, &JobListView::selectionChanged, this, &ContentView::setSelection);
    // The list, not the search field, has the focus at first: a caret blinking there redrew the idle
    // window twice a second.
    jobList_->listView()->setFocus();

    updateJobs();
    updateContent();
    updateToolbar();
    showFailure();
}

ContentView::~ContentView() = default;

void ContentView::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!started_) {
        started_ = true;
        startUp();
    }
}

void ContentView::startUp() {
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher] {
        watcher->deleteLater();
        startupDone_ = true;
        runProblemScan();
        services_.store().startWatching(std::chrono::seconds(5));
        emit startedUp();
    });
    watcher->setFuture(services_.store().refresh());
}

void ContentView::scheduleProblemScan() {
    // One scan for the signals of one rescan.
    if (!startupDone_ || problemScanScheduled_)
        return;
    problemScanScheduled_ = true;
    QMetaObject::invokeMethod(this, [this] {
        problemScanScheduled_ = false;
        runProblemScan();
    }, Qt::QueuedConnection);
}

void ContentView::runProblemScan() {
    const std::uint64_t stamp = ++problemScanIssued_;
    const std::vector<Job> jobs = services_.store().jobs();
    const std::set<std::string> duplicated = services_.store().duplicatedLabels();
    auto future = QtConcurrent::run(&problemPool(), [jobs, duplicated] { return scanForProblems(jobs, duplicated); });
    auto* watcher = new QFutureWatcher<std::set<std::string>>(this);
    connect(watcher, &QFutureWatcher<std::set<std::string>>::finished, this, [this, watcher, stamp] {
        watcher->deleteLater();
        applyProblemScan(stamp, watcher->result());
    });
    watcher->setFuture(future);
}

void ContentView::applyProblemScan(std::uint64_t stamp, std::set<std::string> problemLabels) {
    // Scans may finish out of order; an older one never replaces a newer result.
    if (stamp <= problemScanShown_)
        return;
    problemScanShown_ = stamp;
    if (problemLabels != problemLabels_) {
        problemLabels_ = std::move(problemLabels);
        jobList_->setProblemLabels(problemLabels_);
        updateJobs();
    }
    emit problemScanApplied();
}

void ContentView::setFilter(const JobFilter& filter) {
    if (filter == filter_)
        return;
    const bool cronChanged = (filter.kind() == JobFilter::Kind::cron) != (filter_.kind() == JobFilter::Kind::cron);
    filter_ = filter;
    sidebar_->setFilter(filter);
    updateJobs();
    if (cronChanged) {
        updateContent();
        updateDetail();
    }
    updateToolbar();
}

void ContentView::setSelection(const std::optional<std::string>& id) {
    if (id == selection_)
        return;
    // Another job's pane would drop the edits of this one: ask first, and keep the row until answered.
    auto* pane = qobject_cast<JobDetailView*>(detailView_);
    if (pane && pane->hasUnsavedEdits()) {
        const std::optional<std::string> wanted = id;  // `id` may be the list's own, which goes back now
        jobList_->setSelection(selection_);
        if (!unsavedAlert_)
            askToSave([this, wanted] { selectJob(wanted); }, [] {});
        return;
    }
    selectJob(id);
}

void ContentView::selectJob(const std::optional<std::string>& id) {
    selection_ = id;
    jobList_->setSelection(id);
    updateDetail();
}

void ContentView::setCronSelection(std::optional<qint64> line) {
    if (line == cronSelection_)
        return;
    cronSelection_ = line;
    if (auto* list = qobject_cast<CronListView*>(cronList_))
        list->setSelection(line);
    updateDetail();
}

void ContentView::updateJobs() {
    const std::vector<Job>& all = services_.store().jobs();
    std::function<bool(const Job&)> keep;
    if (filter_.kind() == JobFilter::Kind::problems)
        keep = [this](const Job& job) { return problemLabels_.count(job.id()) > 0; };
    else
        keep = [this](const Job& job) { return filter_.matches(job); };
    jobList_->setJobs(visibleJobs(all, keep, search_));
    updateCounts();
    updateDetail();
}

void ContentView::updateCounts() {
    using K = JobFilter::Kind;
    std::vector<JobFilter> counted{K::installed, K::all,     K::running, K::failed,  K::notLoaded,
                                   K::disabled,  K::scheduled, K::watching, K::onDemand};
    for (const JobFilter& f : JobFilter::locations())
        counted.push_back(f);
    std::unordered_map<JobFilter, int> counts;
    for (const JobFilter& f : counted) {
        int n = 0;
        for (const Job& job : services_.store().jobs())
            n += f.matches(job) ? 1 : 0;
        counts[f] = n;
    }
    int cronCount = 0;
    if (services_.crontab())
        cronCount = int(services_.crontab()->crontab().jobs().size());
    sidebar_->setCounts(counts, int(problemLabels_.size()), cronCount);
}

void ContentView::updateContent() {
    const bool cron = filter_.kind() == JobFilter::Kind::cron;
    searchField_->setVisible(!cron);
    if (!cron) {
        content_->setCurrentWidget(jobList_);
        return;
    }
    if (!cronList_ && services_.crontab()) {
        auto* list = new CronListView(services_.crontab(), cronSelection_);
        connect(list, &CronListView::selectionChanged, this, &ContentView::setCronSelection);
        cronList_ = list;
        content_->addWidget(cronList_);
    }
    if (!cronList_) {
        const JobFilter cronFilter(JobFilter::Kind::cron);
        cronList_ = new EmptyStateView(q(cronFilter.title()), q(cronFilter.systemImage()), q(cronFilter.help()));
        cronList_->setObjectName("cronList");
        content_->addWidget(cronList_);
    }
    content_->setCurrentWidget(cronList_);
}

void ContentView::updateDetail() {
    if (filter_.kind() == JobFilter::Kind::cron) {
        std::optional<CronJob> job;
        if (cronSelection_ && services_.crontab())
            for (const CronJob& j : services_.crontab()->crontab().jobs())
                if (j.line == *cronSelection_) {
                    job = j;
                    break;
                }
        auto* shown = static_cast<CronDetailView*>(cronDetail_);
        if (job && shown && shown->job().line == job->line) {
            shown->setJob(*job);
        } else if (shown) {
            // The pane may be the one whose save led here: it goes once that call is over.
            shown->hide();
            shown->deleteLater();
            cronDetail_ = nullptr;
        }
        if (job && !cronDetail_) {
            cronDetail_ = new CronDetailView(*job, services_.crontab());
            cronDetail_->setObjectName("cronDetail");
            detail_->addWidget(cronDetail_);
        }
        if (cronDetail_) {
            detail_->setCurrentWidget(cronDetail_);
            return;
        }
        noSelection_->setContent("No Cron Job Selected", "clock.badge.questionmark",
                                 "Choose an entry to see when it runs and what it will do.");
        detail_->setCurrentWidget(noSelection_);
        return;
    }
    const Job* selected = nullptr;
    if (selection_)
        for (const Job& job : services_.store().jobs())
            if (job.id() == *selection_) {
                selected = &job;
                break;
            }
    // The shown job's id is gone, but its file may still be there under another label (a fix or a
    // save changed it): the selection follows the file, and the pane stays with its tab and focus.
    bool followed = false;
    if (!selected && selection_ && detailView_ && !detailFile_.empty()) {
        for (const Job& job : services_.store().jobs())
            if (job.definition && job.definition->location && job.definition->location->url == detailFile_) {
                selected = &job;
                followed = true;
                break;
            }
        if (followed) {
            selection_ = selected->id();
            jobList_->setSelection(selection_);
        }
    }
    if (selected) {
        if (detailView_ && (detailId_ == selected->id() || followed)) {
            static_cast<JobDetailView*>(detailView_)->setJob(*selected);
        } else {
            if (detailView_) {
                // The old pane may be inside a call of its own: it goes once that is over.
                detailView_->setObjectName(QString());
                detailView_->hide();
                detailView_->deleteLater();
            }
            detailView_ = new JobDetailView(*selected, services_.store(), *services_.router(), services_.actions());
            detailView_->setObjectName("jobDetail");
            detail_->addWidget(detailView_);
        }
        detailId_ = selected->id();
        detailFile_ = selected->definition && selected->definition->location ? selected->definition->location->url
                                                                             : std::filesystem::path();
        detail_->setCurrentWidget(detailView_);
        return;
    }
    if (detailView_) {
        detailView_->setObjectName(QString());
        detailView_->hide();
        detailView_->deleteLater();
        detailView_ = nullptr;
        detailId_.clear();
        detailFile_.clear();
    }
    noSelection_->setContent("No Job Selected", "list.bullet.rectangle",
                             "Choose a job to see what it does, whether it is running, and why not.");
    detail_->setCurrentWidget(noSelection_);
}

void ContentView::closeEvent(QCloseEvent* event) {
    auto* pane = qobject_cast<JobDetailView*>(detailView_);
    if (closeAnswered_ || !pane || !pane->hasUnsavedEdits()) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    if (!unsavedAlert_)
        askToSave(
            [this] {
                closeAnswered_ = true;
                close();
            },
            [this] { emit closeDeclined(); });
}

void ContentView::askToSave(std::function<void()> leave, std::function<void()> stay) {
    auto* pane = qobject_cast<JobDetailView*>(detailView_);
    QMessageBox* box = showQuestion(
        this, QStringLiteral("Do you want to save the changes you made to “%1”?").arg(QString::fromStdString(pane->job().label)),
        QStringLiteral("Your changes will be lost if you don’t save them."));
    box->setObjectName("unsavedChangesAlert");
    box->buttons().front()->setObjectName("cancelButton");
    QPushButton* dontSave = box->addButton(QStringLiteral("Don’t Save"), QMessageBox::DestructiveRole);
    dontSave->setObjectName("dontSaveButton");
    QPushButton* save = box->addButton(QStringLiteral("Save"), QMessageBox::AcceptRole);
    save->setObjectName("saveButton");
    box->setDefaultButton(save);
    unsavedAlert_ = box;
    const QPointer<JobDetailView> asked = pane;
    connect(box, &QMessageBox::finished, this, [box, save, dontSave, asked, leave, stay] {
        QAbstractButton* answer = box->clickedButton();
        if (answer == dontSave) {
            leave();
        } else if (answer == save && asked) {
            // The pane goes only once everything is on disk; otherwise the tab shows why not.
            asked->saveEdits([leave, stay](bool saved) {
                if (saved) leave();
                else stay();
            });
        } else {
            stay();
        }
    });
}

void ContentView::focusSelectedJob() {
    // Keys typed next belong to the job: its row when the list shows it, else its pane. Left where it
    // was, the focus fell from the pane replaced onto whatever came next.
    if (!selection_)
        return;
    if (jobList_->model()->rowOf(*selection_) >= 0)
        jobList_->focusRows();
    else if (detailView_)
        detailView_->setFocus(Qt::OtherFocusReason);
}

void ContentView::updateToolbar() {
    const bool cron = filter_.kind() == JobFilter::Kind::cron;
    newAction_->setText(cron ? "New Cron Job" : "New Job");
    newAction_->setToolTip(cron ? "Add an entry to your crontab" : "Create a launchd job");
    newAction_->setStatusTip(newAction_->toolTip());
    newAction_->setEnabled(true);
    refreshAction_->setEnabled(!services_.store().isLoading());
    refreshAction_->setToolTip("Refresh");
}

void ContentView::showFailure() {
    const auto& failure = services_.actions().failure();
    if (!failure || alert_)
        return;
    alert_ = qw::showFailure(this, *failure);
    connect(alert_, &QMessageBox::finished, this, [this] { services_.actions().setFailure(std::nullopt); });
}

void ContentView::create() {
    if (isCreating_)
        return;
    if (filter_.kind() == JobFilter::Kind::cron && services_.crontab()) {
        CrontabStore* store = services_.crontab();
        auto* sheet = new NewCronJobView(
            store,
            [this, store] {
                const std::vector<CronJob> jobs = store->crontab().jobs();
                setCronSelection(jobs.empty() ? std::nullopt : std::optional<qint64>(jobs.back().line));
            },
            this);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        isCreating_ = true;
        connect(sheet, &QDialog::finished, this, [this] { isCreating_ = false; });
        sheet->open();
        return;
    }
    if (filter_.kind() != JobFilter::Kind::cron && services_.router()) {
        auto* sheet = new NewJobView(
            *services_.router(),
            [this](const QString& label) {
                const std::string wanted = label.toStdString();
                return services_.store().refresh().then(this, [this, wanted] {
                    std::optional<std::string> found;
                    for (const Job& job : services_.store().jobs()) {
                        if (job.label == wanted) {
                            found = job.id();
                            break;
                        }
                    }
                    setSelection(found);
                    focusSelectedJob();
                });
            },
            this);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        isCreating_ = true;
        connect(sheet, &QDialog::finished, this, [this] { isCreating_ = false; });
        sheet->open();
    }
}

}  // namespace qw
