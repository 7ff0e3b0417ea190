// AppServices: the one service container of the program, made once at start and shared by every
// window. Its services are built in a fixed order: the store, the privileged client (which loads the
// audit log), the crontab store, the router over the client, the runner over the router and store.
#pragma once

#include <memory>

#include <QObject>

#include "Quillwick/actions/JobActionRunner.h"
#include "Quillwick/store/JobStore.h"

namespace qw {

class PrivilegedClient;
class OperationRouter;
class CrontabStore;

class AppServices : public QObject {
    Q_OBJECT
public:
    explicit AppServices(QObject* parent = nullptr);
    ~AppServices() override;

    JobStore& store() { return *store_; }
    PrivilegedClient* privileged() { return privileged_.get(); }
    OperationRouter* router() { return router_.get(); }
    JobActionRunner& actions() { return *actions_; }
    CrontabStore* crontab() { return crontab_.get(); }

    // What the router says of a job; read-only for every job while there is no router.
    bool isReadOnly(const Job& job) const;
    bool needsAdministrator(const Job& job) const;

private:
    std::unique_ptr<JobStore> store_;
    std::shared_ptr<PrivilegedClient> privileged_;  // shared: the type may be incomplete here
    std::shared_ptr<CrontabStore> crontab_;
    std::shared_ptr<OperationRouter> router_;
    std::unique_ptr<JobActionRunner> actions_;
};

}  // namespace qw
