#include "Quillwick/ui/EmptyStateView.h"

#include <QLabel>
#include <QVBoxLayout>

#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"

namespace qw {

EmptyStateView::EmptyStateView(const QString& title, const QString& symbol, const QString& description,
                               QWidget* parent)
    : QWidget(parent), icon_(new QLabel(this)), title_(new QLabel(this)), description_(new QLabel(this)),
      actions_(new QVBoxLayout) {
    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    for (QLabel* label : {icon_, title_, description_}) {
        label->setAlignment(Qt::AlignHCenter);
        label->setTextFormat(Qt::PlainText);
        layout->addWidget(label);
    }
    icon_->setObjectName("emptyStateSymbol");
    title_->setObjectName("emptyStateTitle");
    description_->setObjectName("emptyStateDescription");
    QFont big = title_->font();
    big.setBold(true);
    if (big.pointSizeF() > 0)
        big.setPointSizeF(big.pointSizeF() * 1.4);
    title_->setFont(big);
    description_->setWordWrap(true);
    QPalette pal = description_->palette();
    pal.setColor(QPalette::WindowText, secondaryColor());
    description_->setPalette(pal);
    actions_->setAlignment(Qt::AlignHCenter);
    layout->addLayout(actions_);
    layout->addStretch(1);
    setContent(title, symbol, description);
}

void EmptyStateView::setContent(const QString& title, const QString& symbol, const QString& description) {
    symbol_ = symbol;
    icon_->setPixmap(symbolIcon(symbol, secondaryColor()).pixmap(48, 48));
    title_->setText(title);
    description_->setText(description);
    description_->setVisible(!description.isEmpty());
    setAccessibleName(title);
}

QString EmptyStateView::title() const { return title_->text(); }
QString EmptyStateView::description() const { return description_->text(); }

}  // namespace qw
