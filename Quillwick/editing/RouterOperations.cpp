#include "Quillwick/editing/RouterOperations.h"

#include "Quillwick/store/OperationRouter.h"
#include "Quillwick/store/PrivilegedError.h"

namespace qw {

bool isCancelledPrompt(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const PrivilegedError& e) {
        return e.isCancelled();
    } catch (...) {
        return false;
    }
}

JobConfigureView::Operations configureOperations(OperationRouter& router) {
    return {[&router](const Job& job) { return router.isReadOnly(job); },
            [&router](const Job& job) { return router.needsAdministrator(job); },
            [&router](const JobDefinition& definition, const Job& job) { return router.save(definition, job); },
            isCancelledPrompt};
}

NewJobView::Operations newJobOperations(OperationRouter& router) {
    return {[&router](const JobDefinition& definition) { return router.create(definition); },
            [&router](const Job& job) { return router.load(job); }, isCancelledPrompt};
}

JobConfigureView::JobConfigureView(Job job, OperationRouter& router, OnSaved onSaved, QWidget* parent)
    : JobConfigureView(std::move(job), configureOperations(router), std::move(onSaved), parent) {}

NewJobView::NewJobView(OperationRouter& router, OnCreated onCreated, QWidget* parent)
    : NewJobView(newJobOperations(router), std::move(onCreated), parent) {}

}  // namespace qw
