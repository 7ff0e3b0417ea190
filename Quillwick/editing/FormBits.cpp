#include "Quillwick/editing/FormBits.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>

#include "Quillwick/ui/BusyIndicator.h"
#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"

namespace qw::FormBits {

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

QLabel* caption(const QString& text, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(captionFont());
    setTextColor(label, color);
    return label;
}

QToolButton* iconButton(const QString& symbol, const QString& name, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setIcon(symbolIcon(symbol));
    button->setAutoRaise(true);
    button->setToolTip(name.toHtmlEscaped());
    button->setAccessibleName(name);
    button->setCursor(Qt::ArrowCursor);
    return button;
}

QLabel* badge(const QString& word, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(word, parent);
    label->setTextFormat(Qt::PlainText);
    QFont font = captionFont();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("QLabel { color: %1; background: rgba(128,128,128,0.18); border-radius: 7px;"
                                        " padding: 1px 5px; }")
                             .arg(color.name(QColor::HexArgb)));
    label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return label;
}

ListFrame listFrame(const QString& title, QWidget* owner) {
    auto* stack = new QVBoxLayout(owner);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(4);
    auto* heading = new QHBoxLayout;
    auto* titleLabel = new QLabel(title, owner);
    titleLabel->setTextFormat(Qt::PlainText);
    heading->addWidget(titleLabel);
    heading->addStretch(1);
    // A form holds many lists: each "Add" says which it adds to.
    auto* add = iconButton(QStringLiteral("plus.circle"), QStringLiteral("Add to ") + title, owner);
    add->setObjectName(QStringLiteral("addButton"));
    heading->addWidget(add);
    stack->addLayout(heading);
    auto* rows = new QVBoxLayout;
    rows->setSpacing(4);
    stack->addLayout(rows);
    auto* empty = caption(QStringLiteral("Empty"), secondaryColor(), owner);
    empty->setObjectName(QStringLiteral("emptyNote"));
    stack->addWidget(empty);
    return {stack, add, rows, empty};
}

void clearRows(QVBoxLayout* rows) {
    while (QLayoutItem* item = rows->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            w->hide();
            w->setObjectName(QString());
            w->deleteLater();
        }
        delete item;
    }
}

namespace {

// Rows just built are not shown yet (their parent's layout shows them a moment later): only a widget
// hidden on purpose counts as hidden.
bool isHiddenOnPurpose(const QWidget* widget) {
    return widget->isHidden() && widget->testAttribute(Qt::WA_WState_ExplicitShowHide);
}

// A child as a step on the way down: its name, or its class and place among unnamed siblings of that class.
QString stepTo(const QWidget* child) {
    if (!child->objectName().isEmpty()) return child->objectName();
    const char* type = child->metaObject()->className();
    int place = 0;
    for (const QObject* sibling : child->parent()->children()) {
        if (sibling == child) break;
        if (sibling->isWidgetType() && sibling->objectName().isEmpty() && qstrcmp(sibling->metaObject()->className(), type) == 0)
            ++place;
    }
    return QStringLiteral("%1#%2").arg(QLatin1String(type)).arg(place);
}

QWidget* childAt(QWidget* parent, const QString& step) {
    for (QObject* child : parent->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget && !isHiddenOnPurpose(widget) && stepTo(widget) == step) return widget;
    }
    return nullptr;
}

bool takesFocus(const QWidget* widget) {
    return (widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled() && !isHiddenOnPurpose(widget) && !widget->focusProxy();
}

}  // namespace

QWidget* firstFocusable(QWidget* root) {
    if (takesFocus(root)) return root;
    for (QObject* child : root->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget || isHiddenOnPurpose(widget) || widget->isWindow()) continue;
        if (QWidget* found = firstFocusable(widget)) return found;
    }
    return nullptr;
}

FocusKeeper::FocusKeeper(QWidget* owner) : owner_(owner) {
    QWidget* focused = QApplication::focusWidget();
    hadFocus_ = focused && (focused == owner || owner->isAncestorOf(focused));
    if (!hadFocus_) return;
    for (QWidget* w = focused; w && w != owner; w = w->parentWidget()) route_.prepend(stepTo(w));
    // Leaving the old widget may finish an edit in it (editingFinished); that runs now, before the rows go.
    owner->setFocus(Qt::OtherFocusReason);
}

