#include "Quillwick/detail/LogLines.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStackedLayout>

#include "Quillwick/ui/EmptyStateView.h"
#include "Quillwick/ui/Style.h"

namespace qw {
namespace {

bool isBlank(QChar c) { return c == u'\t' || c.category() == QChar::Separator_Space; }

QString trimmedOfBlanks(const QString& text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return text.mid(begin, end - begin);
}

}  // namespace

LogLines::LogLines(QWidget* parent)
    : QWidget(parent), stack_(new QStackedLayout(this)), text_(new QPlainTextEdit(this)),
      placeholder_(new EmptyStateView({}, {}, {}, this)) {
    text_->setObjectName("logLinesText");
    text_->setReadOnly(true);
    text_->setAccessibleName(QStringLiteral("Log"));
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text_->setFrameShape(QFrame::NoFrame);
    text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text_->setUndoRedoEnabled(false);
    QFont font = monospaceFont();
    if (const QFont caption = captionFont(); caption.pointSizeF() > 0) font.setPointSizeF(caption.pointSizeF());
    text_->setFont(font);
    text_->document()->setDocumentMargin(10);
    placeholder_->setObjectName("logLinesPlaceholder");
    stack_->addWidget(text_);
    stack_->addWidget(placeholder_);
}

QStringList LogLines::filteredLines(const QStringList& lines, const QString& filter) {
    const QString needle = trimmedOfBlanks(filter);
    if (needle.isEmpty()) return lines;
    QStringList kept;
    for (const QString& line : lines)
        if (line.contains(needle, Qt::CaseInsensitive)) kept.append(line);
    return kept;
}

void LogLines::reset() {
    fresh_ = true;
    shown_.clear();
    text_->clear();
}

void LogLines::setContent(const QStringList& lines, const QString& filter, const QString& empty) {
    QStringList filtered = filteredLines(lines, filter);
    if (filtered.isEmpty()) {
        if (filter.isEmpty())
            placeholder_->setContent(tr("Nothing Yet"), "text.alignleft", empty);
        else
            placeholder_->setContent(tr("No Matches"), "text.alignleft",
                                     tr("No lines contain “%1”.").arg(filter));
        stack_->setCurrentWidget(placeholder_);
        reset();
        return;
    }
    stack_->setCurrentWidget(text_);
    if (filtered == shown_ && !fresh_) return;

    QScrollBar* bar = text_->verticalScrollBar();
    const bool countChanged = filtered.size() != shown_.size();
    const int position = bar->value();
    const bool grows = !fresh_ && filtered.size() > shown_.size() &&
                       std::equal(shown_.begin(), shown_.end(), filtered.begin());
    if (grows) {
        // Appending keeps the user's selection; the usual case while a job is writing.
        text_->appendPlainText(QStringList(filtered.begin() + shown_.size(), filtered.end()).join(u'\n'));
    } else {
        text_->setPlainText(filtered.join(u'\n'));
    }
    if (fresh_)
        bar->setValue(bar->minimum());
    else if (countChanged)
        bar->setValue(bar->maximum());
    else
        bar->setValue(position);
    shown_ = std::move(filtered);
    fresh_ = false;
}

}  // namespace qw
