// JobRowDelegate: paints one job row — the health dot, the label shortened in the middle over the
// status line, and the orange problem marker — and gives the dot and the marker their tooltips.
#pragma once

#include <QStyledItemDelegate>

namespace qw {

class JobRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // Where the parts of a row lie.
    static QRect dotRect(const QRect& row);
    static QRect markerRect(const QRect& row);
};

}  // namespace qw
