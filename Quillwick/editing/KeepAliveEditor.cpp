#include "Quillwick/editing/KeepAliveEditor.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include "Quillwick/editing/FormBits.h"
#include "Quillwick/editing/model/KeepAliveChoice.h"
#include "Quillwick/ui/Style.h"

namespace qw {

using namespace KeepAliveChoice;

KeepAliveEditor::KeepAliveEditor(QWidget* parent) : QWidget(parent), modes_(new QButtonGroup(this)) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(8);
    auto* pickerRow = new QHBoxLayout;
    pickerRow->setSpacing(0);
    auto* title = new QLabel(QStringLiteral("KeepAlive"), this);
    pickerRow->addWidget(title);
    pickerRow->addSpacing(12);
    // One control to label, so that each segment is heard with the key it sets.
    auto* segments = new QWidget(this);
    segments->setObjectName(QStringLiteral("modePicker"));
    auto* segmentRow = new QHBoxLayout(segments);
    segmentRow->setContentsMargins(0, 0, 0, 0);
    segmentRow->setSpacing(0);
    title->setBuddy(segments);
    pickerRow->addWidget(segments);
    for (Mode mode : allModes) {
        auto* button = new QToolButton(segments);
        button->setText(QString::fromUtf8(text(mode).data(), qsizetype(text(mode).size())));
        button->setCheckable(true);
        button->setObjectName(QStringLiteral("mode%1").arg(int(mode)));
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        modes_->addButton(button, int(mode));
        segmentRow->addWidget(button);
    }
    pickerRow->addStretch(1);
    stack->addLayout(pickerRow);
    connect(modes_, &QButtonGroup::idClicked, this, &KeepAliveEditor::chooseMode);

    conditions_ = new QWidget(this);
    auto* list = new QVBoxLayout(conditions_);
    list->setContentsMargins(4, 0, 0, 0);
    list->setSpacing(4);
    for (Condition condition : allConditions) {
        auto* box = new QCheckBox(QString::fromUtf8(text(condition).data(), qsizetype(text(condition).size())), conditions_);
        box->setObjectName(QStringLiteral("condition%1").arg(int(condition)));
        connect(box, &QCheckBox::clicked, this, [this, condition](bool on) { tick(int(condition), on); });
        list->addWidget(box);
        boxes_.append(box);
    }
    note_ = FormBits::caption(
        QStringLiteral("PathState and OtherJobEnabled conditions are set on this job. Edit them in the Source tab."),
        secondaryColor(), conditions_);
    list->addWidget(note_);
    stack->addWidget(conditions_);
    summary_ = FormBits::caption(QString(), secondaryColor(), this);
    summary_->setObjectName(QStringLiteral("summary"));
    stack->addWidget(summary_);
    update();
}

void KeepAliveEditor::setKeepAlive(const KeepAlive& value) {
    if (value == value_) return;
    value_ = value;
    update();
}

void KeepAliveEditor::setEditable(bool editable) { setEnabled(editable); }

void KeepAliveEditor::chooseMode(int id) {
    // Choosing the mode shown again keeps its conditions.
    if (Mode(id) == mode(value_)) return;
    value_ = valueFor(Mode(id));
    update();
    emit keepAliveEdited(value_);
}

void KeepAliveEditor::tick(int condition, bool on) {
    value_ = setting(value_, Condition(condition), on);
    update();
    emit keepAliveEdited(value_);
}

void KeepAliveEditor::update() {
    const Mode shown = mode(value_);
    modes_->button(int(shown))->setChecked(true);
    conditions_->setVisible(shown == Mode::conditional);
    for (Condition condition : allConditions) boxes_[int(condition)]->setChecked(isTicked(value_, condition));
    note_->setVisible(hasUneditableConditions(value_));
    summary_->setText(QStringLiteral("This job ") + QString::fromStdString(value_.summary()) + QStringLiteral("."));
}

}  // namespace qw
