// How the Configure tab and the New Job sheet reach the operation router, the one test for a
// dismissed administrator prompt, which none of the editing tabs ever shows, and what they all say
// when a write fails, a refusal because the file changed on disk included.
#pragma once

#include <exception>
#include <functional>

#include <QString>

#include "Quillwick/editing/JobConfigureView.h"
#include "Quillwick/editing/NewJobView.h"

class QMessageBox;
class QWidget;

namespace qw {

class OperationRouter;

bool isCancelledPrompt(std::exception_ptr error);
// The window-modal alert for a failed write, with its `failure` text. When the router wrote nothing
// because the file is no longer what the edit was made on, "Reload" runs `reload` and the other
// button, the default, leaves everything as it is (the tab's unsaved edits, when `hasEdits`);
// otherwise it is "That didn’t work".
QMessageBox* showWriteFailure(QWidget* parent, std::exception_ptr error, const QString& failure, bool hasEdits,
                              std::function<void()> reload);
JobConfigureView::Operations configureOperations(OperationRouter& router);
NewJobView::Operations newJobOperations(OperationRouter& router);

}  // namespace qw
