// CalendarIntervalEditor: the StartCalendarInterval entries, one row of five fields (Hour, Minute,
// Day, Weekday, Month; empty means any) per entry with its sentence. A typed value within its field's
// range counts at once; one outside it is refused, and the field gets back the value it had before the
// typing began. Every user action hands the owner the whole list.
#pragma once

#include <vector>

#include <QPointer>
#include <QWidget>

#include "Quillwick/launchd/CalendarInterval.h"

class QLineEdit;
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
    void typed(QLineEdit* edit, const QString& text, int row, int field);
    void finished(QLineEdit* edit, int row, int field);
    // Keeps the focus in the rows; `focusRow` gets it when given.
    void rebuild(int focusRow = -1);
    void update();

    bool editable_ = true;
    // The field being typed into, and the value it held before.
    QPointer<QLineEdit> typing_;
    std::optional<std::int64_t> typingFrom_;
    std::vector<CalendarInterval> intervals_;
    QToolButton* add_;
    QVBoxLayout* rows_;
};

}  // namespace qw
