// HealthDot: the coloured status symbol of a job's health, with the health's text as tooltip and
// accessible name.
#pragma once

#include <QString>
#include <QWidget>

#include "Quillwick/launchd/Job.h"

namespace qw {

class HealthDot : public QWidget {
    Q_OBJECT
public:
    HealthDot(Job::Health health, int size, QWidget* parent = nullptr);

    void setHealth(Job::Health health);
    Job::Health health() const { return health_; }

    static QString symbolName(Job::Health health);
    static QString text(Job::Health health);
    // The symbol drawn at size + 3 pixels, as delegates paint it in list rows.
    static void paint(class QPainter& painter, const QRect& rect, Job::Health health, int size);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    Job::Health health_;
    int size_;
};

}  // namespace qw
