// JobDetailView: the detail pane of the one selected job — its header (health, label, status, the busy
// caption of a running action, the action bar) over the five tabs. The pane alone loads the job's
// run-time state from launchctl, off the main thread, and hands it to the tabs that read it.
//
// The main window builds one pane per job id and passes newer values of the same job through setJob,
// which keeps the selected tab and every tab's own state.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include <QFuture>
#include <QString>
#include <QWidget>

#include "Quillwick/actions/JobAction.h"
#include "Quillwick/launchd/Job.h"
#include "Quillwick/launchd/RuntimeState.h"

class QLabel;
class QProgressBar;
class QTabWidget;

namespace qw {

class ElidedLabel;
class HealthDot;
class JobActionBar;
class JobActionRunner;
class JobConfigureView;
class JobLogView;
class JobOverviewView;
class JobProblemsView;
class JobSourceView;
class JobStore;
class OperationRouter;

class JobDetailView : public QWidget {
    Q_OBJECT
public:
    enum class Tab { overview, configure, log, problems, source };
    static constexpr Tab allTabs[] = {Tab::overview, Tab::configure, Tab::log, Tab::problems, Tab::source};
    static QString title(Tab tab);
    static QString symbol(Tab tab);
    static QString help(Tab tab);
    // Exactly one of the five titles names a tab.
    static std::optional<Tab> tabNamed(const QString& title);
    // The narrowest a pane can be with every tab whole; its header goes on in further lines instead.
    static int narrowestWidth();

    JobDetailView(Job job, JobStore& store, OperationRouter& router, JobActionRunner& actions,
                  QWidget* parent = nullptr);

    // A newer value of the shown job. The run-time state is loaded again for a job of another id, and
    // whenever launchd's list entry for it changed (loaded, process, last exit): the header must
    // never contradict the list.
    void setJob(const Job& job);
    const Job& job() const { return job_; }
    const std::optional<RuntimeState>& runtime() const { return runtime_; }
    Tab tab() const;
    void setTab(Tab tab);

    // The header's status line for this job and run-time state.
    static QString statusText(const Job& job, const std::optional<RuntimeState>& runtime);

    // Edits in Configure or Source that closing the pane would lose.
    bool hasUnsavedEdits() const;
    // Saves them, Configure first, then Source; `done` hears whether all of them reached the disk (a
    // refusal, a failure or a dismissed password prompt leaves them, and the tab says why).
    void saveEdits(std::function<void(bool saved)> done);

    // Queries launchctl for the job's state; finishes once it is stored (none when it cannot be read).
    QFuture<void> loadRuntime();
    // What the tabs call after a save or fix: the store's reload, then the run-time state.
    QFuture<void> refreshAfterChange();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void runAction(JobAction action);
    void setRuntime(std::optional<RuntimeState> runtime);
    void updateHeader();
    void updateBusy();

    Job job_;
    JobStore& store_;
    OperationRouter& router_;
    JobActionRunner& actions_;
    std::optional<RuntimeState> runtime_;
    std::uint64_t runtimeGeneration_ = 0;
    bool shownOnce_ = false;

    HealthDot* dot_;
    ElidedLabel* label_;
    QWidget* busy_;
    QLabel* busyCaption_;
    QLabel* status_;
    JobActionBar* actionBar_;
    QTabWidget* tabs_;
    JobOverviewView* overview_;
    JobConfigureView* configure_;
    JobLogView* log_;
    JobProblemsView* problems_;
    JobSourceView* source_;
    // The context of every continuation. Declared last, it goes first when the pane is destroyed: a
    // widget's own guarded pointers stay set while its children are torn down, and a continuation
    // queued on it would then run on the remains.
    QObject lifetime_;
};

}  // namespace qw
