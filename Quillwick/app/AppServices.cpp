#include "Quillwick/app/AppServices.h"

#include <QFutureWatcher>
#include <QThreadPool>
#include <QtConcurrent>

#include "Quillwick/actions/ActionSettling.h"
#include "Quillwick/cron/CrontabStore.h"
#include "Quillwick/store/OperationRouter.h"
#include "Quillwick/store/PrivilegedClient.h"
#include "Quillwick/store/PrivilegedError.h"

namespace qw {
namespace {

// Calls `then` on the main thread once the future is done, unless the context went first.
template <typename T, typename F>
void whenDone(QFuture<T> future, QObject* context, F then) {
    auto* watcher = new QFutureWatcher<T>(context);
    QObject::connect(watcher, &QFutureWatcher<T>::finished, context, [watcher, then]() mutable {
        watcher->deleteLater();
        then(watcher->future());
    });
    watcher->setFuture(future);
}

// Waits on launchd after actions; its own threads, so a slow launchctl never holds up the scans.
QThreadPool& settlePool() {
    static QThreadPool* pool = new QThreadPool;
    return *pool;
}

}  // namespace

AppServices::AppServices(QObject* parent) : QObject(parent), store_(std::make_unique<JobStore>()) {
    privileged_ = std::make_shared<PrivilegedClient>();
    crontab_ = std::make_shared<CrontabStore>();
    router_ = std::make_shared<OperationRouter>(
        [client = privileged_.get()](const HelperRequest& request) { return client->perform(request); });
    JobActionRunner::Perform perform = [this](JobAction action, const Job& job, JobActionRunner::Done done) {
        using Kind = JobActionRunner::Outcome::Kind;
        OperationRouter& r = *router_;
        QFuture<void> future;
        switch (action) {
        case JobAction::start:
        case JobAction::restart: future = r.start(job); break;  // a kickstart restarts a running job
        case JobAction::stop: future = r.stop(job); break;
        case JobAction::load: future = r.load(job); break;
        case JobAction::unload: future = r.unload(job); break;
        case JobAction::enable: future = r.enable(job); break;
        case JobAction::disable: future = r.disable(job); break;
        }
        whenDone(future, this, [done](QFuture<void> finished) {
            try {
                finished.waitForFinished();
                done({Kind::succeeded, {}});
            } catch (const PrivilegedError& e) {
                if (e.isCancelled())
                    done({Kind::cancelled, {}});
                else
                    done({Kind::failed, QString::fromUtf8(e.what())});
            } catch (const std::exception& e) {
                done({Kind::failed, QString::fromUtf8(e.what())});
            }
        });
    };
    JobActionRunner::Reload reload = [this](std::function<void()> then) {
        whenDone(store_->reload(), this, [then](const QFuture<void>&) { then(); });
    };
    JobActionRunner::Settle settle = [this](JobAction action, const Job& job, std::function<void()> then) {
        if (!ActionSettling::concernsProcesses(action)) {
            then();
            return;
        }
        auto settled = QtConcurrent::run(&settlePool(), [action, target = job.serviceTarget(), pid = job.pid()] {
            ActionSettling::waitUntilSettled(action, target, pid);
        });
        whenDone(settled, this, [then](const QFuture<void>&) { then(); });
    };
    actions_ = std::make_unique<JobActionRunner>(perform, reload, settle);
}

AppServices::~AppServices() = default;

bool AppServices::isReadOnly(const Job& job) const {
    return router_->isReadOnly(job);
}

bool AppServices::needsAdministrator(const Job& job) const {
    return router_->needsAdministrator(job);
}

}  // namespace qw
