#include "Quillwick/editing/DictionaryEditor.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include "Quillwick/editing/FormBits.h"
#include "Quillwick/editing/model/DecimalInteger.h"
#include "Quillwick/editing/model/DictionaryEntries.h"
#include "Quillwick/editing/model/KeyValues.h"
#include "Quillwick/ui/Style.h"

namespace qw {

namespace {

const QString notAWholeNumber = QStringLiteral("Not a whole number, so this entry is left out when saving.");

}  // namespace

DictionaryEditor::DictionaryEditor(const QString& title, QWidget* parent) : QWidget(parent), title_(title) {
    const FormBits::ListFrame frame = FormBits::listFrame(title, this);
    add_ = frame.add;
    rows_ = frame.rows;
    empty_ = frame.empty;
    connect(add_, &QToolButton::clicked, this, &DictionaryEditor::append);
    rebuild();
}

DictionaryEditor::Entries DictionaryEditor::kept(const Entries& entries) const {
    return wholeNumbers_ ? KeyValues::editorValue(KeyValues::plistValue(entries)) : entries;
}

bool DictionaryEditor::isInvalid(const std::string& key) const {
    auto it = entries_.find(key);
    return wholeNumbers_ && it != entries_.end() && !parsePlistInteger(it->second);
}

void DictionaryEditor::setEntries(const Entries& entries) {
    // The owner's echo of the rows shown: rows it leaves out (a value being typed) stay as they are.
    if (entries == kept(entries_)) return;
    bool sameKeys = entries.size() == entries_.size();
    for (auto a = entries.cbegin(), b = entries_.cbegin(); sameKeys && a != entries.end(); ++a, ++b)
        sameKeys = a->first == b->first;
    entries_ = entries;
    if (!sameKeys) {
        rebuild();
        return;
    }
    for (auto* edit : findChildren<QLineEdit*>(QStringLiteral("valueEdit"))) {
        const QString text = value(edit->property("entryKey").toString());
        if (edit->text() != text) edit->setText(text);
    }
    markInvalidRows();
}

void DictionaryEditor::setEditable(bool editable) {
    editable_ = editable;
    rebuild();
}

void DictionaryEditor::setWholeNumbers(bool wholeNumbers) {
    wholeNumbers_ = wholeNumbers;
    markInvalidRows();
}

void DictionaryEditor::append() {
    const std::string key = DictionaryEntries::nextNewKey(entries_);
    entries_[key] = "";
    changed(QString::fromStdString(key), Field::key);
}

QString DictionaryEditor::value(const QString& key) const {
    auto it = entries_.find(key.toStdString());
    return it == entries_.end() ? QString() : QString::fromStdString(it->second);
}

void DictionaryEditor::setValue(const QString& text, const QString& key) {
    entries_[key.toStdString()] = text.toStdString();
    markInvalidRows();
    emit entriesEdited(entries_);
}

void DictionaryEditor::remove(const QString& key) {
    if (entries_.erase(key.toStdString()) == 0) return;
    changed();
}

bool DictionaryEditor::rename(const QString& from, const QString& to) {
    if (from == to) return true;
    if (auto problem = DictionaryEntries::renameProblem(entries_, from.toStdString(), to.toStdString())) {
        if (QWidget* row = findChild<QWidget*>(QStringLiteral("row:") + from)) {
            auto* said = row->findChild<QLabel*>(QStringLiteral("renameProblem"));
            said->setText(QString::fromStdString(*problem));
            said->show();
        }
        return false;
    }
    entries_ = DictionaryEntries::renamed(entries_, from.toStdString(), to.toStdString());
    changed(to, Field::value);
    return true;
}

QString DictionaryEditor::problem() const {
    for (const QLabel* said : findChildren<QLabel*>(QStringLiteral("renameProblem")))
        if (!said->isHidden()) return said->text();
    return QString();
}

void DictionaryEditor::changed(const QString& focusKey, Field focusField) {
    rebuild(focusKey, focusField);
    emit entriesEdited(entries_);
}

void DictionaryEditor::rebuild(const QString& focusKey, Field focusField) {
    const FormBits::FocusKeeper focus(this);
    FormBits::clearRows(rows_);
    QWidget* focusTarget = nullptr;
    for (const auto& [k, v] : entries_) {
        const QString key = QString::fromStdString(k);
        auto* row = new QWidget(this);
        row->setObjectName(QStringLiteral("row:") + key);
        auto* stack = new QVBoxLayout(row);
        stack->setContentsMargins(0, 0, 0, 0);
        stack->setSpacing(2);
        auto* layout = new QHBoxLayout;
        layout->setSpacing(6);
        stack->addLayout(layout);
        // Why a rename was refused, under the name it left: it stays until that name is typed into again.
        auto* said = FormBits::caption(QString(), orangeColor(), row);
        said->setObjectName(QStringLiteral("renameProblem"));
        said->hide();
        stack->addWidget(said);
        auto* keyEdit = new QLineEdit(key, row);
        keyEdit->setObjectName(QStringLiteral("keyEdit"));
        keyEdit->setFont(monospaceFont());
        keyEdit->setMinimumWidth(120);
        keyEdit->setReadOnly(!editable_);
        // Read out as the eye takes them: a name in this dictionary, and the value that name holds.
        keyEdit->setAccessibleName(QStringLiteral("Key in ") + title_);
        connect(keyEdit, &QLineEdit::textEdited, said, &QWidget::hide);
        connect(keyEdit, &QLineEdit::editingFinished, this, [this, keyEdit, key] {
            if (!keyEdit->isModified()) return;
            keyEdit->setModified(false);
            if (!rename(key, keyEdit->text())) keyEdit->setText(key);
        });
        layout->addWidget(keyEdit);
        auto* valueEdit = new QLineEdit(QString::fromStdString(v), row);
        valueEdit->setObjectName(QStringLiteral("valueEdit"));
        valueEdit->setProperty("entryKey", key);
        valueEdit->setAccessibleName(QStringLiteral("Value of ") + key);
        connect(valueEdit, &QLineEdit::textEdited, this, [this, key](const QString& t) { setValue(t, key); });
        layout->addWidget(valueEdit, 1);
        layout->addWidget(FormBits::warningMark(valueEdit->sizeHint().height() * 2 / 3, row));
        if (editable_) {
            auto* minus = FormBits::iconButton(QStringLiteral("minus.circle"), QStringLiteral("Remove ") + key, row);
            minus->setObjectName(QStringLiteral("removeButton"));
            connect(minus, &QToolButton::clicked, this, [this, key] { remove(key); });
            layout->addWidget(minus);
        }
        rows_->addWidget(row);
        if (key == focusKey && focusField != Field::none) focusTarget = focusField == Field::key ? keyEdit : valueEdit;
    }
    add_->setVisible(editable_);
    empty_->setVisible(entries_.empty());
    markInvalidRows();
    focus.restore(focusTarget);
    if (focusField == Field::key && focusTarget) static_cast<QLineEdit*>(focusTarget)->selectAll();  // typing names it
}

void DictionaryEditor::markInvalidRows() {
    for (auto* mark : findChildren<QLabel*>(QStringLiteral("invalidMark"))) {
        const QString row = mark->parentWidget()->objectName();
        if (row.startsWith(QLatin1String("row:")))
            FormBits::setWarning(mark, isInvalid(row.mid(4).toStdString()) ? notAWholeNumber : QString());
    }
}

}  // namespace qw
