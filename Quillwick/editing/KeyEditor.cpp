#include "Quillwick/editing/KeyEditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QToolButton>
#include <QVBoxLayout>

#include "Quillwick/editing/CalendarIntervalEditor.h"
#include "Quillwick/editing/DictionaryEditor.h"
#include "Quillwick/editing/FormBits.h"
#include "Quillwick/editing/KeepAliveEditor.h"
#include "Quillwick/editing/PathField.h"
#include "Quillwick/editing/StringListEditor.h"
#include "Quillwick/ui/Style.h"

namespace qw {

namespace {

using Control = KeyValues::Control;

QString qs(const std::string& s) { return QString::fromStdString(s); }

QStringList toQt(const std::vector<std::string>& values) {
    QStringList list;
    for (const auto& v : values) list.append(qs(v));
    return list;
}

std::vector<std::string> fromQt(const QStringList& values) {
    std::vector<std::string> list;
    for (const auto& v : values) list.push_back(v.toStdString());
    return list;
}

// A row with the key's name as its label and the control beside it.
QWidget* labelled(const QString& name, QWidget* control, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(name, row);
    label->setTextFormat(Qt::PlainText);
    label->setMinimumWidth(150);
    layout->addWidget(label);
    control->setParent(row);
    layout->addWidget(control, 1);
    FormBits::nameFields(control, name);
    // Qt on Linux names a picker by its value: the key reaches a screen reader as its label.
    label->setBuddy(control);
    return row;
}

// The integer field's reading: the user's locale, grouping included, from −2^63 to 2^64−1 as job files hold.
std::optional<PlistValue> readInteger(const QString& text) {
    bool ok = false;
    const qlonglong number = QLocale().toLongLong(text, &ok);
    if (ok) return PlistValue(std::int64_t(number));
    const qulonglong big = QLocale().toULongLong(text, &ok);
    return ok ? std::optional<PlistValue>(PlistValue(std::uint64_t(big))) : std::nullopt;
}

QString integerText(const PlistValue& number) {
    if (auto value = number.intValue()) return QLocale().toString(qlonglong(*value));
    return QLocale().toString(qulonglong(number.unsignedValue().value_or(0)));
}

}  // namespace

KeyEditor::KeyEditor(const LaunchdSchema::Key& key, Binding<JobDefinition> definition, bool isEditable, QWidget* parent)
    : QWidget(parent), key_(key), definition_(std::move(definition)), isEditable_(isEditable) {
    setObjectName(QStringLiteral("key:") + qs(key.name));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 2, 0, 2);
    stack->setSpacing(6);
    controlSlot_ = new QVBoxLayout;
    controlSlot_->setContentsMargins(0, 0, 0, 0);
    stack->addLayout(controlSlot_);

    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    auto* summary = FormBits::caption(qs(key.summary), secondaryColor(), this);
    header->addWidget(summary, 1);
    if (key.isDeprecated) header->addWidget(FormBits::badge(QStringLiteral("deprecated"), orangeColor(), this), 0, Qt::AlignTop);
    if (key.isPrivate) header->addWidget(FormBits::badge(QStringLiteral("undocumented"), secondaryColor(), this), 0, Qt::AlignTop);
    if (key.detail) {
        more_ = new QToolButton(this);
        more_->setObjectName(QStringLiteral("moreButton"));
        more_->setAutoRaise(true);
        more_->setFont(captionFont());
        FormBits::setTextColor(more_, palette().color(QPalette::Link));
        QPalette p = more_->palette();
        p.setColor(QPalette::ButtonText, palette().color(QPalette::Link));
        more_->setPalette(p);
        const auto title = [this] {
            const QString word = showsDetail_ ? QStringLiteral("Less") : QStringLiteral("More");
            more_->setText(word);
            // A form holds many: each is read out with the key it explains.
            more_->setAccessibleName(word + QStringLiteral(" about ") + qs(key_.name));
        };
        title();
        connect(more_, &QToolButton::clicked, this, [this, title] {
            showsDetail_ = !showsDetail_;
            title();
            detail_->setVisible(showsDetail_);
        });
        header->addWidget(more_, 0, Qt::AlignTop);
    }
    if (isEditable && key.name != "Label") {
        auto* minus = FormBits::iconButton(QStringLiteral("minus.circle"), QStringLiteral("Remove ") + qs(key.name), this);
        minus->setObjectName(QStringLiteral("removeKeyButton"));
        connect(minus, &QToolButton::clicked, this, &KeyEditor::remove);
        header->addWidget(minus, 0, Qt::AlignTop);
    }
    stack->addLayout(header);
    if (key.detail) {
        detail_ = new QLabel(qs(*key.detail), this);
        detail_->setObjectName(QStringLiteral("detail"));
        detail_->setTextFormat(Qt::PlainText);
        detail_->setWordWrap(true);
        detail_->setContentsMargins(0, 2, 0, 0);
        FormBits::setTextColor(detail_, secondaryColor());
        detail_->hide();
        stack->addWidget(detail_);
    }
    if (key.isDeprecated && key.deprecationNote) {
        auto* note = FormBits::caption(qs(*key.deprecationNote), orangeColor(), this);
        note->setObjectName(QStringLiteral("deprecationNote"));
        stack->addWidget(note);
    }
    kind_ = KeyValues::controlFor(key_, definition_.get());
    buildControl();
}

