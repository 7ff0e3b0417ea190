// JobActionsMenu: the context menu of a job row — the actions that apply to the job, then the
// reveal and copy commands. It runs nothing itself: every action goes to `run`.
#pragma once

#include <functional>

#include "Quillwick/actions/JobAction.h"
#include "Quillwick/launchd/Job.h"

class QMenu;
class QWidget;

namespace qw {

// readOnly: the operation router calls the job read-only; the action group is then disabled, while
// the reveal and copy commands still work.
QMenu* makeJobActionsMenu(const Job& job, bool readOnly, std::function<void(JobAction)> run,
                          QWidget* parent = nullptr);

// The path of the job's file and of its first log, or "" when it has none.
QString jobFilePath(const Job& job);
QString firstLogPath(const Job& job);

}  // namespace qw
