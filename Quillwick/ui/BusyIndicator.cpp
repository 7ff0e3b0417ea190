#include "Quillwick/ui/BusyIndicator.h"

#include <QProgressBar>

namespace qw {

QProgressBar* smallBusyIndicator(QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedSize(48, 10);
    return bar;
}

}  // namespace qw
