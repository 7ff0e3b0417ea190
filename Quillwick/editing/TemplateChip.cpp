#include "Quillwick/editing/TemplateChip.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "Quillwick/editing/FormBits.h"
#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"

namespace qw {

TemplateChip::TemplateChip(const JobTemplate& jobTemplate, QWidget* parent) : QAbstractButton(parent), template_(jobTemplate) {
    setObjectName(QStringLiteral("chip:") + QString::fromStdString(jobTemplate.id()));
    setCheckable(true);
    setAccessibleName(QString::fromStdString(jobTemplate.name()));
    setMinimumWidth(210 + 20);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(10, 10, 10, 10);
    stack->setSpacing(6);
    auto* title = new QHBoxLayout;
    title->setSpacing(6);
    auto* icon = new QLabel(this);
    icon->setPixmap(symbolIcon(QString::fromStdString(jobTemplate.symbol())).pixmap(16, 16));
    title->addWidget(icon);
    auto* name = new QLabel(QString::fromStdString(jobTemplate.name()), this);
    QFont medium = name->font();
    medium.setWeight(QFont::Medium);
    name->setFont(medium);
    title->addWidget(name);
    if (hasLock()) {
        auto* lock = new QLabel(this);
        lock->setObjectName(QStringLiteral("lock"));
        lock->setPixmap(symbolIcon(QStringLiteral("lock.fill"), secondaryColor()).pixmap(11, 11));
        title->addWidget(lock);
    }
    title->addStretch(1);
    stack->addLayout(title);
    auto* summary = FormBits::caption(QString::fromStdString(jobTemplate.summary()), secondaryColor(), this);
    summary->setObjectName(QStringLiteral("summary"));
    summary->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // At least the room of two lines, so the chips line up, and more when the text needs it.
    summary->setMinimumHeight(summary->fontMetrics().lineSpacing() * 2);
    stack->addWidget(summary);
    stack->addStretch(1);
    for (QLabel* label : findChildren<QLabel*>()) label->setAttribute(Qt::WA_TransparentForMouseEvents);
}

QSize TemplateChip::sizeHint() const { return QSize(230, heightForWidth(230)); }

void TemplateChip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    QColor fill = isChecked() ? palette().color(QPalette::Highlight) : palette().color(QPalette::WindowText);
    fill.setAlphaF(isChecked() ? 0.18 : 0.08);
    painter.setBrush(fill);
    painter.setPen(isChecked() ? QPen(palette().color(QPalette::Highlight), 1.5) : QPen(Qt::transparent));
    painter.drawRoundedRect(box, 8, 8);
}

}  // namespace qw
