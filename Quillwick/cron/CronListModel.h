// CronListModel: the crontab's entries in file order, commented-out ones included, one row each.
// Its owner calls update() when the store's crontab changed; rows follow by row-level inserts,
// removals and data changes.
#pragma once

#include <QAbstractListModel>

#include <optional>
#include <vector>

#include "Quillwick/cron/CronJob.h"

namespace qw {

class CrontabStore;

class CronListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        LineRole = Qt::UserRole + 1,
        DescriptionRole,
        DisabledRole,
        RefusedRole,  // cron refuses the schedule: the row carries the error marker
    };

    explicit CronListModel(CrontabStore* store, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const CronJob& job(int row) const { return jobs_[static_cast<std::size_t>(row)]; }
    // The row of the entry with this line, or -1.
    int rowOf(std::int64_t line) const;

    // The caption under a row's command: the schedule in English, or for a commented-out entry
    // "Commented out — " and the sentence lower-cased.
    static QString caption(const CronJob& job);

    void update();

private:
    CrontabStore* store_;
    std::vector<CronJob> jobs_;
};

}  // namespace qw
