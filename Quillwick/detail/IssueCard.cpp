#include "Quillwick/detail/IssueCard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "Quillwick/ui/BusyIndicator.h"
#include "Quillwick/ui/Markup.h"
#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"

namespace qw {

namespace {

QLabel* plainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

}  // namespace

IssueCard::IssueCard(Issue issue, bool isBusy, bool canFix, std::function<void()> onFix, QWidget* parent)
    : QFrame(parent), issue_(std::move(issue)) {
    setObjectName(QStringLiteral("issueCard"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(12);

    // Title-3 size: a little larger than the headline beside it.
    const int symbolSize = QFontMetrics(headlineFont()).height() * 5 / 4;
    auto* symbol = new QLabel(this);
    symbol->setObjectName(QStringLiteral("severitySymbol"));
    symbol->setPixmap(symbolIcon(severitySymbolName(issue_.severity), severityColor(issue_.severity))
                          .pixmap(symbolSize, symbolSize));
    symbol->setAccessibleName(severityName(issue_.severity));
    symbol->setFixedWidth(22);
    symbol->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    row->addWidget(symbol, 0, Qt::AlignTop);

    auto* text = new QVBoxLayout;
    text->setSpacing(6);
    auto* title = plainLabel(QString::fromStdString(issue_.title), this);
    title->setObjectName(QStringLiteral("issueTitle"));
    title->setFont(headlineFont());
    text->addWidget(title);
    auto* explanation = plainLabel(QString::fromStdString(issue_.explanation), this);
    explanation->setObjectName(QStringLiteral("issueExplanation"));
    QPalette secondary = explanation->palette();
    secondary.setColor(QPalette::WindowText, secondaryColor());
    explanation->setPalette(secondary);
    text->addWidget(explanation);
    if (issue_.fix && canFix) {
        text->addSpacing(2);
        fixButton_ = new QPushButton(escapeMnemonics(QString::fromStdString(issue_.fix->title())), this);
        fixButton_->setObjectName(QStringLiteral("fixButton"));
        fixButton_->setFont(captionFont());
        fixButton_->setAttribute(Qt::WA_MacSmallSize);
        fixButton_->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
        connect(fixButton_, &QPushButton::clicked, this, [onFix = std::move(onFix)] {
            if (onFix) onFix();
        });
        text->addWidget(fixButton_, 0, Qt::AlignLeft);
    }
    row->addLayout(text, 1);

    progress_ = smallBusyIndicator(this);
    progress_->setObjectName(QStringLiteral("fixProgress"));
    row->addWidget(progress_, 0, Qt::AlignTop);
    setBusy(isBusy);
}

void IssueCard::setBusy(bool busy) {
    busy_ = busy;
    if (fixButton_) fixButton_->setEnabled(!busy);
    progress_->setVisible(busy);
}

void IssueCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.18 * 0.35);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    painter.fillPath(shape, fill);
}

}  // namespace qw
