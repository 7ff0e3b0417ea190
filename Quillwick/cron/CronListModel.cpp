#include "Quillwick/cron/CronListModel.h"

#include <algorithm>

#include "Quillwick/cron/CrontabStore.h"
#include "Quillwick/ui/Style.h"

namespace qw {

CronListModel::CronListModel(CrontabStore* store, QObject* parent)
    : QAbstractListModel(parent), store_(store), jobs_(store->crontab().jobs()) {}

int CronListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(jobs_.size());
}

QString CronListModel::caption(const CronJob& job) {
    const QString sentence = QString::fromStdString(job.description());
    return job.isDisabled ? QStringLiteral("Commented out — ") + sentence.toLower() : sentence;
}

QVariant CronListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const CronJob& job = jobs_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole: return QString::fromUtf8(job.command);
    // Both lines, as a sighted user reads them.
    case Qt::AccessibleTextRole: {
        QString text = QString::fromUtf8(job.command) + QStringLiteral(", ") + caption(job);
        if (const auto reason = job.refusal())
            text += QStringLiteral(", ") + severityName(Issue::Severity::error) + QStringLiteral(": ") +
                    QString::fromStdString(*reason);
        return text;
    }
    case Qt::ToolTipRole: return QString::fromUtf8(job.lineText()).toHtmlEscaped();
    case DescriptionRole: return caption(job);
    case DisabledRole: return job.isDisabled;
    case RefusedRole: return job.refusal().has_value();
    case LineRole: return QVariant::fromValue<qint64>(job.line);
    default: return {};
    }
}

int CronListModel::rowOf(std::int64_t line) const {
    const auto found = std::find_if(jobs_.begin(), jobs_.end(), [line](const CronJob& j) { return j.line == line; });
    return found == jobs_.end() ? -1 : static_cast<int>(found - jobs_.begin());
}

void CronListModel::update() {
    const std::vector<CronJob> next = store_->crontab().jobs();
    // Both lists are in ascending line order: drop the lines that went, add the ones that came, then
    // refresh the rest, so the view keeps its scroll position.
    for (int row = rowCount() - 1; row >= 0; --row) {
        const auto line = jobs_[static_cast<std::size_t>(row)].line;
        if (std::none_of(next.begin(), next.end(), [line](const CronJob& j) { return j.line == line; })) {
            beginRemoveRows({}, row, row);
            jobs_.erase(jobs_.begin() + row);
            endRemoveRows();
        }
    }
    for (std::size_t i = 0; i < next.size(); ++i) {
        if (i < jobs_.size() && jobs_[i].line == next[i].line) continue;
        beginInsertRows({}, static_cast<int>(i), static_cast<int>(i));
        jobs_.insert(jobs_.begin() + static_cast<std::ptrdiff_t>(i), next[i]);
        endInsertRows();
    }
    jobs_ = next;
    if (!jobs_.empty()) emit dataChanged(index(0), index(rowCount() - 1));
}

}  // namespace qw
