#include "Quillwick/app/JobListModel.h"

#include <unordered_map>
#include <unordered_set>

#include "Quillwick/app/JobBrowsing.h"
#include "Quillwick/ui/HealthDot.h"

namespace qw {

void JobListModel::setJobs(const std::vector<Job>& jobs) {
    std::unordered_map<std::string, std::size_t> wanted;
    for (std::size_t i = 0; i < jobs.size(); ++i)
        wanted.emplace(jobs[i].id(), i);

    // Drop the rows whose job is gone, from the bottom so the rows above keep their numbers.
    // Neighbouring rows go together.
    for (int last = int(jobs_.size()) - 1; last >= 0; --last) {
        if (wanted.count(jobs_[last].id()))
            continue;
        int first = last;
        while (first > 0 && !wanted.count(jobs_[first - 1].id()))
            --first;
        beginRemoveRows({}, first, last);
        jobs_.erase(jobs_.begin() + first, jobs_.begin() + last + 1);
        endRemoveRows();
        last = first;
    }
    // Walk the new order: update rows in place, move or insert where they differ. Jobs not listed yet
    // go in a run at a time: one by one, a first scan of thousands costs a view update per row.
    std::unordered_set<std::string> listed;
    for (const Job& job : jobs_)
        listed.insert(job.id());
    for (std::size_t i = 0; i < jobs.size();) {
        const std::string id = jobs[i].id();
        if (i < jobs_.size() && jobs_[i].id() == id) {
            if (!(jobs_[i] == jobs[i])) {
                jobs_[i] = jobs[i];
                emit dataChanged(index(int(i)), index(int(i)));
            }
            ++i;
            continue;
        }
        if (!listed.count(id)) {
            std::size_t end = i + 1;
            while (end < jobs.size() && !listed.count(jobs[end].id()))
                ++end;
            beginInsertRows({}, int(i), int(end) - 1);
            jobs_.insert(jobs_.begin() + std::ptrdiff_t(i), jobs.begin() + std::ptrdiff_t(i),
                         jobs.begin() + std::ptrdiff_t(end));
            endInsertRows();
            i = end;
            continue;
        }
        const int from = rowOf(id);
        beginMoveRows({}, from, from, {}, int(i));
        Job moved = jobs_[from];
        jobs_.erase(jobs_.begin() + from);
        jobs_.insert(jobs_.begin() + i, moved);
        endMoveRows();
        if (!(jobs_[i] == jobs[i])) {
            jobs_[i] = jobs[i];
            emit dataChanged(index(int(i)), index(int(i)));
        }
        ++i;
    }
}

void JobListModel::setProblemLabels(const std::set<std::string>& problemLabels) {
    if (problemLabels == problemLabels_)
        return;
    problemLabels_ = problemLabels;
    if (!jobs_.empty())
        emit dataChanged(index(0), index(int(jobs_.size()) - 1), {HasProblemRole, Qt::AccessibleTextRole});
}

int JobListModel::rowOf(const std::string& id) const {
    for (std::size_t i = 0; i < jobs_.size(); ++i)
        if (jobs_[i].id() == id)
            return int(i);
    return -1;
}

int JobListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(jobs_.size());
}

QVariant JobListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(jobs_.size()))
        return {};
    const Job& job = jobs_[index.row()];
    switch (role) {
    case Qt::DisplayRole: return QString::fromStdString(job.label);
    case Qt::AccessibleTextRole: return rowAccessibleText(job, problemLabels_.count(job.id()) > 0);
    case IdRole: return QString::fromStdString(job.id());
    case StatusLineRole: return statusLine(job);
    case HealthRole: return int(job.health());
    case HasProblemRole: return problemLabels_.count(job.id()) > 0;
    default: return {};
    }
}

}  // namespace qw
