#include "Quillwick/actions/JobActionRunner.h"

#include <QPointer>

namespace qw {

JobActionRunner::JobActionRunner(Perform perform, Reload reload, QObject* parent)
    : QObject(parent), perform_(std::move(perform)), reload_(std::move(reload)) {}

void JobActionRunner::run(JobAction action, const Job& job, std::function<void()> onDone) {
    if (busy_)
        return;
    setBusy(title(action));
    QPointer<JobActionRunner> self(this);
    perform_(action, job, [self, onDone = std::move(onDone)](Outcome outcome) {
        if (!self)
            return;
        if (outcome.kind != Outcome::Kind::succeeded) {
            if (outcome.kind == Outcome::Kind::failed)
                self->setFailure(outcome.message);
            self->setBusy(std::nullopt);
            return;
        }
        self->reload_([self, onDone] {
            if (!self)
                return;
            if (onDone)
                onDone();
            self->setBusy(std::nullopt);
        });
    });
}

void JobActionRunner::setBusy(std::optional<QString> busy) {
    if (busy == busy_)
        return;
    busy_ = std::move(busy);
    emit busyChanged();
}

void JobActionRunner::setFailure(std::optional<QString> failure) {
    if (failure == failure_)
        return;
    failure_ = std::move(failure);
    emit failureChanged();
}

}  // namespace qw
