// JobListModel: the job list's rows, one per job in the given order, identified by Job.id. A new list
// updates only the rows that changed, so selection and scroll position survive a rescan.
#pragma once

#include <set>
#include <string>
#include <vector>

#include <QAbstractListModel>

#include "Quillwick/launchd/Job.h"

namespace qw {

class JobListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { IdRole = Qt::UserRole + 1, StatusLineRole, HealthRole, HasProblemRole };

    using QAbstractListModel::QAbstractListModel;

    void setJobs(const std::vector<Job>& jobs);
    void setProblemLabels(const std::set<std::string>& problemLabels);

    const std::vector<Job>& jobs() const { return jobs_; }
    // The row of a job id, or -1.
    int rowOf(const std::string& id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<Job> jobs_;
    std::set<std::string> problemLabels_;
};

}  // namespace qw
