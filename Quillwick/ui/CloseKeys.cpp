#include "Quillwick/ui/CloseKeys.h"

#include <QAction>
#include <QKeySequence>
#include <QWidget>

namespace qw {

void closeWithEscapeAndCloseWindow(QWidget* widget) {
    QList<QKeySequence> keys = QKeySequence::keyBindings(QKeySequence::Close);
    for (const QKeySequence& key : {QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::Key_Escape)})
        if (!keys.contains(key))
            keys << key;
    auto* close = new QAction(widget);
    close->setShortcuts(keys);
    QObject::connect(close, &QAction::triggered, widget, [widget] { widget->window()->close(); });
    widget->addAction(close);
}

}  // namespace qw
