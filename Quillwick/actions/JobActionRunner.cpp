#include "Quillwick/actions/JobActionRunner.h"

#include <QPointer>

namespace qw {

JobActionRunner::JobActionRunner(Perform perform, Reload reload, Settle settle, QObject* parent)
    : QObject(parent), perform_(std::move(perform)), reload_(std::move(reload)), settle_(std::move(settle)) {}

void JobActionRunner::run(JobAction action, const Job& job, std::function<void()> onDone) {
    if (busy_)
        return;
    setBusy(title(action));
    QPointer<JobActionRunner> self(this);
    perform_(action, job, [self, action, job, onDone = std::move(onDone)](Outcome outcome) {
        if (!self)
            return;
        if (outcome.kind != Outcome::Kind::succeeded) {
            if (outcome.kind == Outcome::Kind::failed)
                self->setFailure(outcome.message);
            self->setBusy(std::nullopt);
            return;
        }
        auto reload = [self, id = QString::fromStdString(job.id()), onDone] {
            if (!self)
                return;
            self->reload_([self, id, onDone] {
                if (!self)
                    return;
                emit self->actionSucceeded(id);
                if (onDone)
                    onDone();
                self->setBusy(std::nullopt);
            });
        };
        if (self->settle_)
            self->settle_(action, job, reload);
        else
            reload();
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
