#include "Quillwick/detail/JobDetailView.h"

#include <iterator>
#include <memory>
#include <utility>

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPromise>
#include <QTabWidget>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QtConcurrent>

#include "Quillwick/actions/JobActionBar.h"
#include "Quillwick/actions/JobActionRunner.h"
#include "Quillwick/detail/JobLogView.h"
#include "Quillwick/detail/JobOverviewView.h"
#include "Quillwick/detail/JobProblemsView.h"
#include "Quillwick/detail/JobSourceView.h"
#include "Quillwick/editing/JobConfigureView.h"
#include "Quillwick/launchd/Launchctl.h"
#include "Quillwick/store/JobStore.h"
#include "Quillwick/store/OperationRouter.h"
#include "Quillwick/ui/BusyIndicator.h"
#include "Quillwick/ui/ElidedLabel.h"
#include "Quillwick/ui/HealthDot.h"
#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"

namespace qw {
namespace {

QThreadPool& runtimePool() {
    // Its own pool, so a slow launchctl never waits behind the store's scans.
    static QThreadPool* pool = new QThreadPool;
    return *pool;
}

QFont titleFont() {
    QFont font = QWidget().font();
    font.setPointSizeF(font.pointSizeF() * 1.45);
    font.setWeight(QFont::DemiBold);
    return font;
}

// The five tabs, each whole: the pane is never narrower than they are (see narrowestWidth).
void addTabs(QTabWidget* tabs, QWidget* const (&pages)[std::size(JobDetailView::allTabs)]) {
    tabs->setDocumentMode(true);
    tabs->setUsesScrollButtons(false);
    tabs->setElideMode(Qt::ElideNone);
    for (JobDetailView::Tab tab : JobDetailView::allTabs) {
        const int index = tabs->addTab(pages[static_cast<int>(tab)], symbolIcon(JobDetailView::symbol(tab)),
                                       JobDetailView::title(tab));
        tabs->setTabToolTip(index, JobDetailView::help(tab));
    }
}

void setTextColour(QLabel* label, const QColor& colour) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

}  // namespace

QString JobDetailView::title(Tab tab) {
    switch (tab) {
        case Tab::overview: return QStringLiteral("Overview");
        case Tab::configure: return QStringLiteral("Configure");
        case Tab::log: return QStringLiteral("Log");
        case Tab::problems: return QStringLiteral("Problems");
        case Tab::source: return QStringLiteral("Source");
    }
    return {};
}

QString JobDetailView::symbol(Tab tab) {
    switch (tab) {
        case Tab::overview: return QStringLiteral("info.circle");
        case Tab::configure: return QStringLiteral("slider.horizontal.3");
        case Tab::log: return QStringLiteral("text.alignleft");
        case Tab::problems: return QStringLiteral("stethoscope");
        case Tab::source: return QStringLiteral("curlybraces");
    }
    return {};
}

QString JobDetailView::help(Tab tab) {
    switch (tab) {
        case Tab::overview: return QStringLiteral("What this job runs, when it runs, and what happened last time.");
        case Tab::configure: return QStringLiteral("Every launchd setting on this job, with what each one does.");
        case Tab::log: return QStringLiteral("The job’s own output, or launchd’s account of it when the job keeps no log.");
        case Tab::problems: return QStringLiteral("What Quillwick thinks is wrong with this job, and how to fix it.");
        case Tab::source: return QStringLiteral("The plist itself, as text.");
    }
    return {};
}

int JobDetailView::narrowestWidth() {
    // The tabs are what cannot go on in a further line.
    QTabWidget tabs;
    QWidget* const pages[] = {new QWidget, new QWidget, new QWidget, new QWidget, new QWidget};
    addTabs(&tabs, pages);
    return tabs.minimumSizeHint().width();
}

std::optional<JobDetailView::Tab> JobDetailView::tabNamed(const QString& name) {
    for (Tab tab : allTabs)
        if (title(tab) == name) return tab;
    return std::nullopt;
}

QString JobDetailView::statusText(const Job& job, const std::optional<RuntimeState>& runtime) {
    if (runtime) return QString::fromStdString(runtime->summary());
    if (job.status && job.status->pid) return QStringLiteral("Running (pid %1)").arg(*job.status->pid);
    if (!job.status || job.isDisabled) return job.isDisabled ? QStringLiteral("Disabled") : QStringLiteral("Not loaded");
    const auto& exit = job.status->lastExit;
    if (!exit || !exit->isFailure()) return QStringLiteral("Loaded, waiting");
    return QStringLiteral("Not running — last exit ") + QString::fromStdString(exit->description());
}

JobDetailView::JobDetailView(Job job, JobStore& store, OperationRouter& router, JobActionRunner& actions,
                             QWidget* parent)
    : QWidget(parent), job_(std::move(job)), store_(store), router_(router), actions_(actions) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QWidget(this);
    header->setObjectName("detailHeader");
    auto* rows = new QVBoxLayout(header);
    rows->setContentsMargins(20, 34, 20, 12);
    rows->setSpacing(10);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    dot_ = new HealthDot(job_.health(), 11, header);
    dot_->setObjectName("detailHealth");
    label_ = new ElidedLabel(header);
    label_->setObjectName("detailLabel");
    label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label_->setFont(titleFont());
    titleRow->addWidget(dot_, 0, Qt::AlignVCenter);
    titleRow->addWidget(label_, 1);

