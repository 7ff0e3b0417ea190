#include "Quillwick/ui/HealthDot.h"

#include <QPainter>

#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"

namespace qw {

HealthDot::HealthDot(Job::Health health, int size, QWidget* parent) : QWidget(parent), health_(health), size_(size) {
    setObjectName("healthDot");
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setHealth(health);
}

void HealthDot::setHealth(Job::Health health) {
    health_ = health;
    setToolTip(text(health));
    setAccessibleName(text(health));
    update();
}

QString HealthDot::symbolName(Job::Health health) {
    switch (health) {
    case Job::Health::running: return "circle.fill";
    case Job::Health::loadedIdle: return "circle";
    case Job::Health::failed: return "exclamationmark.circle.fill";
    case Job::Health::disabled: return "minus.circle";
    case Job::Health::notLoaded: break;
    }
    return "circle.dotted";
}

QString HealthDot::text(Job::Health health) {
    switch (health) {
    case Job::Health::running: return "Running";
    case Job::Health::loadedIdle: return "Loaded, not running";
    case Job::Health::failed: return "Failed";
    case Job::Health::disabled: return "Disabled";
    case Job::Health::notLoaded: break;
    }
    return "Not loaded";
}

void HealthDot::paint(QPainter& painter, const QRect& rect, Job::Health health, int size) {
    const int side = size + 3;
    const QRect square(rect.x() + (rect.width() - side) / 2, rect.y() + (rect.height() - side) / 2, side, side);
    symbolIcon(symbolName(health), healthColor(health)).paint(&painter, square);
}

QSize HealthDot::sizeHint() const { return {size_ + 3, size_ + 3}; }

void HealthDot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint(p, rect(), health_, size_);
}

}  // namespace qw
