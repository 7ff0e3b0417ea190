#include "Quillwick/ui/AccessibleToggles.h"

#include <QAccessibleWidget>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTextDocumentFragment>
#include <QToolButton>

namespace qw {

namespace {

// The text as shown: a lone & marks a shortcut, && shows one.
QString shown(QString text) {
    text.replace(QLatin1String("&&"), QChar(1)).remove(QLatin1Char('&'));
    return text.replace(QChar(1), QLatin1Char('&'));
}

// A button as Qt describes it, but whose every action is a click. Buttons are made before they are
// made checkable, and an interface once made is kept, so any button may turn out to be a toggle.
class ClickingButton : public QAccessibleWidget {
public:
    explicit ClickingButton(QAbstractButton* button) : QAccessibleWidget(button) {}

    QAccessible::Role role() const override {
        if (qobject_cast<QRadioButton*>(button())) return QAccessible::RadioButton;
        return button()->isCheckable() ? QAccessible::CheckBox : QAccessible::Button;
    }

    // Its own words before the title of the box it sits in, which a plain widget would be named by.
    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name) return QAccessibleWidget::text(t);
        QString s = button()->accessibleName();
        if (s.isEmpty()) s = shown(button()->text());
        if (s.isEmpty()) s = QTextDocumentFragment::fromHtml(button()->toolTip()).toPlainText();
        return s.isEmpty() ? QAccessibleWidget::text(t) : s;
    }

    // A segment of a picker is labelled by what labels the picker.
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(QAccessible::Relation match) const override {
        auto found = QAccessibleWidget::relations(match);
        QWidget* picker = button()->parentWidget();
        if (!(match & QAccessible::Label) || !picker || !picker->parentWidget()) return found;
        for (auto* sibling : picker->parentWidget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
            if (sibling->buddy() == picker) found.append({QAccessible::queryAccessibleInterface(sibling), QAccessible::Label});
        return found;
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.pressed = button()->isDown();
        s.checkable = button()->isCheckable();
        s.checked = button()->isChecked();
        const auto* box = qobject_cast<const QCheckBox*>(button());
        s.checkStateMixed = box && box->checkState() == Qt::PartiallyChecked;
        const auto* push = qobject_cast<const QPushButton*>(button());
        s.defaultButton = push && push->isDefault();
        return s;
    }

    QStringList actionNames() const override {
        QStringList names;
        if (button()->isEnabled()) {
            if (button()->isCheckable()) names << toggleAction();
            names << pressAction();
        }
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& name) override {
        if (name == toggleAction() || name == pressAction()) {
            if (button()->isEnabled()) button()->click();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* clickingButtons(const QString&, QObject* object) {
    // Buttons that open a menu keep Qt's own description and its "show menu" action.
    if (auto* tool = qobject_cast<QToolButton*>(object)) {
        const bool opensMenu = tool->menu() || (tool->defaultAction() && tool->defaultAction()->menu());
        return opensMenu ? nullptr : new ClickingButton(tool);
    }
    if (auto* push = qobject_cast<QPushButton*>(object)) return push->menu() ? nullptr : new ClickingButton(push);
    if (qobject_cast<QCheckBox*>(object) || qobject_cast<QRadioButton*>(object))
        return new ClickingButton(static_cast<QAbstractButton*>(object));
    return nullptr;
}

}  // namespace

void installAccessibleToggles() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    QAccessible::installFactory(clickingButtons);
}

}  // namespace qw