    busy_ = new QWidget(header);
    busy_->setObjectName("busyIndicator");
    auto* busyRow = new QHBoxLayout(busy_);
    busyRow->setContentsMargins(0, 0, 0, 0);
    busyRow->setSpacing(6);
    auto* spinner = smallBusyIndicator(busy_);
    busyCaption_ = new QLabel(busy_);
    busyCaption_->setObjectName("busyCaption");
    busyCaption_->setFont(captionFont());
    setTextColour(busyCaption_, secondaryColor());
    busyRow->addWidget(spinner, 0, Qt::AlignVCenter);
    busyRow->addWidget(busyCaption_, 0, Qt::AlignVCenter);
    titleRow->addWidget(busy_, 0, Qt::AlignVCenter);
    rows->addLayout(titleRow);

    status_ = new QLabel(header);
    status_->setObjectName("detailStatus");
    status_->setTextFormat(Qt::PlainText);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status_->setWordWrap(true);
    rows->addWidget(status_);

    actionBar_ = new JobActionBar(job_, {router_.isReadOnly(job_), router_.needsAdministrator(job_)},
                                  actions_.busy().has_value(), [this](JobAction a) { runAction(a); }, header);
    actionBar_->setObjectName("detailActionBar");
    rows->addWidget(actionBar_);
    column->addWidget(header);

    tabs_ = new QTabWidget(this);
    tabs_->setObjectName("detailTabs");
    auto* tabsBox = new QVBoxLayout;
    tabsBox->setContentsMargins(0, 8, 0, 0);
    tabsBox->addWidget(tabs_);
    column->addLayout(tabsBox, 1);

    auto refresh = [this] { return refreshAfterChange(); };
    overview_ = new JobOverviewView(job_, runtime_);
    overview_->setObjectName("overviewTab");
    configure_ = new JobConfigureView(job_, router_, refresh);
    configure_->setObjectName("configureTab");
    log_ = new JobLogView(job_, runtime_);
    log_->setObjectName("logTab");
    problems_ = new JobProblemsView(job_, store_, router_, refresh);
    problems_->setObjectName("problemsTab");
    source_ = new JobSourceView(job_, router_, refresh);
    source_->setObjectName("sourceTab");
    QWidget* const pages[] = {overview_, configure_, log_, problems_, source_};
    addTabs(tabs_, pages);

    connect(&actions_, &JobActionRunner::busyChanged, this, &JobDetailView::updateBusy);
    // Wherever the action was started (this header, the list's menu, another window).
    connect(&actions_, &JobActionRunner::actionSucceeded, this, [this](const QString& id) {
        if (shownOnce_ && id.toStdString() == job_.id()) loadRuntime();
    });
    updateHeader();
    updateBusy();
}

JobDetailView::Tab JobDetailView::tab() const { return static_cast<Tab>(tabs_->currentIndex()); }

void JobDetailView::setTab(Tab tab) { tabs_->setCurrentIndex(static_cast<int>(tab)); }