template <typename F>
void KeyEditor::write(F&& change) {
    JobDefinition d = definition_.get();
    change(d);
    definition_.set(std::move(d));
}

std::optional<PlistValue> KeyEditor::storedValue() const {
    const PlistValue* value = definition_.get().find(key_.name);
    return value ? std::optional<PlistValue>(*value) : std::nullopt;
}

void KeyEditor::remove() {
    write([this](JobDefinition& d) { d.set(key_.name, std::nullopt); });
}

void KeyEditor::refresh() {
    const Control kind = KeyValues::controlFor(key_, definition_.get());
    if (kind != kind_) {
        kind_ = kind;
        buildControl();
    } else {
        pushValue();
    }
}

void KeyEditor::buildControl() {
    const FormBits::FocusKeeper focus(this);
    typingFrom_.reset();
    if (control_) {
        control_->hide();
        control_->setObjectName(QString());
        control_->deleteLater();
    }
    const QString name = qs(key_.name);
    const auto& key = key_;
    QWidget* control = nullptr;
    switch (kind_) {
    case Control::text: {
        auto* edit = new QLineEdit;
        edit->setObjectName(QStringLiteral("textEdit"));
        connect(edit, &QLineEdit::textEdited, this,
                [this](const QString& t) { write([&](JobDefinition& d) { KeyValues::setText(d, key_, t.toStdString()); }); });
        control = labelled(name, edit, this);
        break;
    }
    case Control::picker: {
        auto* box = new QComboBox;
        box->setObjectName(QStringLiteral("picker"));
        connect(box, &QComboBox::activated, this, [this, box](int index) {
            const std::string chosen = box->itemData(index).toString().toStdString();
            write([&](JobDefinition& d) { KeyValues::setText(d, key_, chosen); });
        });
        control = labelled(name, box, this);
        break;
    }
    case Control::path: {
        auto* field = new PathField(KeyValues::wantsDirectory(key));
        field->setEditable(isEditable_);
        connect(field, &PathField::pathEdited, this,
                [this](const QString& t) { write([&](JobDefinition& d) { KeyValues::setText(d, key_, t.toStdString()); }); });
        control = labelled(name, field, this);
        break;
    }
    case Control::integer: {
        auto* edit = new QLineEdit;
        edit->setObjectName(QStringLiteral("integerEdit"));
        edit->setMaximumWidth(120);
        // Every number launchd takes counts at once, so Save sees what is typed without Return or Tab;
        // any other text leaves the key with what it held before the typing began.
        connect(edit, &QLineEdit::textEdited, this, [this](const QString& text) {
            if (!typingFrom_) typingFrom_ = storedValue();
            const auto number = readInteger(text);
            const bool taken = number && !KeyValues::integerProblem(key_, *number);
            const std::optional<PlistValue> wanted = taken ? number : *typingFrom_;
            if (storedValue() != wanted) write([&](JobDefinition& d) { d.set(key_.name, wanted); });
            showIntegerProblem();
        });
        // Text not taken stays, marked, for the user to mend; a number taken is shown in the locale's form.
        connect(edit, &QLineEdit::editingFinished, this, [this, edit] {
            if (typingFrom_ && integerProblem(edit->text())) return;
            typingFrom_.reset();
            edit->setText(integerText(KeyValues::integer(definition_.get(), key_)));
            showIntegerProblem();
        });
        control = labelled(name, FormBits::numberRow(edit, nullptr), this);
        break;
    }
    case Control::toggle: {
        auto* box = new QCheckBox(name, this);
        box->setObjectName(QStringLiteral("toggle"));
        connect(box, &QCheckBox::clicked, this,
                [this](bool on) { write([&](JobDefinition& d) { KeyValues::setBoolean(d, key_, on); }); });
        control = box;
        break;
    }
    case Control::list: {
        auto* list = new StringListEditor(name, KeyValues::listHoldsPaths(key), KeyValues::wantsDirectory(key), this);
        list->setEditable(isEditable_);
        connect(list, &StringListEditor::valuesEdited, this,
                [this](const QStringList& v) { write([&](JobDefinition& d) { KeyValues::setList(d, key_, fromQt(v)); }); });
        control = list;
        break;
    }
    case Control::textDictionary:
    case Control::integerDictionary: {
        auto* dictionary = new DictionaryEditor(name, this);
        dictionary->setEditable(isEditable_);
        const bool integers = kind_ == Control::integerDictionary;
        dictionary->setWholeNumbers(integers);
        connect(dictionary, &DictionaryEditor::entriesEdited, this, [this, integers](const DictionaryEditor::Entries& e) {
            write([&](JobDefinition& d) {
                if (integers) KeyValues::setIntegerDictionary(d, key_, e);
                else KeyValues::setTextDictionary(d, key_, e);
            });
        });
        control = dictionary;
        break;
    }
    case Control::calendar: {
        auto* calendar = new CalendarIntervalEditor(this);
        calendar->setEditable(isEditable_);
        connect(calendar, &CalendarIntervalEditor::intervalsEdited, this,
                [this](const std::vector<CalendarInterval>& v) { write([&](JobDefinition& d) { d.setStartCalendarInterval(v); }); });
        control = calendar;
        break;
    }
    case Control::keepAlive: {
        auto* keepAlive = new KeepAliveEditor(this);
        keepAlive->setEditable(isEditable_);
        connect(keepAlive, &KeepAliveEditor::keepAliveEdited, this,
                [this](const KeepAlive& v) { write([&](JobDefinition& d) { KeyValues::setKeepAlive(d, v); }); });
        control = keepAlive;
        break;
    }
    case Control::readOnly: {
        auto* text = new QLabel;
        text->setObjectName(QStringLiteral("readOnlyText"));
        text->setTextFormat(Qt::PlainText);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        FormBits::setTextColor(text, secondaryColor());
        control = labelled(name, text, this);
        break;
    }
    }
    control_ = control;
    control_->setEnabled(isEditable_);
    controlSlot_->addWidget(control_);
    pushValue();
    focus.restore();
}

