#include "Quillwick/ui/SearchField.h"

#include <QKeyEvent>

namespace qw {

SearchField::SearchField(QWidget* parent) : QLineEdit(parent) { setClearButtonEnabled(true); }

void SearchField::keyPressEvent(QKeyEvent* event) {
    const bool plain = !(event->modifiers() & ~Qt::KeypadModifier);
    if (plain && event->key() == Qt::Key_Escape && !text().isEmpty()) {
        clear();
        event->accept();
        return;
    }
    if (plain && event->key() == Qt::Key_Down) {
        emit downPressed();
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

}  // namespace qw
