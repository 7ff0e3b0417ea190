// SidebarView: the job filters in their five sections, each row with its symbol, title, help and a
// count badge (a zero is not drawn). Its single selection is the window's filter; nothing sets it to
// none.
#pragma once

#include <unordered_map>
#include <vector>

#include <QTreeWidget>

#include "Quillwick/store/JobFilter.h"

namespace qw {

class SidebarView : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr int CountRole = Qt::UserRole + 1;
    static constexpr int FilterIndexRole = Qt::UserRole + 2;

    explicit SidebarView(QWidget* parent = nullptr);

    void setFilter(const JobFilter& filter);
    JobFilter filter() const { return filter_; }
    void setCounts(const std::unordered_map<JobFilter, int>& counts, int problemCount, int cronCount);

    // The row of a filter, for tests.
    QTreeWidgetItem* itemFor(const JobFilter& filter) const;

signals:
    void filterChanged(const qw::JobFilter& filter);

private:
    void choose(QTreeWidgetItem* item);

    std::vector<JobFilter> filters_;
    std::vector<QTreeWidgetItem*> items_;
    JobFilter filter_ = JobFilter::Kind::installed;
    bool syncing_ = false;
};

}  // namespace qw
