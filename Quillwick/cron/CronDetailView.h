// CronDetailView: the detail pane of one crontab entry — when it runs, what it runs, the crontab's
// variables and the problems found in the entry — with the two edits an existing entry offers:
// the "Enabled" switch (commenting the line out and in) and "Delete…".
//
// Built by the main window as CronDetailView(job, store) for the first entry of the store's crontab
// whose `line` equals the window's cron selection, and identified by that line: another line builds
// a fresh view; the same line with a reparsed entry goes to setJob(), which keeps the view's state.
// After a reload the pane also takes the reparsed entry itself when its line still holds it.
// Every change edits a copy of the store's crontab and goes through CrontabStore::save. While any
// save of the store runs the controls are disabled, so one edit never overwrites another. A failed
// save's alert belongs to the window, so it stays when the reload takes the pane away.
#pragma once

#include <QWidget>

#include <optional>

#include "Quillwick/cron/Crontab.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace qw {

class CrontabStore;

class CronDetailView : public QWidget {
    Q_OBJECT
public:
    // `store` outlives the view.
    CronDetailView(CronJob job, CrontabStore* store, QWidget* parent = nullptr);

    const CronJob& job() const { return job_; }
    void setJob(const CronJob& job);

    bool isBusy() const { return busy_; }
    const std::optional<QString>& failure() const { return failure_; }

    // The switch's action: comments the entry out (false) or in (true). Named apart from
    // QWidget::setEnabled, which it must not hide.
    void setEntryEnabled(bool enabled);
    // "Delete…": removes the entry at once, without asking.
    void deleteEntry();

private:
    void save(const Crontab& edited);
    void follow();
    void refresh();
    void updateControls();
    QVBoxLayout* section(const QString& title, QWidget** box);

    CronJob job_;
    CrontabStore* store_;
    bool busy_ = false;
    std::optional<QString> failure_;

    QCheckBox* enabled_;
    QProgressBar* progress_;
    QPushButton* delete_;
    QLabel* description_;
    QLabel* expression_;
    QLabel* command_;
    QWidget* environmentBox_;
    QVBoxLayout* environment_;
    QWidget* problemsBox_;
    QVBoxLayout* problems_;
};

}  // namespace qw
