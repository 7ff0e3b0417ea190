#include "Quillwick/cron/CronRowDelegate.h"

#include <QApplication>
#include <QPainter>

#include "Quillwick/cron/CronListModel.h"
#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"

namespace qw {

namespace {
constexpr int kSymbol = 11;
constexpr int kSpacing = 10;
constexpr int kPadding = 2;
constexpr int kMargin = 6;
}  // namespace

void CronRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const bool disabled = index.data(CronListModel::DisabledRole).toBool();
    const QRect area = option.rect.adjusted(kMargin, kPadding, -kMargin, -kPadding);
    const QFont body = option.font;
    const QFont caption = captionFont();
    const int textHeight = QFontMetrics(body).height() + 2 + QFontMetrics(caption).height();
    const int top = area.top() + (area.height() - textHeight) / 2;

    // A line cron refuses never runs: it gets its finding's marker, not the healthy dot.
    const QIcon symbol = disabled ? symbolIcon("minus.circle", orangeColor())
                         : index.data(CronListModel::RefusedRole).toBool()
                             ? symbolIcon(severitySymbolName(Issue::Severity::error), severityColor(Issue::Severity::error))
                             : symbolIcon("circle.fill", greenColor());
    const QRect symbolRect(area.left(), area.top() + (area.height() - kSymbol) / 2, kSymbol, kSymbol);
    symbol.paint(painter, symbolRect);

    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    const QColor ink = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    QColor secondary = ink;
    secondary.setAlphaF(0.6);
    const int left = symbolRect.right() + 1 + kSpacing;
    const int width = std::max(0, area.right() - left);

    painter->save();
    painter->setFont(body);
    painter->setPen(ink);
    const QFontMetrics bodyMetrics(body);
    const QString command = bodyMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, width);
    painter->drawText(QRect(left, top, width, bodyMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      command);
    painter->setFont(caption);
    painter->setPen(secondary);
    const QFontMetrics captionMetrics(caption);
    const QString text =
        captionMetrics.elidedText(index.data(CronListModel::DescriptionRole).toString(), Qt::ElideRight, width);
    painter->drawText(QRect(left, top + bodyMetrics.height() + 2, width, captionMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter->restore();
}

QSize CronRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const int height = QFontMetrics(option.font).height() + 2 + QFontMetrics(captionFont()).height() + 2 * kPadding + 8;
    return {200, height};
}

}  // namespace qw
