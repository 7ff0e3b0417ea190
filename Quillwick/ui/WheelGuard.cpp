#include "Quillwick/ui/WheelGuard.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QWidget>

namespace qw {

namespace {

bool isGuarded(const QObject* object) {
    return qobject_cast<const QComboBox*>(object) || qobject_cast<const QAbstractSpinBox*>(object);
}

// The wheel must not give a control focus either, or the next notch would change it after all.
void keepWheelFromFocusing(QWidget* control) {
    if (control->focusPolicy() == Qt::WheelFocus) control->setFocusPolicy(Qt::StrongFocus);
}

// Watches the whole application, since controls come and go inside `root`; only Polish and Wheel
// events of pickers and steppers below `root` concern it.
class WheelGuard : public QObject {
public:
    explicit WheelGuard(QWidget* root) : QObject(root), root_(root) {
        for (QWidget* child : root->findChildren<QWidget*>())
            if (isGuarded(child)) keepWheelFromFocusing(child);
        qApp->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if ((type != QEvent::Wheel && type != QEvent::Polish) || !isGuarded(watched)) return false;
        auto* control = static_cast<QWidget*>(watched);
        if (!root_->isAncestorOf(control)) return false;
        if (type == QEvent::Polish) {
            keepWheelFromFocusing(control);
            return false;
        }
        if (control->hasFocus()) return false;
        // Left unaccepted, the wheel goes on to the control's parents: the scroll area scrolls.
        event->ignore();
        return true;
    }

private:
    QWidget* root_;
};

}  // namespace

void guardWheel(QWidget* root) { new WheelGuard(root); }

}  // namespace qw
