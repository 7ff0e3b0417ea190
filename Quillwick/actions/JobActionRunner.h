// JobActionRunner: carries out one job action at a time for the interface. It is busy with the action's
// title while the operation runs, lets launchd settle after a success (a stopped process is gone, a
// started one that failed at once has been reaped), rescans the store, and keeps the last failure's
// message for the main window's alert. A call while an action runs is dropped.
#pragma once

#include <functional>
#include <optional>

#include <QObject>
#include <QString>

#include "Quillwick/actions/JobAction.h"
#include "Quillwick/launchd/Job.h"

namespace qw {

class JobActionRunner : public QObject {
    Q_OBJECT
public:
    struct Outcome {
        enum class Kind { succeeded, cancelled, failed };
        Kind kind = Kind::succeeded;
        QString message;  // the failing component's text, for `failed`
    };
    using Done = std::function<void(Outcome)>;
    // Carries out the action's operation and calls done once, on the main thread.
    using Perform = std::function<void(JobAction, const Job&, Done)>;
    // Rescans the store, then calls its argument on the main thread.
    using Reload = std::function<void(std::function<void()>)>;
    // Waits, off the main thread, until launchd reports the outcome of a succeeded action, then calls
    // its argument on the main thread. Absent: the rescan follows at once.
    using Settle = std::function<void(JobAction, const Job&, std::function<void()>)>;

    JobActionRunner(Perform perform, Reload reload, Settle settle = {}, QObject* parent = nullptr);

    // Returns at once. onDone runs after the rescan that follows a success, before busy clears.
    void run(JobAction action, const Job& job, std::function<void()> onDone = {});

    const std::optional<QString>& busy() const { return busy_; }
    const std::optional<QString>& failure() const { return failure_; }
    void setFailure(std::optional<QString> failure);

signals:
    void busyChanged();
    void failureChanged();
    // An action on the job of this id succeeded and the store has been rescanned; whichever view
    // started it, every view of that job may look again.
    void actionSucceeded(const QString& jobId);

private:
    void setBusy(std::optional<QString> busy);

    Perform perform_;
    Reload reload_;
    Settle settle_;
    std::optional<QString> busy_;
    std::optional<QString> failure_;
};

}  // namespace qw
