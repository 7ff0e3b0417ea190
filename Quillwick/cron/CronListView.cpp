#include "Quillwick/cron/CronListView.h"

#include <QListView>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "Quillwick/cron/CronListModel.h"
#include "Quillwick/cron/CronRowDelegate.h"
#include "Quillwick/cron/CrontabStore.h"
#include "Quillwick/ui/EmptyStateView.h"

namespace qw {

namespace {

std::optional<CronJob> jobAt(const CrontabStore& store, std::optional<qint64> line) {
    if (!line) return std::nullopt;
    for (const CronJob& job : store.crontab().jobs())
        if (job.line == *line) return job;
    return std::nullopt;
}

bool sameEntry(const CronJob& a, const CronJob& b) { return a.schedule == b.schedule && a.command == b.command; }

// Qt tells assistive technology a row is showing, and where, from the row's place in its list alone:
// the rows of this list, hidden while the job list is shown, would be read out from under it.
class RowList : public QListView {
public:
    using QListView::QListView;
    QRect visualRect(const QModelIndex& index) const override {
        return isVisible() ? QListView::visualRect(index) : QRect();
    }
};

}  // namespace

CronListView::CronListView(CrontabStore* store, std::optional<qint64> selection, QWidget* parent)
    : QWidget(parent), store_(store), model_(new CronListModel(store, this)), stack_(new QStackedWidget(this)),
      access_(new EmptyStateView(accessTitle(), QStringLiteral("lock.shield"), accessDescription(), this)),
      empty_(new EmptyStateView(QStringLiteral("No Cron Jobs"), QStringLiteral("calendar.badge.clock"),
                                QStringLiteral("You have no crontab. On macOS cron still works, but Apple's answer for "
                                               "anything scheduled is launchd — and unlike cron it catches up after "
                                               "the Mac has been asleep."),
                                this)),
      list_(new RowList(this)) {
    setObjectName("cronList");
    access_->setObjectName("cronAccessPlaceholder");
    empty_->setObjectName("cronEmptyPlaceholder");
    auto* open = new QPushButton(QStringLiteral("Open Full Disk Access…"), access_);
    open->setObjectName("openFullDiskAccessButton");
    auto* retry = new QPushButton(QStringLiteral("Try Again"), access_);
    retry->setObjectName("retryButton");
    access_->actionsLayout()->addWidget(open);
    access_->actionsLayout()->addWidget(retry);
    connect(open, &QPushButton::clicked, this, [] { CrontabStore::openFullDiskAccessSettings(); });
    connect(retry, &QPushButton::clicked, this, &CronListView::retry);

    list_->setObjectName("cronRows");
    list_->setModel(model_);
    list_->setItemDelegate(new CronRowDelegate(list_));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setUniformItemSizes(true);
    list_->setAccessibleName(QStringLiteral("Cron Jobs"));
    connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &CronListView::userSelected);

    stack_->addWidget(access_);
    stack_->addWidget(empty_);
    stack_->addWidget(list_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(stack_);

    connect(store_, &CrontabStore::needsFullDiskAccessChanged, this, &CronListView::updateContent);
    connect(store_, &CrontabStore::isEmptyChanged, this, &CronListView::updateContent);
    connect(store_, &CrontabStore::crontabChanged, this, &CronListView::crontabChanged);
    updateContent();
    setSelection(selection);
}

QString CronListView::accessTitle() { return QStringLiteral("Full Disk Access Needed"); }

QString CronListView::accessDescription() {
    return QStringLiteral("macOS will not let Quillwick read or change your crontab without it. crontab is setuid root "
                          "and still refused — this is a privacy control, not a permissions problem you can fix in "
                          "the shell.");
}

void CronListView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    store_->reload();
}

void CronListView::retry() { store_->reload(); }

void CronListView::updateContent() {
    if (store_->needsFullDiskAccess())
        stack_->setCurrentWidget(access_);
    else if (store_->isEmpty())
        stack_->setCurrentWidget(empty_);
    else
        stack_->setCurrentWidget(list_);
}

void CronListView::setSelection(std::optional<qint64> line) {
    selection_ = line;
    selectedJob_ = jobAt(*store_, line);
    showSelection();
}

void CronListView::showSelection() {
    applying_ = true;
    const int row = selection_ ? model_->rowOf(*selection_) : -1;
    if (row >= 0)
        list_->setCurrentIndex(model_->index(row));
    else
        list_->selectionModel()->clear();
    applying_ = false;
}

void CronListView::userSelected() {
    if (applying_) return;
    const QModelIndex current = list_->currentIndex();
    const std::optional<qint64> line =
        current.isValid() ? std::optional<qint64>(model_->job(current.row()).line) : std::nullopt;
    if (line == selection_) return;
    selection_ = line;
    selectedJob_ = jobAt(*store_, line);
    emit selectionChanged(selection_);
}

void CronListView::crontabChanged() {
    // Rows going away move the list's current row; that is no choice of the user's.
    applying_ = true;
    model_->update();
    applying_ = false;
    if (selection_) {
        const auto now = jobAt(*store_, selection_);
        if (!selectedJob_ || (now && sameEntry(*selectedJob_, *now))) {
            selectedJob_ = now;
        } else {
            // The entry that was selected is gone from its line; the window's choice was made for it.
            selection_.reset();
            selectedJob_.reset();
            showSelection();
            emit selectionChanged(std::nullopt);
            return;
        }
    }
    showSelection();
}

}  // namespace qw
