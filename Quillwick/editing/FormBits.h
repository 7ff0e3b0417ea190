// Small pieces the editing views share: caption-sized labels in a given colour, borderless icon
// buttons and word badges. Text is always plain: it may come from a job file.
#pragma once

#include <exception>
#include <functional>

#include <QColor>
#include <QHBoxLayout>
#include <QFrame>
#include <QFuture>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QToolButton>
#include <QVBoxLayout>

namespace qw::FormBits {

QLabel* caption(const QString& text, const QColor& color, QWidget* parent = nullptr);
// A borderless button showing only a symbol; the name doubles as tooltip and accessible name.
QToolButton* iconButton(const QString& symbol, const QString& name, QWidget* parent = nullptr);
// A small word on a rounded, faintly filled capsule.
QLabel* badge(const QString& word, const QColor& color, QWidget* parent = nullptr);
void setTextColor(QWidget* widget, const QColor& color);

// The frame of an editable list: its title with an Add button, the rows below, and an "Empty" note.
struct ListFrame {
    QVBoxLayout* stack;
    QToolButton* add;
    QVBoxLayout* rows;
    QLabel* empty;
};
ListFrame listFrame(const QString& title, QWidget* owner);
// Empties a list's rows; a row on its way out is hidden and loses its name, so tests never find it.
void clearRows(QVBoxLayout* rows);
// The sentence an error carries, or the fallback for one that carries none.
QString errorText(std::exception_ptr error, const QString& fallback);
// Runs `then` once the host's `refresh` after a change has finished or been cancelled (at once when
// there is none), unless `context` has gone by then.
void afterRefresh(const std::function<QFuture<void>()>& refresh, QObject* context, std::function<void()> then);
// A symbol beside a caption that wraps as its room asks.
QWidget* symbolNote(const QString& symbol, const QString& text, const QColor& color, QWidget* parent);
// The orange mark beside a value that is not taken, named "invalidMark"; hidden until setWarning gives it a reason.
QLabel* warningMark(int size, QWidget* parent);
// Shows the mark with `reason` as its tooltip and what a screen reader says, or hides it for an empty reason.
void setWarning(QLabel* mark, const QString& reason);
// A number field with the orange mark and the reason launchd would not take what is typed, beside it or,
// where the field has little room to its right, below; both hidden until showNumberProblem gives a reason.
QWidget* numberRow(QLineEdit* edit, QWidget* parent, bool reasonBelow = false);
// Shows `reason` on a numberRow's mark and beside it, or hides both for an empty reason.
void showNumberProblem(QWidget* row, const QString& reason);
// What follows a number's problem when launchd would be handed it anyway: "Must be 1 or more: launchd …".
inline const QString ignoredValue = QStringLiteral(": launchd ignores this value.");
// A thin horizontal rule between sections.
QFrame* divider(QWidget* parent);
// Names the text fields and picker in `control` for a screen reader by the title shown beside it: a
// title beside a compound control is no buddy of the field inside it.
void nameFields(QWidget* control, const QString& name);

// Keeps keyboard focus inside `owner` while it rebuilds rows that may hold the focused widget: made
// before the old rows go, it notes the way down to the focused widget and parks the focus on `owner`,
// so it never falls out to another part of the window; `restore` then puts it on the new rows.
class FocusKeeper {
public:
    explicit FocusKeeper(QWidget* owner);
    bool hadFocus() const { return hadFocus_; }
    // Focuses `preferred` when given; else, when the focus was inside, the widget on the old way down,
    // or the first that takes focus below the deepest step still found.
    void restore(QWidget* preferred = nullptr) const;

private:
    QWidget* owner_;
    bool hadFocus_ = false;
    QStringList route_;
};
// The first widget at or below `root` that takes keyboard focus, or nullptr.
QWidget* firstFocusable(QWidget* root);

// The bar under an editor, ending in a busy indicator, Revert and Save; the caller inserts its own
// controls at the start of `row`.
struct SaveBar {
    QWidget* bar;
    QHBoxLayout* row;
    QProgressBar* progress;
    QPushButton* revert;
    QPushButton* save;
};
SaveBar saveBar(QWidget* parent, const QString& objectName);

}  // namespace qw::FormBits
