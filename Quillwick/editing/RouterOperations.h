// How the Configure tab and the New Job sheet reach the operation router, and the one test for a
// dismissed administrator prompt, which neither ever shows.
#pragma once

#include <exception>

#include "Quillwick/editing/JobConfigureView.h"
#include "Quillwick/editing/NewJobView.h"

namespace qw {

class OperationRouter;

bool isCancelledPrompt(std::exception_ptr error);
JobConfigureView::Operations configureOperations(OperationRouter& router);
NewJobView::Operations newJobOperations(OperationRouter& router);

}  // namespace qw
