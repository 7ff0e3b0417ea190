// ContentView: the main window — the sidebar of filters with counts and the search field, the job
// list (or the crontab list for the cron filter), the detail pane, the toolbar, the creation sheet
// and the alert for failed job actions. It starts the first scan, the problem scan and watching when
// first shown.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include <QMainWindow>
#include <QPointer>

#include "Quillwick/store/JobFilter.h"

class QAction;
class QStackedWidget;
class QMessageBox;

namespace qw {

class AppServices;
class EmptyStateView;
class JobListView;
class SearchField;
class SidebarView;

class ContentView : public QMainWindow {
    Q_OBJECT
public:
    explicit ContentView(AppServices& services, QWidget* parent = nullptr);
    ~ContentView() override;

    JobFilter filter() const { return filter_; }
    const std::optional<std::string>& selection() const { return selection_; }
    const std::set<std::string>& problemLabels() const { return problemLabels_; }
    void setSelection(const std::optional<std::string>& id);
    void setFilter(const JobFilter& filter);
    // The `line` of the selected crontab entry.
    const std::optional<qint64>& cronSelection() const { return cronSelection_; }
    void setCronSelection(std::optional<qint64> line);

    // Applies a problem scan's result when it is newer than the one shown.
    void applyProblemScan(std::uint64_t stamp, std::set<std::string> problemLabels);

    QAction* newAction() const { return newAction_; }
    QAction* refreshAction() const { return refreshAction_; }

signals:
    // The first scan, the problem scan after it, and the start of watching are done.
    void startedUp();
    void problemScanApplied();
    // Asked about unsaved edits on closing, the user kept the window (Cancel, or a save that did not
    // go through).
    void closeDeclined();

protected:
    void showEvent(QShowEvent* event) override;
    // Unsaved edits in the detail pane are not closed away without asking: Save, Don't Save or Cancel.
    void closeEvent(QCloseEvent* event) override;

private:
    void startUp();
    void scheduleProblemScan();
    void runProblemScan();
    void updateJobs();
    void updateCounts();
    void updateContent();
    void updateDetail();
    void updateToolbar();
    void showFailure();
    void create();
    void focusSelectedJob();
    // Save, Don't Save or Cancel for the pane's unsaved edits: `leave` once they are saved or let go,
    // `stay` on Cancel or a save that did not go through.
    void askToSave(std::function<void()> leave, std::function<void()> stay);
    void selectJob(const std::optional<std::string>& id);

    AppServices& services_;
    JobFilter filter_ = JobFilter::Kind::installed;
    std::optional<std::string> selection_;
    QString search_;
    std::set<std::string> problemLabels_;
    bool isCreating_ = false;
    std::optional<qint64> cronSelection_;
    std::uint64_t problemScanIssued_ = 0;
    std::uint64_t problemScanShown_ = 0;
    bool started_ = false;
    bool startupDone_ = false;
    bool problemScanScheduled_ = false;

    SidebarView* sidebar_;
    SearchField* searchField_;
    QStackedWidget* content_;
    JobListView* jobList_;
    QWidget* cronList_ = nullptr;
    QStackedWidget* detail_;
    EmptyStateView* noSelection_;
    QWidget* detailView_ = nullptr;
    QWidget* cronDetail_ = nullptr;
    std::string detailId_;
    std::filesystem::path detailFile_;  // the shown job's file, which the selection follows
    QAction* newAction_;
    QAction* refreshAction_;
    QPointer<QMessageBox> alert_;
    QPointer<QMessageBox> unsavedAlert_;
    bool closeAnswered_ = false;  // the edits were saved or let go: the next close goes through
};

}  // namespace qw