void JobDetailView::setJob(const Job& job) {
    const bool sameJob = job.id() == job_.id();
    const bool sameStatus = job.status == job_.status;
    job_ = job;
    actionBar_->setJob(job_, {router_.isReadOnly(job_), router_.needsAdministrator(job_)});
    overview_->setJob(job_);
    configure_->setJob(job_);
    log_->setJob(job_);
    problems_->setJob(job_);
    source_->setJob(job_);
    updateHeader();
    if (!sameJob) {
        // A former job's state must not stand for this one while the new query runs.
        setRuntime(std::nullopt);
        if (shownOnce_) loadRuntime();
    } else if (!sameStatus && shownOnce_) {
        loadRuntime();
    }
}

void JobDetailView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    loadRuntime();
}

QFuture<void> JobDetailView::loadRuntime() {
    const std::uint64_t generation = ++runtimeGeneration_;
    if (!job_.status) {
        setRuntime(std::nullopt);
        return QtFuture::makeReadyFuture();
    }
    // Daemons are asked in the system domain, everything else in the user's gui domain.
    const ServiceTarget target = job_.serviceTarget();
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    QFuture<void> done = promise->future();
    QtConcurrent::run(&runtimePool(), [target]() -> std::optional<RuntimeState> {
        try {
            return Launchctl().print(target);
        } catch (...) {
            return std::nullopt;
        }
    }).then(&lifetime_, [this, generation, promise](std::optional<RuntimeState> state) {
        // Only the newest query's answer is stored: an older one may describe a job since replaced.
        if (generation == runtimeGeneration_) setRuntime(std::move(state));
        promise->finish();
    }).onCanceled([promise] { promise->finish(); });
    return done;
}

bool JobDetailView::hasUnsavedEdits() const { return configure_->hasUnsavedEdits() || source_->hasUnsavedEdits(); }

void JobDetailView::saveEdits(std::function<void(bool saved)> done) {
    // One tab at a time: each save reads the file again first, so the second never writes over the
    // first unseen.
    const bool configure = configure_->hasUnsavedEdits();
    if (!configure && !source_->hasUnsavedEdits()) return done(true);
    auto connection = std::make_shared<QMetaObject::Connection>();
    auto fired = std::make_shared<bool>(false);
    auto ended = [this, configure, done, connection, fired] {
        if (std::exchange(*fired, true)) return;
        QObject::disconnect(*connection);
        if (configure ? configure_->hasUnsavedEdits() : source_->hasUnsavedEdits()) return done(false);
        saveEdits(done);
    };
    // A save already running when asked ends the same way as one started here.
    if (configure) {
        *connection = connect(configure_, &JobConfigureView::saveEnded, &lifetime_, ended);
        configure_->save();
        if (!configure_->isBusy()) ended();
    } else {
        *connection = connect(source_, &JobSourceView::saveEnded, &lifetime_, ended);
        source_->save();
        if (!source_->isBusy()) ended();
    }
}

QFuture<void> JobDetailView::refreshAfterChange() {
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    QFuture<void> done = promise->future();
    QObject* context = &lifetime_;
    store_.reload()
        .then(context, [this, context, promise] {
            loadRuntime().then(context, [promise] { promise->finish(); }).onCanceled([promise] { promise->finish(); });
        })
        .onCanceled([promise] { promise->finish(); });
    return done;
}

void JobDetailView::runAction(JobAction action) {
    // The run-time state is loaded again when the runner reports the action done (see above).
    actions_.run(action, job_);
}

void JobDetailView::setRuntime(std::optional<RuntimeState> runtime) {
    if (runtime == runtime_) return;
    runtime_ = std::move(runtime);
    overview_->setRuntime(runtime_);
    log_->setRuntime(runtime_);
    updateHeader();
}

void JobDetailView::updateHeader() {
    dot_->setHealth(job_.health());
    label_->setFullText(QString::fromStdString(job_.label));
    // The pane takes the focus after a create: a screen reader then says whose it is.
    setAccessibleName(QString::fromStdString(job_.label));
    status_->setText(statusText(job_, runtime_));
    setTextColour(status_, job_.health() == Job::Health::failed ? redColor() : secondaryColor());
}

void JobDetailView::updateBusy() {
    const auto& busy = actions_.busy();
    busy_->setVisible(busy.has_value());
    if (busy) busyCaption_->setText(*busy + QStringLiteral("…"));
    actionBar_->setBusy(busy.has_value());
}

}  // namespace qw
