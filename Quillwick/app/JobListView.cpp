#include "Quillwick/app/JobListView.h"

#include <QItemSelectionModel>
#include <QListView>
#include <QMenu>
#include <QVBoxLayout>

#include "Quillwick/actions/JobActionsMenu.h"
#include "Quillwick/app/JobListModel.h"
#include "Quillwick/app/JobRowDelegate.h"
#include "Quillwick/ui/EmptyStateView.h"

namespace qw {

JobListView::JobListView(Run run, IsReadOnly isReadOnly, QWidget* parent)
    : QWidget(parent), run_(std::move(run)), isReadOnly_(std::move(isReadOnly)), list_(new QListView(this)),
      model_(new JobListModel(this)),
      empty_(new EmptyStateView("No Jobs", "tray", "Nothing here matches.", this)) {
    setObjectName("jobList");
    list_->setObjectName("jobListView");
    // Heard on entering it, as the crontab's list is.
    list_->setAccessibleName(QStringLiteral("Jobs"));
    list_->setModel(model_);
    list_->setItemDelegate(new JobRowDelegate(list_));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setUniformItemSizes(true);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->setFrameShape(QFrame::NoFrame);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
    empty_->setObjectName("jobListEmpty");
    empty_->setAttribute(Qt::WA_TransparentForMouseEvents);
    empty_->setVisible(true);

    connect(list_, &QListView::customContextMenuRequested, this, &JobListView::showMenu);
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (syncing_)
            return;
        const QModelIndexList rows = list_->selectionModel()->selectedRows();
        // A selection the model dropped (its row went away) keeps the window's selection.
        if (rows.isEmpty())
            return;
        const std::string id = rows.front().data(JobListModel::IdRole).toString().toStdString();
        if (selection_ == id)
            return;
        selection_ = id;
        emit selectionChanged(selection_);
    });
}

void JobListView::setJobs(const std::vector<Job>& jobs) {
    syncing_ = true;
    model_->setJobs(jobs);
    syncing_ = false;
    empty_->setVisible(jobs.empty());
    syncSelection();
}

void JobListView::setProblemLabels(const std::set<std::string>& problemLabels) {
    model_->setProblemLabels(problemLabels);
}

void JobListView::setSelection(const std::optional<std::string>& id) {
    selection_ = id;
    syncSelection();
}

void JobListView::syncSelection() {
    syncing_ = true;
    const int row = selection_ ? model_->rowOf(*selection_) : -1;
    if (row < 0) {
        list_->selectionModel()->clearSelection();
    } else {
        const QModelIndex index = model_->index(row);
        list_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    }
    syncing_ = false;
}

void JobListView::focusRows() {
    list_->setFocus(Qt::OtherFocusReason);
    if (model_->rowCount() == 0)
        return;
    if (const int row = selection_ ? model_->rowOf(*selection_) : -1; row >= 0)
        list_->scrollTo(model_->index(row));
    else
        list_->setCurrentIndex(model_->index(0));
}

void JobListView::showMenu(const QPoint& pos) {
    const QModelIndex index = list_->indexAt(pos);
    if (!index.isValid())
        return;
    const Job job = model_->jobs()[index.row()];
    QMenu* menu = makeJobActionsMenu(job, isReadOnly_ ? isReadOnly_(job) : false,
                                     [run = run_, job](JobAction action) { run(action, job); }, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(list_->viewport()->mapToGlobal(pos));
}

void JobListView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    empty_->setGeometry(rect());
}

}  // namespace qw