void FocusKeeper::restore(QWidget* preferred) const {
    if (preferred) return preferred->setFocus(Qt::OtherFocusReason);
    if (!hadFocus_) return;
    QWidget* reached = owner_;
    for (const QString& step : route_) {
        QWidget* next = childAt(reached, step);
        if (!next) break;
        reached = next;
    }
    if (QWidget* target = firstFocusable(reached); target && target != owner_) target->setFocus(Qt::OtherFocusReason);
}

QWidget* symbolNote(const QString& symbol, const QString& text, const QColor& color, QWidget* parent) {
    auto* note = new QWidget(parent);
    auto* row = new QHBoxLayout(note);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    auto* icon = new QLabel(note);
    icon->setPixmap(symbolIcon(symbol, color).pixmap(14, 14));
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(caption(text, color, note), 1);
    return note;
}

QLabel* warningMark(int size, QWidget* parent) {
    auto* mark = new QLabel(parent);
    mark->setObjectName(QStringLiteral("invalidMark"));
    mark->setPixmap(symbolIcon(QStringLiteral("exclamationmark.triangle.fill"), orangeColor()).pixmap(size, size));
    mark->hide();
    return mark;
}

void setWarning(QLabel* mark, const QString& reason) {
    mark->setToolTip(reason.toHtmlEscaped());
    mark->setAccessibleName(reason);
    mark->setVisible(!reason.isEmpty());
}

QWidget* numberRow(QLineEdit* edit, QWidget* parent, bool reasonBelow) {
    auto* row = new QWidget(parent);
    auto* line = new QHBoxLayout;
    line->setContentsMargins(0, 0, 0, 0);
    edit->setParent(row);
    line->addWidget(edit);
    line->addWidget(warningMark(edit->sizeHint().height() * 2 / 3, row));
    auto* reason = caption(QString(), orangeColor(), row);
    reason->setObjectName(QStringLiteral("invalidReason"));
    reason->hide();
    if (reasonBelow) {
        line->addStretch(1);
        auto* stack = new QVBoxLayout(row);
        stack->setContentsMargins(0, 0, 0, 0);
        stack->setSpacing(2);
        stack->addLayout(line);
        stack->addWidget(reason);
    } else {
        row->setLayout(line);
        line->addWidget(reason, 100);
        line->addStretch(1);  // the field stays where it is when the reason goes
    }
    return row;
}

void showNumberProblem(QWidget* row, const QString& reason) {
    setWarning(row->findChild<QLabel*>(QStringLiteral("invalidMark")), reason);
    auto* label = row->findChild<QLabel*>(QStringLiteral("invalidReason"));
    label->setText(reason);
    label->setVisible(!reason.isEmpty());
}

void nameFields(QWidget* control, const QString& name) {
    if (qobject_cast<QLineEdit*>(control) || qobject_cast<QComboBox*>(control)) control->setAccessibleName(name);
    for (auto* field : control->findChildren<QLineEdit*>()) field->setAccessibleName(name);
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

SaveBar saveBar(QWidget* parent, const QString& objectName) {
    SaveBar parts{};
    parts.bar = new QWidget(parent);
    parts.bar->setObjectName(objectName);
    parts.row = new QHBoxLayout(parts.bar);
    parts.row->setContentsMargins(12, 12, 12, 12);
    parts.row->setSpacing(10);
    parts.progress = smallBusyIndicator(parts.bar);
    parts.row->addWidget(parts.progress);
    parts.revert = new QPushButton(QStringLiteral("Revert"), parts.bar);
    parts.revert->setObjectName(QStringLiteral("revertButton"));
    parts.row->addWidget(parts.revert);
    parts.save = new QPushButton(QStringLiteral("Save"), parts.bar);
    parts.save->setObjectName(QStringLiteral("saveButton"));
    parts.row->addWidget(parts.save);
    return parts;
}

QString errorText(std::exception_ptr error, const QString& fallback) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromStdString(e.what());
    } catch (...) {
        return fallback;
    }
}

void afterRefresh(const std::function<QFuture<void>()>& refresh, QObject* context, std::function<void()> then) {
    if (!refresh) {
        then();
        return;
    }
    refresh().then(context, [then](QFuture<void>) { then(); }).onCanceled(context, then);
}

}  // namespace qw::FormBits
