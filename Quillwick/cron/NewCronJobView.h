// NewCronJobView: the sheet that adds one line to the user's crontab. The user picks when it runs
// from seven presets (or types an expression), types or chooses the command, and sees the exact line,
// its schedule in English, the problems found in it and, for a first crontab, what adding one means.
// "Add" appends the line to a copy of the store's crontab and saves it; on success the sheet calls
// `onCreated` and closes, on failure it stays open with the error beside its buttons.
//
// Built by the main window as NewCronJobView(store, onCreated) and opened with open() (window-modal).
// `onCreated` runs on the main thread after the store has reloaded the saved crontab, before the
// sheet closes; the window then selects the last entry of the store's crontab. Save errors stay here.
//
// A command holding a line feed, carriage return or NUL, a command of only white space, and a custom
// expression that is neither five cron fields nor one "@" word, or that cron refuses, keep "Add"
// disabled, with the reason shown: "A=1 * * * *" would install a variable, not an entry, and crontab
// would not install a file holding "61 * * * *".
#pragma once

#include <QDialog>

#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "Quillwick/cron/CronSchedule.h"
#include "Quillwick/launchd/Issue.h"

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QVBoxLayout;
class QWidget;

namespace qw {

class CrontabStore;

class NewCronJobView : public QDialog {
    Q_OBJECT
public:
    enum class Shape { everyFewMinutes, hourly, daily, weekly, monthly, atStartup, custom };
    static constexpr std::array<Shape, 7> allShapes = {Shape::everyFewMinutes, Shape::hourly,    Shape::daily,
                                                       Shape::weekly,          Shape::monthly,   Shape::atStartup,
                                                       Shape::custom};
    // The picker's titles, also the shapes' raw values.
    static QString title(Shape shape);
    static std::optional<Shape> shape(const QString& rawValue);

    // `store` outlives the sheet.
    NewCronJobView(CrontabStore* store, std::function<void()> onCreated, QWidget* parent = nullptr);

    // The schedule the chosen preset builds.
    CronSchedule scheduleFields() const;
    // The line "Add" would write, with "/usr/bin/true" standing in for an empty command.
    QString previewLine() const;
    // Errors and warnings of the entry, errors first; none while the command is empty.
    std::vector<Issue> previewIssues() const;
    // Why "Add" is refused although a command is typed, or nothing.
    std::optional<QString> refusal() const;

    void chooseScript();
    void add();

    bool isBusy() const { return busy_; }
    const std::optional<QString>& failure() const { return failure_; }

private:
    Shape currentShape() const;
    QString expressionText() const;
    QString commandText() const;
    void update();

    CrontabStore* store_;
    std::function<void()> onCreated_;
    bool busy_ = false;
    std::optional<QString> failure_;

    QComboBox* shapePicker_;
    QFormLayout* when_;
    QSpinBox* everyMinutes_;
    QComboBox* weekday_;
    QSpinBox* dayOfMonth_;
    QWidget* time_;
    QSpinBox* hour_;
    QSpinBox* minute_;
    QLabel* startupNote_;
    QLineEdit* expression_;
    QLineEdit* command_;
    QLabel* preview_;
    QLabel* description_;
    QVBoxLayout* issues_;
    QLabel* refusal_;
    QLabel* firstCrontab_;
    QLabel* accessNotice_;
    QScrollArea* failureArea_;
    QLabel* failureLabel_;
    QProgressBar* progress_;
    QPushButton* addButton_;
};

}  // namespace qw
