#include "Quillwick/editing/StringListEditor.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include "Quillwick/editing/FormBits.h"
#include "Quillwick/editing/PathField.h"
#include "Quillwick/ui/Style.h"

namespace qw {

StringListEditor::StringListEditor(const QString& title, bool isPath, bool wantsDirectory, QWidget* parent)
    : QWidget(parent), title_(title), isPath_(isPath), wantsDirectory_(wantsDirectory) {
    const FormBits::ListFrame frame = FormBits::listFrame(title, this);
    add_ = frame.add;
    rows_ = frame.rows;
    empty_ = frame.empty;
    connect(add_, &QToolButton::clicked, this, &StringListEditor::append);
    rebuild();
}

bool StringListEditor::rowIsPath(int index) const {
    return isPath_ && (index == 0 || !title_.contains(QStringLiteral("Arguments")));
}

void StringListEditor::setValues(const QStringList& values) {
    const bool sameCount = values.size() == values_.size();
    values_ = values;
    if (sameCount) update();
    else rebuild();
}

void StringListEditor::setEditable(bool editable) {
    editable_ = editable;
    rebuild();
}

void StringListEditor::append() {
    values_.append(QString());
    rebuild(int(values_.size()) - 1);
    emit valuesEdited(values_);
}

void StringListEditor::remove(int index) {
    if (index < 0 || index >= values_.size()) return;
    values_.removeAt(index);
    rebuild();
    emit valuesEdited(values_);
}

QString StringListEditor::element(int index) const {
    return index >= 0 && index < values_.size() ? values_[index] : QString();
}

void StringListEditor::setElement(const QString& text, int index) {
    if (index < 0 || index >= values_.size()) return;
    values_[index] = text;
    emit valuesEdited(values_);
}

void StringListEditor::rebuild(int focusRow) {
    const FormBits::FocusKeeper focus(this);
    FormBits::clearRows(rows_);
    fields_.clear();
    for (int i = 0; i < values_.size(); ++i) {
        auto* row = new QWidget(this);
        row->setObjectName(QStringLiteral("row%1").arg(i));
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(6);
        auto* number = FormBits::caption(QString::number(i), secondaryColor(), row);
        number->setWordWrap(false);
        number->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        number->setFixedWidth(18);
        layout->addWidget(number);
        // Read out as shown: the list's title and the row's number.
        const QString name = title_ + QLatin1Char(' ') + QString::number(i);
        if (rowIsPath(i)) {
            auto* field = new PathField(wantsDirectory_, row);
            field->setPath(values_[i]);
            field->setEditable(editable_);
            connect(field, &PathField::pathEdited, this, [this, i](const QString& t) { setElement(t, i); });
            for (auto* edit : field->findChildren<QLineEdit*>()) edit->setAccessibleName(name);
            layout->addWidget(field, 1);
            fields_.append(field);
        } else {
            auto* field = new QLineEdit(values_[i], row);
            field->setAccessibleName(name);
            connect(field, &QLineEdit::textEdited, this, [this, i](const QString& t) { setElement(t, i); });
            layout->addWidget(field, 1);
            fields_.append(field);
        }
        if (editable_) {
            auto* minus = FormBits::iconButton(QStringLiteral("minus.circle"), QStringLiteral("Remove ") + name, row);
            minus->setObjectName(QStringLiteral("removeButton"));
            connect(minus, &QToolButton::clicked, this, [this, i] { remove(i); });
            layout->addWidget(minus);
        }
        rows_->addWidget(row);
    }
    add_->setVisible(editable_);
    empty_->setVisible(values_.isEmpty());
    focus.restore(focusRow >= 0 && focusRow < fields_.size() ? FormBits::firstFocusable(fields_[focusRow]) : nullptr);
}

void StringListEditor::update() {
    for (int i = 0; i < fields_.size(); ++i) {
        if (auto* path = qobject_cast<PathField*>(fields_[i])) path->setPath(values_[i]);
        else if (auto* line = qobject_cast<QLineEdit*>(fields_[i]); line && line->text() != values_[i]) line->setText(values_[i]);
    }
}

}  // namespace qw
