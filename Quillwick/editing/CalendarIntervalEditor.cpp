#include "Quillwick/editing/CalendarIntervalEditor.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include "Quillwick/editing/FormBits.h"
#include "Quillwick/editing/model/CalendarFields.h"
#include "Quillwick/ui/Style.h"

namespace qw {

CalendarIntervalEditor::CalendarIntervalEditor(QWidget* parent) : QWidget(parent) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(8);
    auto* heading = new QHBoxLayout;
    heading->addWidget(new QLabel(QStringLiteral("StartCalendarInterval"), this));
    heading->addStretch(1);
    add_ = FormBits::iconButton(QStringLiteral("plus.circle"), QStringLiteral("Add to StartCalendarInterval"), this);
    add_->setObjectName(QStringLiteral("addButton"));
    heading->addWidget(add_);
    stack->addLayout(heading);
    rows_ = new QVBoxLayout;
    rows_->setSpacing(8);
    stack->addLayout(rows_);
    connect(add_, &QToolButton::clicked, this, &CalendarIntervalEditor::append);
    rebuild();
}

void CalendarIntervalEditor::setIntervals(const std::vector<CalendarInterval>& intervals) {
    const bool sameCount = intervals.size() == intervals_.size();
    intervals_ = intervals;
    if (sameCount) update();
    else rebuild();
}

void CalendarIntervalEditor::setEditable(bool editable) {
    editable_ = editable;
    setEnabled(editable);
    rebuild();
}

void CalendarIntervalEditor::append() {
    intervals_.push_back(CalendarFields::newInterval());
    rebuild(int(intervals_.size()) - 1);
    emit intervalsEdited(intervals_);
}

void CalendarIntervalEditor::remove(int index) {
    if (index < 0 || index >= int(intervals_.size())) return;
    intervals_.erase(intervals_.begin() + index);
    rebuild();
    emit intervalsEdited(intervals_);
}

void CalendarIntervalEditor::setText(const QString& text, int row, int field) {
    if (row < 0 || row >= int(intervals_.size()) || field < 0 || field >= int(CalendarFields::all.size())) return;
    const auto& f = CalendarFields::all[field];
    auto& slot = intervals_[row].*(f.member);
    slot = CalendarFields::valueFromText(text.toStdString(), f, slot);
    update();
    emit intervalsEdited(intervals_);
}

void CalendarIntervalEditor::typed(QLineEdit* edit, const QString& text, int row, int field) {
    if (row < 0 || row >= int(intervals_.size())) return;
    auto& slot = intervals_[row].*(CalendarFields::all[field].member);
    if (typing_ != edit) {
        typing_ = edit;
        typingFrom_ = slot;
    }
    // A readable value within the field's bounds counts at once; anything else waits for the end of typing.
    const auto value = CalendarFields::valueFromText(text.toStdString(), CalendarFields::all[field], std::nullopt);
    if ((text.isEmpty() || value) && value != slot) {
        slot = value;
        update();
        emit intervalsEdited(intervals_);
    }
}

void CalendarIntervalEditor::finished(QLineEdit* edit, int row, int field) {
    if (typing_ != edit) return;
    typing_ = nullptr;
    if (row < 0 || row >= int(intervals_.size())) return;
    // Refused text leaves the value the field had before the typing began.
    auto& slot = intervals_[row].*(CalendarFields::all[field].member);
    const auto value = CalendarFields::valueFromText(edit->text().toStdString(), CalendarFields::all[field], typingFrom_);
    const bool changed = value != slot;
    slot = value;
    edit->setText(QString::fromStdString(CalendarFields::text(slot)));
    update();
    if (changed) emit intervalsEdited(intervals_);
}

void CalendarIntervalEditor::rebuild(int focusRow) {
    const FormBits::FocusKeeper focus(this);
    FormBits::clearRows(rows_);
    for (int i = 0; i < int(intervals_.size()); ++i) {
        auto* block = new QWidget(this);
        block->setObjectName(QStringLiteral("interval%1").arg(i));
        auto* blockLayout = new QVBoxLayout(block);
        blockLayout->setContentsMargins(0, 0, 0, 0);
        blockLayout->setSpacing(4);
        auto* fields = new QHBoxLayout;
        fields->setSpacing(8);
        for (int f = 0; f < int(CalendarFields::all.size()); ++f) {
            auto* column = new QVBoxLayout;
            column->setSpacing(2);
            const auto& field = CalendarFields::all[f];
            column->addWidget(FormBits::caption(QString::fromUtf8(field.title.data(), qsizetype(field.title.size())),
                                                secondaryColor(), block));
            auto* edit = new QLineEdit(block);
            edit->setObjectName(QString::fromUtf8(field.title.data(), qsizetype(field.title.size())));
            edit->setPlaceholderText(QStringLiteral("any"));
            edit->setAccessibleName(edit->objectName());
            edit->setFixedWidth(58);
            connect(edit, &QLineEdit::textEdited, this, [this, edit, i, f](const QString& text) { typed(edit, text, i, f); });
            connect(edit, &QLineEdit::editingFinished, this, [this, edit, i, f] { finished(edit, i, f); });
            column->addWidget(edit);
            fields->addLayout(column);
        }
        if (editable_) {
            auto* minus = FormBits::iconButton(QStringLiteral("minus.circle"), QStringLiteral("Remove"), block);
            minus->setObjectName(QStringLiteral("removeButton"));
            connect(minus, &QToolButton::clicked, this, [this, i] { remove(i); });
            fields->addWidget(minus, 0, Qt::AlignBottom);
        }
        fields->addStretch(1);
        blockLayout->addLayout(fields);
        auto* summary = FormBits::caption(QString(), secondaryColor(), block);
        summary->setObjectName(QStringLiteral("summary"));
        blockLayout->addWidget(summary);
        rows_->addWidget(block);
    }
    add_->setVisible(editable_);
    update();
    auto* focusBlock = focusRow >= 0 ? findChild<QWidget*>(QStringLiteral("interval%1").arg(focusRow), Qt::FindDirectChildrenOnly) : nullptr;
    focus.restore(focusBlock ? FormBits::firstFocusable(focusBlock) : nullptr);
}

void CalendarIntervalEditor::update() {
    for (int i = 0; i < int(intervals_.size()); ++i) {
        auto* block = findChild<QWidget*>(QStringLiteral("interval%1").arg(i), Qt::FindDirectChildrenOnly);
        if (!block) continue;
        for (const auto& field : CalendarFields::all) {
            auto* edit = block->findChild<QLineEdit*>(QString::fromUtf8(field.title.data(), qsizetype(field.title.size())));
            const auto value = intervals_[i].*(field.member);
            const QString text = QString::fromStdString(CalendarFields::text(value));
            // The field being typed into keeps its text while that text reads as its value ("05" for 5).
            if (edit == typing_ && CalendarFields::valueFromText(edit->text().toStdString(), field, std::nullopt) == value)
                continue;
            if (edit && edit->text() != text) edit->setText(text);
        }
        block->findChild<QLabel*>(QStringLiteral("summary"))->setText(QString::fromStdString(intervals_[i].summary()));
    }
}

}  // namespace qw