void KeyEditor::pushValue() {
    const JobDefinition d = definition_.get();
    switch (kind_) {
    case Control::text:
    case Control::path: {
        const QString text = qs(KeyValues::text(d, key_));
        if (auto* field = control_->findChild<PathField*>()) field->setPath(text);
        else if (auto* edit = control_->findChild<QLineEdit*>(QStringLiteral("textEdit")); edit && edit->text() != text)
            edit->setText(text);
        break;
    }
    case Control::picker: {
        auto* box = control_->findChild<QComboBox*>();
        const QString current = qs(KeyValues::text(d, key_));
        box->clear();
        for (const std::string& allowed : *key_.allowedValues) box->addItem(qs(allowed), qs(allowed));
        // A value the catalogue does not offer stays visible rather than silently replaced.
        if (box->findData(current) < 0) box->addItem(current, current);
        box->setCurrentIndex(box->findData(current));
        break;
    }
    case Control::integer: {
        // Text that already reads as the stored number is left as typed (no grouping forced mid-number).
        auto* edit = control_->findChild<QLineEdit*>(QStringLiteral("integerEdit"));
        const PlistValue stored = KeyValues::integer(d, key_);
        if (!isHeldBack() && readInteger(edit->text()) != stored) {
            typingFrom_.reset();  // changed from elsewhere (a revert, the file): the typing is over
            edit->setText(integerText(stored));
        }
        showIntegerProblem();
        break;
    }
    case Control::toggle:
        static_cast<QCheckBox*>(control_)->setChecked(KeyValues::boolean(d, key_));
        break;
    case Control::list:
        static_cast<StringListEditor*>(control_)->setValues(toQt(KeyValues::list(d, key_)));
        break;
    case Control::textDictionary:
        static_cast<DictionaryEditor*>(control_)->setEntries(KeyValues::textDictionary(d, key_));
        break;
    case Control::integerDictionary:
        static_cast<DictionaryEditor*>(control_)->setEntries(KeyValues::integerDictionary(d, key_));
        break;
    case Control::calendar:
        static_cast<CalendarIntervalEditor*>(control_)->setIntervals(d.startCalendarInterval());
        break;
    case Control::keepAlive:
        static_cast<KeepAliveEditor*>(control_)->setKeepAlive(KeyValues::keepAlive(d));
        break;
    case Control::readOnly:
        control_->findChild<QLabel*>(QStringLiteral("readOnlyText"))->setText(qs(KeyValues::readOnlyText(d, key_)));
        break;
    }
}

std::optional<QString> KeyEditor::integerProblem(const QString& text) const {
    const auto number = readInteger(text);
    if (!number) return QStringLiteral("Not a whole number a job file can hold");
    if (auto problem = KeyValues::integerProblem(key_, *number)) return qs(*problem);
    return std::nullopt;
}

bool KeyEditor::isHeldBack() const {
    const auto* edit = control_->findChild<QLineEdit*>(QStringLiteral("integerEdit"));
    return typingFrom_ && storedValue() == *typingFrom_ && integerProblem(edit->text());
}

void KeyEditor::showIntegerProblem() {
    const auto* edit = control_->findChild<QLineEdit*>(QStringLiteral("integerEdit"));
    const auto problem = integerProblem(edit->text());
    QString text;
    if (problem)
        text = isHeldBack() ? *problem + QStringLiteral(", so ") + qs(key_.name) + QStringLiteral(" stays as it was.")
                            : *problem + FormBits::ignoredValue;
    FormBits::showNumberProblem(edit->parentWidget(), text);
}

}  // namespace qw
