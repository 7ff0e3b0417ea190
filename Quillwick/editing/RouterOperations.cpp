#include "Quillwick/editing/RouterOperations.h"

#include <QMessageBox>
#include <QPushButton>

#include "Quillwick/store/OperationRouter.h"
#include "Quillwick/store/PrivilegedError.h"
#include "Quillwick/ui/FailureAlert.h"

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

namespace {

bool isChangedOnDisk(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const OperationRouter::OperationError& e) {
        return e.kind() == OperationRouter::OperationError::Kind::changedOnDisk;
    } catch (...) {
        return false;
    }
}

}  // namespace

QMessageBox* showWriteFailure(QWidget* parent, std::exception_ptr error, const QString& failure, bool hasEdits,
                              std::function<void()> reload) {
    if (!isChangedOnDisk(error)) return showFailure(parent, failure);
    const QString message =
        failure + (hasEdits ? QStringLiteral(" Reload shows the file as it is now, in place of your unsaved changes; "
                                             "until then they stay here.")
                            : QStringLiteral(" Reload shows the job as it is now and checks it again."));
    QMessageBox* box = showAlert(parent, QStringLiteral("The file changed on disk"), message);
    box->setObjectName(QStringLiteral("changedOnDiskAlert"));
    // Unsaved edits go only when the user says so: the safe answer is the default one.
    box->buttons().front()->setText(hasEdits ? QStringLiteral("Keep Editing") : QStringLiteral("Cancel"));
    QPushButton* reloadButton = box->addButton(QStringLiteral("Reload"), QMessageBox::AcceptRole);
    reloadButton->setObjectName(QStringLiteral("reloadButton"));
    QObject::connect(reloadButton, &QPushButton::clicked, box, [reload = std::move(reload)] { reload(); });
    return box;
}

JobConfigureView::Operations configureOperations(OperationRouter& router) {
    return {[&router](const Job& job) { return router.isReadOnly(job); },
            [&router](const Job& job) { return router.needsAdministrator(job); },
            [&router](const JobDefinition& definition, const Job& job, const JobDefinition& basis) {
                return router.save(definition, job, basis);
            },
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
