#include "Quillwick/ui/FlowLayout.h"

#include <algorithm>

#include <QWidget>

namespace qw {
namespace {

bool isStretch(QLayoutItem* item) {
    const QSpacerItem* spacer = item->spacerItem();
    return spacer && (spacer->expandingDirections() & Qt::Horizontal);
}

QSize itemSize(QLayoutItem* item) {
    return item->sizeHint().expandedTo(item->minimumSize()).boundedTo(item->maximumSize());
}

struct Entry {
    QLayoutItem* item;
    int before;  // room in front of it on its line
    int width;
    bool stretch;
};

struct Line {
    QList<Entry> entries;
    int width = 0;
    int height = 0;
    bool hasItems = false;
};

}  // namespace

FlowLayout::FlowLayout(QWidget* parent) : QLayout(parent) {}

FlowLayout::~FlowLayout() {
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

void FlowLayout::addStretch() { addItem(new QSpacerItem(0, 0, QSizePolicy::Expanding, QSizePolicy::Minimum)); }

void FlowLayout::addSpacing(int size) { addItem(new QSpacerItem(size, 0, QSizePolicy::Fixed, QSizePolicy::Minimum)); }

void FlowLayout::setLineSpacing(int spacing) {
    lineSpacing_ = spacing;
    invalidate();
}

void FlowLayout::addItem(QLayoutItem* item) {
    items_.append(item);
    invalidate();
}

int FlowLayout::count() const { return int(items_.size()); }

QLayoutItem* FlowLayout::itemAt(int index) const { return index >= 0 && index < items_.size() ? items_[index] : nullptr; }

QLayoutItem* FlowLayout::takeAt(int index) {
    if (index < 0 || index >= items_.size())
        return nullptr;
    QLayoutItem* item = items_.takeAt(index);
    invalidate();
    return item;
}

Qt::Orientations FlowLayout::expandingDirections() const { return {}; }

bool FlowLayout::hasHeightForWidth() const { return true; }

int FlowLayout::heightForWidth(int width) const { return arrange(QRect(0, 0, width, 0), false); }

QSize FlowLayout::minimumSize() const {
    QSize size;
    for (QLayoutItem* item : items_)
        if (!item->isEmpty())
            size = size.expandedTo(itemSize(item));
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize FlowLayout::sizeHint() const {
    // Everything on one line.
    const int height = arrange(QRect(0, 0, QWIDGETSIZE_MAX, 0), false);
    int width = 0;
    bool first = true;
    int pending = 0;
    for (QLayoutItem* item : items_) {
        if (item->spacerItem()) {
            pending += isStretch(item) ? 0 : item->sizeHint().width();
        } else if (!item->isEmpty()) {
            width += first ? 0 : std::max(0, spacing()) + pending;
            width += itemSize(item).width();
            first = false;
            pending = 0;
        }
    }
    const QMargins m = contentsMargins();
    return {width + m.left() + m.right(), height};
}

void FlowLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int FlowLayout::arrange(const QRect& rect, bool apply) const {
    const QRect area = rect.marginsRemoved(contentsMargins());
    const int gap = std::max(0, spacing());
    // What the items from `from` up to the next stretch take side by side.
    auto runWidth = [&](qsizetype from) {
        int width = 0;
        bool first = true;
        for (qsizetype i = from; i < items_.size() && !isStretch(items_[i]); ++i) {
            if (items_[i]->spacerItem()) {
                width += items_[i]->sizeHint().width();
            } else if (!items_[i]->isEmpty()) {
                width += (first ? 0 : gap) + itemSize(items_[i]).width();
                first = false;
            }
        }
        return width;
    };

    QList<Line> lines(1);
    int pending = 0;
    bool afterStretch = false;
    for (qsizetype i = 0; i < items_.size(); ++i) {
        QLayoutItem* item = items_[i];
        Line* line = &lines.back();
        if (isStretch(item)) {
            if (line->hasItems)
                line->entries.append({item, 0, 0, true});
            afterStretch = true;
            continue;
        }
        if (item->spacerItem()) {
            // A gap at the start of a line would only indent it.
            if (line->hasItems)
                pending += item->sizeHint().width();
            continue;
        }
        if (item->isEmpty())
            continue;
        const int width = itemSize(item).width();
        const int needed = afterStretch ? runWidth(i) : width;
        afterStretch = false;
        int before = line->hasItems ? gap + pending : 0;
        pending = 0;
        if (line->hasItems && line->width + before + needed > area.width()) {
            lines.append(Line{});
            line = &lines.back();
            before = 0;
        }
        const int height = item->hasHeightForWidth() ? item->heightForWidth(width) : itemSize(item).height();
        line->entries.append({item, before, width, false});
        line->width += before + width;
        line->height = std::max(line->height, height);
        line->hasItems = true;
    }

    int y = area.top();
    bool firstLine = true;
    for (const Line& line : lines) {
        if (!line.hasItems)
            continue;
        if (!firstLine)
            y += lineSpacing_;
        firstLine = false;
        if (apply) {
            int spare = std::max(0, area.width() - line.width);
            int x = area.left();
            for (const Entry& entry : line.entries) {
                x += entry.before;
                if (entry.stretch) {
                    x += spare;
                    spare = 0;
                    continue;
                }
                const int height = entry.item->hasHeightForWidth() ? entry.item->heightForWidth(entry.width)
                                                                   : itemSize(entry.item).height();
                entry.item->setGeometry(QRect(x, y + (line.height - height) / 2, entry.width, height));
                x += entry.width;
            }
        }
        y += line.height;
    }
    const QMargins m = contentsMargins();
    return y - area.top() + m.top() + m.bottom();
}

}  // namespace qw
