#include "Quillwick/app/JobRowDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

#include "Quillwick/app/JobBrowsing.h"
#include "Quillwick/app/JobListModel.h"
#include "Quillwick/ui/HealthDot.h"
#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"

namespace qw {
namespace {
constexpr int dotSize = 9;
constexpr int margin = 8;
constexpr int spacing = 10;
constexpr int markerSide = 14;
}  // namespace

QRect JobRowDelegate::dotRect(const QRect& row) {
    return QRect(row.left() + margin, row.top(), dotSize + 3, row.height());
}

QRect JobRowDelegate::markerRect(const QRect& row) {
    return QRect(row.right() - margin - markerSide, row.center().y() - markerSide / 2, markerSide, markerSide);
}

void JobRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    opt.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

    painter->save();
    const QRect row = option.rect;
    const auto health = Job::Health(index.data(JobListModel::HealthRole).toInt());
    HealthDot::paint(*painter, dotRect(row), health, dotSize);

    const bool hasProblem = index.data(JobListModel::HasProblemRole).toBool();
    const int textLeft = dotRect(row).right() + spacing;
    const int textRight = hasProblem ? markerRect(row).left() - 4 : row.right() - margin;
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorRole ink = selected ? QPalette::HighlightedText : QPalette::Text;

    const QFont labelFont = option.font;
    const QFont caption = captionFont();
    const QFontMetrics lm(labelFont), cm(caption);
    const int block = lm.height() + 2 + cm.height();
    int y = row.top() + (row.height() - block) / 2;
    const int width = std::max(0, textRight - textLeft);

    painter->setFont(labelFont);
    painter->setPen(option.palette.color(ink));
    painter->drawText(QRect(textLeft, y, width, lm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      lm.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, width));
    y += lm.height() + 2;
    painter->setFont(caption);
    QColor secondary = option.palette.color(ink);
    secondary.setAlphaF(0.6);
    painter->setPen(secondary);
    painter->drawText(QRect(textLeft, y, width, cm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      cm.elidedText(index.data(JobListModel::StatusLineRole).toString(), Qt::ElideRight, width));
    if (hasProblem)
        symbolIcon("exclamationmark.triangle.fill", orangeColor()).paint(painter, markerRect(row));
    painter->restore();
}

QSize JobRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const int h = QFontMetrics(option.font).height() + 2 + QFontMetrics(captionFont()).height() + 2 * 2 + 8;
    return {200, h};
}

bool JobRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                               const QModelIndex& index) {
    if (event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QString tip;
    if (index.data(JobListModel::HasProblemRole).toBool() && markerRect(option.rect).contains(event->pos()))
        tip = problemMarkerHelp();
    else if (dotRect(option.rect).contains(event->pos()))
        tip = HealthDot::text(Job::Health(index.data(JobListModel::HealthRole).toInt()));
    if (tip.isEmpty()) {
        QToolTip::hideText();
        return true;
    }
    QToolTip::showText(event->globalPos(), tip, view);
    return true;
}

}  // namespace qw
