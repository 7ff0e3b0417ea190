#include "Quillwick/cron/CronIssueRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"

namespace qw {

CronIssueRow::CronIssueRow(const Issue& issue, QWidget* parent) : QFrame(parent), issue_(issue) {
    setObjectName("cronIssue");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(10);
    auto* symbol = new QLabel(this);
    symbol->setObjectName("issueSymbol");
    symbol->setPixmap(symbolIcon(severitySymbolName(issue.severity), severityColor(issue.severity)).pixmap(18, 18));
    symbol->setAccessibleName(severityName(issue.severity));
    row->addWidget(symbol, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto* title = new QLabel(QString::fromStdString(issue.title), this);
    title->setObjectName("issueTitle");
    title->setTextFormat(Qt::PlainText);
    title->setFont(headlineFont());
    title->setWordWrap(true);
    auto* explanation = new QLabel(QString::fromStdString(issue.explanation), this);
    explanation->setObjectName("issueExplanation");
    explanation->setTextFormat(Qt::PlainText);
    explanation->setWordWrap(true);
    QPalette palette = explanation->palette();
    palette.setColor(QPalette::WindowText, secondaryColor());
    explanation->setPalette(palette);
    texts->addWidget(title);
    texts->addWidget(explanation);
    row->addLayout(texts, 1);
}

void CronIssueRow::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.06);  // a quaternary fill at 35 %
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    painter.fillPath(path, fill);
    QFrame::paintEvent(event);
}

}  // namespace qw
