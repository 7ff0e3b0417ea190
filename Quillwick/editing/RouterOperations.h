// How the Configure tab and the New Job sheet reach the operation router, the one test for a
// dismissed administrator prompt, which none of the editing tabs ever shows, and what they all say
// when a save was refused because the file changed on disk.
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
// The router wrote nothing because the file is no longer what the edit was made on.
bool isChangedOnDisk(std::exception_ptr error);
// The window-modal alert for that, with the router's `failure` text: "Reload" runs `reload`; the other
// button, the default, leaves everything as it is (the tab's unsaved edits, when `hasEdits`).
QMessageBox* offerReload(QWidget* parent, const QString& failure, bool hasEdits, std::function<void()> reload);
JobConfigureView::Operations configureOperations(OperationRouter& router);
NewJobView::Operations newJobOperations(OperationRouter& router);

}  // namespace qw
