// JobProblemsView: the detail pane's Problems tab. Runs the job checker off the main thread each time
// the tab comes into view, shows what it found as cards, and carries a card's repair out through the
// operation router; after a repair it awaits the host's reload and checks the reloaded job again.
// While shown it checks again whenever the store rescans, as the job list's problem marks do.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <QFuture>
#include <QWidget>

#include "Quillwick/launchd/Issue.h"
#include "Quillwick/launchd/Job.h"

class QStackedWidget;
class QVBoxLayout;

namespace qw {

class EmptyStateView;
class IssueCard;
class JobStore;
class OperationRouter;

class JobProblemsView : public QWidget {
    Q_OBJECT
public:
    using OnFixed = std::function<QFuture<void>()>;

    JobProblemsView(Job job, JobStore& store, OperationRouter& router, OnFixed onFixed, QWidget* parent = nullptr);

    void setJob(Job job);
    const Job& job() const { return job_; }

    // Runs the checker over the job as it is now; finishes once the result is shown (or dropped,
    // when the job changed to another id or a newer run started meanwhile).
    QFuture<void> diagnose();
    // The action behind a card's button: the card at `position` of the list shown.
    void fix(std::size_t position);

    const std::vector<Issue>& issues() const { return issues_; }
    const std::vector<IssueCard*>& cards() const { return cards_; }
    bool isBusy() const { return busy_.has_value(); }
    const std::optional<QString>& failure() const { return failure_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The card whose repair runs. Problems may share Issue::id (two missing log folders), so the card
    // is named by the whole problem and which of its equals it is.
    struct BusyCard {
        Issue issue;
        std::size_t occurrence;
        bool operator==(const BusyCard&) const = default;
    };
    BusyCard identity(std::size_t position) const;
    void showIssues(std::vector<Issue> issues);
    void rebuildCards();
    void updateBusy();
    void fixFailed(std::exception_ptr error);
    void scheduleDiagnose();
    void reloadAndDiagnose();
    bool hasFocusInside() const;
    void keepFocus();

    Job job_;
    JobStore& store_;
    OperationRouter& router_;
    OnFixed onFixed_;
    std::vector<Issue> issues_;
    std::optional<BusyCard> busy_;
    std::optional<QString> failure_;

    std::uint64_t generation_ = 0;
    bool diagnoseScheduled_ = false;
    QStackedWidget* pages_;
    EmptyStateView* placeholder_;
    QWidget* list_;
    QVBoxLayout* stack_;
    QWidget* scroll_;
    std::vector<IssueCard*> cards_;
    // The context of every continuation. Declared last, it goes first when the tab is destroyed: a
    // widget's own guarded pointers stay set while its children are torn down, and a continuation
    // queued on it would then run on the remains.
    QObject lifetime_;
};

}  // namespace qw
