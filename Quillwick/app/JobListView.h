// JobListView: the content column's list of jobs — one row per job in the given order, single
// selection by Job.id, a context menu per row, and "No Jobs" laid over it when the list is empty.
// It only shows what it is given: filtering and searching happen in the main window.
#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QWidget>

#include "Quillwick/actions/JobAction.h"
#include "Quillwick/launchd/Job.h"

class QListView;

namespace qw {

class EmptyStateView;
class JobListModel;

class JobListView : public QWidget {
    Q_OBJECT
public:
    using Run = std::function<void(JobAction, const Job&)>;
    using IsReadOnly = std::function<bool(const Job&)>;

    JobListView(Run run, IsReadOnly isReadOnly, QWidget* parent = nullptr);

    void setJobs(const std::vector<Job>& jobs);
    void setProblemLabels(const std::set<std::string>& problemLabels);
    // Selects the row of the id, or nothing when it is absent or not listed.
    void setSelection(const std::optional<std::string>& id);
    std::optional<std::string> selection() const { return selection_; }
    // Takes the keyboard focus: on the chosen job's row when it is listed, else on the first row, chosen.
    void focusRows();

    QListView* listView() const { return list_; }
    JobListModel* model() const { return model_; }

signals:
    // The user picked a row (or cleared the selection).
    void selectionChanged(const std::optional<std::string>& id);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showMenu(const QPoint& pos);
    void syncSelection();

    Run run_;
    IsReadOnly isReadOnly_;
    QListView* list_;
    JobListModel* model_;
    EmptyStateView* empty_;
    std::optional<std::string> selection_;
    bool syncing_ = false;
};

}  // namespace qw
