// CalendarIntervalEditor: the StartCalendarInterval entries, one row of five fields (Hour, Minute,
// Day, Weekday, Month; empty means any) per entry with its sentence. A typed value outside its field's
// range is refused by putting the old value back. Every user action hands the owner the whole list.
#pragma once

#include <vector>

#include <QWidget>

#include "Quillwick/launchd/CalendarInterval.h"

class QToolButton;
class QVBoxLayout;

namespace qw {

class CalendarIntervalEditor : public QWidget {
    Q_OBJECT
public:
    explicit CalendarIntervalEditor(QWidget* parent = nullptr);

    const std::vector<CalendarInterval>& intervals() const { return intervals_; }
    void setIntervals(const std::vector<CalendarInterval>& intervals);
    void setEditable(bool editable);

    void append();
    void remove(int index);
    // Field f (in the shown order) of row i takes the typed text, or keeps its value.
    void setText(const QString& text, int row, int field);

signals:
    void intervalsEdited(const std::vector<CalendarInterval>& intervals);

private:
    void rebuild();
    void update();

    bool editable_ = true;
    std::vector<CalendarInterval> intervals_;
    QToolButton* add_;
    QVBoxLayout* rows_;
};

}  // namespace qw
