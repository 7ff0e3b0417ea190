// LogLines: the lines of one log under the tab's filter, in a read-only monospaced text view that lays
// out only what it shows; or, when none pass, the "No Matches" or "Nothing Yet" placeholder.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <optional>

class QPlainTextEdit;
class QStackedLayout;

namespace qw {

class EmptyStateView;

class LogLines : public QWidget {
    Q_OBJECT
public:
    explicit LogLines(QWidget* parent = nullptr);

    // The lines that contain the filter, trimmed of blanks and tabs, ignoring case; all when it is blank.
    static QStringList filteredLines(const QStringList& lines, const QString& filter);

    // Shows new content. Scrolls to the last line when the number of lines shown changes, except on
    // the first content after reset() (or after a placeholder), so the list never jumps when it appears.
    void setContent(const QStringList& lines, const QString& filter, const QString& empty);
    // The next content is shown as fresh, from the top.
    void reset();

    const QStringList& filteredLines() const { return shown_; }
    QPlainTextEdit* textView() const { return text_; }
    EmptyStateView* placeholder() const { return placeholder_; }

private:
    QStackedLayout* stack_;
    QPlainTextEdit* text_;
    EmptyStateView* placeholder_;
    QStringList shown_;
    bool fresh_ = true;
};

}  // namespace qw
