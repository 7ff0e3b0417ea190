#include "Quillwick/app/SidebarView.h"

#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>

#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"

namespace qw {
namespace {

// Draws the count as a rounded badge at the row's right edge.
class BadgeDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const int count = index.data(SidebarView::CountRole).toInt();
        QStyleOptionViewItem opt(option);
        if (count > 0)
            opt.rect.setRight(opt.rect.right() - 36);
        QStyledItemDelegate::paint(painter, opt, index);
        if (count <= 0)
            return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QString text = QString::number(count);
        QFont f = captionFont();
        painter->setFont(f);
        const QFontMetrics fm(f);
        const int w = std::max(fm.horizontalAdvance(text) + 12, 22);
        const int h = fm.height() + 2;
        const QRect badge(option.rect.right() - w - 6, option.rect.center().y() - h / 2, w, h);
        QColor fill = option.palette.color(QPalette::WindowText);
        fill.setAlphaF(0.12);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawRoundedRect(badge, h / 2.0, h / 2.0);
        painter->setPen(option.palette.color(QPalette::WindowText));
        painter->drawText(badge, Qt::AlignCenter, text);
        painter->restore();
    }
};

QString q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

SidebarView::SidebarView(QWidget* parent) : QTreeWidget(parent) {
    setObjectName("sidebar");
    setAccessibleName(QStringLiteral("Filters"));
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setIndentation(0);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new BadgeDelegate(this));
    setFrameShape(QFrame::NoFrame);
    setIconSize(QSize(16, 16));

    using K = JobFilter::Kind;
    const std::vector<std::pair<QString, std::vector<JobFilter>>> sections{
        {"", {K::installed, K::all}},
        {"Status", {K::running, K::failed, K::notLoaded, K::disabled, K::problems}},
        {"Location", JobFilter::locations()},
        {"Trigger", {K::scheduled, K::watching, K::onDemand}},
        {"Other Schedulers", {K::cron}},
    };
    for (const auto& [header, rows] : sections) {
        if (!header.isEmpty()) {
            auto* heading = new QTreeWidgetItem(this, QStringList{header});
            // Neither clicks nor arrow keys stop on a header: a disabled row is skipped by both.
            heading->setFlags(Qt::NoItemFlags);
            QFont bold = captionFont();
            bold.setBold(true);
            heading->setFont(0, bold);
            heading->setForeground(0, secondaryColor());
        }
        for (const JobFilter& f : rows) {
            auto* item = new QTreeWidgetItem(this, QStringList{q(f.title())});
            item->setIcon(0, symbolIcon(q(f.systemImage())));
            item->setToolTip(0, q(f.help()).toHtmlEscaped());
            item->setData(0, FilterIndexRole, int(filters_.size()));
            item->setData(0, Qt::AccessibleDescriptionRole, q(f.help()));
            filters_.push_back(f);
            items_.push_back(item);
        }
    }
    connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) { choose(current); });
    // Assistive technology's toggle action clears the selection and adds its row to it, leaving the
    // current row alone; it chooses as a click does.
    connect(this, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (syncing_)
            return;
        const QList<QTreeWidgetItem*> selected = selectedItems();
        for (QTreeWidgetItem* item : selected)
            if (item != itemFor(filter_))
                return choose(item);
        if (selected.isEmpty())
            setFilter(filter_);  // nothing sets the filter to none
    });
    setFilter(filter_);
}

void SidebarView::choose(QTreeWidgetItem* item) {
    if (syncing_ || !item || !item->data(0, FilterIndexRole).isValid())
        return;
    const JobFilter f = filters_[item->data(0, FilterIndexRole).toInt()];
    if (f == filter_)
        return;
    setFilter(f);
    emit filterChanged(f);
}

QTreeWidgetItem* SidebarView::itemFor(const JobFilter& filter) const {
    for (std::size_t i = 0; i < filters_.size(); ++i)
        if (filters_[i] == filter)
            return items_[i];
    return nullptr;
}

void SidebarView::setFilter(const JobFilter& filter) {
    QTreeWidgetItem* item = itemFor(filter);
    if (!item)
        return;
    filter_ = filter;
    syncing_ = true;
    setCurrentItem(item);
    syncing_ = false;
}

void SidebarView::setCounts(const std::unordered_map<JobFilter, int>& counts, int problemCount, int cronCount) {
    for (std::size_t i = 0; i < filters_.size(); ++i) {
        int count = 0;
        if (filters_[i].kind() == JobFilter::Kind::problems)
            count = problemCount;
        else if (filters_[i].kind() == JobFilter::Kind::cron)
            count = cronCount;
        else if (auto it = counts.find(filters_[i]); it != counts.end())
            count = it->second;
        if (items_[i]->data(0, CountRole).toInt() != count || !items_[i]->data(0, CountRole).isValid()) {
            items_[i]->setData(0, CountRole, count);
            // The badge is painted, so a screen reader hears its number with the title; none is drawn for 0.
            const QString title = q(filters_[i].title());
            items_[i]->setData(0, Qt::AccessibleTextRole, count > 0 ? title + ", " + QString::number(count) : title);
        }
    }
}

}  // namespace qw
