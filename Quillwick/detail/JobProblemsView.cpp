#include "Quillwick/detail/JobProblemsView.h"

#include <QApplication>
#include <QMessageBox>
#include <QScrollArea>
#include <QShowEvent>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QtConcurrent>

#include <algorithm>
#include <unordered_set>

#include "Quillwick/detail/IssueCard.h"
#include "Quillwick/editing/FormBits.h"
#include "Quillwick/editing/RouterOperations.h"
#include "Quillwick/launchd/FileFacts.h"
#include "Quillwick/launchd/JobDiagnostics.h"
#include "Quillwick/store/JobIndex.h"
#include "Quillwick/store/JobStore.h"
#include "Quillwick/store/OperationRouter.h"
#include "Quillwick/ui/EmptyStateView.h"

namespace qw {

JobProblemsView::JobProblemsView(Job job, JobStore& store, OperationRouter& router, OnFixed onFixed, QWidget* parent)
    : QWidget(parent), job_(std::move(job)), store_(store), router_(router), onFixed_(std::move(onFixed)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    pages_ = new QStackedWidget(this);
    layout->addWidget(pages_);

    placeholder_ = new EmptyStateView(QStringLiteral("Nothing Wrong"), QStringLiteral("checkmark.circle"),
                                      QStringLiteral("Quillwick found no problems with this job."), pages_);
    pages_->addWidget(placeholder_);

    auto* scroll = new QScrollArea(pages_);
    scroll_ = scroll;
    scroll->setObjectName(QStringLiteral("problemsScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_ = new QWidget(scroll);
    list_->setObjectName(QStringLiteral("problemsList"));
    stack_ = new QVBoxLayout(list_);
    stack_->setContentsMargins(20, 20, 20, 20);
    stack_->setSpacing(14);
    stack_->addStretch(1);
    scroll->setWidget(list_);
    pages_->addWidget(scroll);
    pages_->setCurrentWidget(placeholder_);

    // A Refresh or a fix may change what no job value shows (a file's mode, a folder made).
    connect(&store_, &JobStore::jobsChanged, &lifetime_, [this] { scheduleDiagnose(); });
    connect(&store_, &JobStore::duplicatedLabelsChanged, &lifetime_, [this] { scheduleDiagnose(); });
    connect(&store_, &JobStore::reloaded, &lifetime_, [this] { scheduleDiagnose(); });
}

void JobProblemsView::scheduleDiagnose() {
    if (diagnoseScheduled_ || !isVisible()) return;
    diagnoseScheduled_ = true;
    // Once the host has handed over the job as rescanned, and once for all the signals of one scan.
    QMetaObject::invokeMethod(&lifetime_, [this] {
        diagnoseScheduled_ = false;
        if (isVisible()) diagnose();
    }, Qt::QueuedConnection);
}

void JobProblemsView::setJob(Job job) {
    const bool otherJob = job.id() != job_.id();
    job_ = std::move(job);
    if (!otherJob) return;
    // The old job's cards would apply their repairs to this one.
    busy_.reset();
    showIssues({});
    if (isVisible()) diagnose();
}

void JobProblemsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) diagnose();
}

QFuture<void> JobProblemsView::diagnose() {
    const std::uint64_t generation = ++generation_;
    const std::unordered_set<std::string> duplicates(store_.duplicatedLabels().begin(), store_.duplicatedLabels().end());
    const auto others = duplicates.contains(job_.label) ? JobIndex::otherFiles(store_.jobs(), job_) : std::vector<std::string>{};
    QFuture<std::vector<Issue>> checked = QtConcurrent::run([job = job_, duplicates, others] {
        const Diagnostics::FileFacts facts(job);
        return Diagnostics::issues(job, facts, duplicates, others);
    });
    return checked.then(&lifetime_, [this, generation, id = job_.id()](std::vector<Issue> found) {
        if (generation != generation_ || id != job_.id()) return;
        showIssues(std::move(found));
    });
}

void JobProblemsView::showIssues(std::vector<Issue> issues) {
    const bool focused = hasFocusInside();
    // The tab itself holds the focus while its cards and pages change: a focused widget that goes
    // hands it on to whatever comes next in the window, the search field as likely as not.
    if (focused) setFocus(Qt::OtherFocusReason);
    issues_ = std::move(issues);
    rebuildCards();
    pages_->setCurrentIndex(issues_.empty() ? 0 : 1);
    if (focused) keepFocus();
}

bool JobProblemsView::hasFocusInside() const {
    const QWidget* focus = QApplication::focusWidget();
    return focus && (focus == this || isAncestorOf(focus));
}

void JobProblemsView::keepFocus() {
    if (pages_->currentWidget() == scroll_) scroll_->setFocus(Qt::OtherFocusReason);
    else setFocus(Qt::OtherFocusReason);
}

void JobProblemsView::rebuildCards() {
    for (IssueCard* card : cards_) {
        // A card may be rebuilt from inside its own button's click; let it go once that returns.
        card->hide();
        card->setObjectName(QString());
        card->deleteLater();
    }
    cards_.clear();
    const bool canFix = !router_.isReadOnly(job_);
    for (std::size_t i = 0; i < issues_.size(); ++i) {
        auto* card = new IssueCard(issues_[i], busy_ && identity(i) == *busy_, canFix, [this, i] { fix(i); }, list_);
        stack_->insertWidget(static_cast<int>(i), card);
        cards_.push_back(card);
    }
}

JobProblemsView::BusyCard JobProblemsView::identity(std::size_t position) const {
    const Issue& issue = issues_[position];
    const auto before = std::count(issues_.begin(), issues_.begin() + static_cast<std::ptrdiff_t>(position), issue);
    return {issue, static_cast<std::size_t>(before)};
}

void JobProblemsView::updateBusy() {
    for (std::size_t i = 0; i < cards_.size(); ++i) cards_[i]->setBusy(busy_ && identity(i) == *busy_);
}

void JobProblemsView::fix(std::size_t position) {
    if (position >= issues_.size() || !issues_[position].fix) return;
    const Fix repair = *issues_[position].fix;
    busy_ = identity(position);
    // The card's button is about to be disabled; the focus stays in the tab.
    if (hasFocusInside()) keepFocus();
    updateBusy();
    auto finish = [this] {
        busy_.reset();
        updateBusy();
    };
    QObject* context = &lifetime_;
    router_.apply(repair, job_)
        .then(context,
              [this, context, finish](QFuture<void> applied) {
                  try {
                      applied.waitForFinished();
                  } catch (...) {
                      fixFailed(std::current_exception());
                      return;
                  }
                  FormBits::afterRefresh(onFixed_, context, [this, context, finish] {
                      diagnose().then(context, finish).onCanceled(context, finish);
                  });
              })
        .onCanceled(context, finish);
}

void JobProblemsView::fixFailed(std::exception_ptr error) {
    busy_.reset();
    updateBusy();
    if (isCancelledPrompt(error)) return;
    failure_ = FormBits::errorText(error, QStringLiteral("The repair could not be carried out."));
    QMessageBox* alert = showWriteFailure(this, error, *failure_, false, [this] { reloadAndDiagnose(); });
    connect(alert, &QMessageBox::finished, this, [this] { failure_.reset(); });
}

void JobProblemsView::reloadAndDiagnose() {
    FormBits::afterRefresh(onFixed_, &lifetime_, [this] { diagnose(); });
}

}  // namespace qw
