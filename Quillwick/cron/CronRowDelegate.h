// CronRowDelegate: paints one crontab entry — a green dot when active, an orange minus when commented
// out, the command (elided in the middle) and the schedule's caption beneath it.
#pragma once

#include <QStyledItemDelegate>

namespace qw {

class CronRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace qw
