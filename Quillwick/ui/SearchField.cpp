#include "Quillwick/ui/SearchField.h"

#include <QKeyEvent>
#include <QToolButton>

namespace qw {

SearchField::SearchField(QWidget* parent) : QLineEdit(parent) {
    setClearButtonEnabled(true);
    // The prompt says what is searched; a screen reader needs what the field is.
    setAccessibleName(QStringLiteral("Search"));
    nameClearButton(this);
}

void SearchField::nameClearButton(QLineEdit* field) {
    for (QToolButton* button : field->findChildren<QToolButton*>())
        button->setAccessibleName(QStringLiteral("Clear"));
}

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
