// JobActionBar: the row of job controls in the detail header — Start or Restart and Stop, the
// Loaded and Enabled switches, their hint, the permission note, the reveal button and the copy menu.
// The switches act on the user's click only, so a rebuild after a rescan never runs an action.
#pragma once

#include <functional>

#include <QWidget>

#include "Quillwick/actions/JobAction.h"
#include "Quillwick/launchd/Job.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QToolButton;

namespace qw {

class FlowLayout;

class JobActionBar : public QWidget {
    Q_OBJECT
public:
    // What the operation router says of the job.
    struct Permissions {
        bool readOnly = false;
        bool needsAdministrator = false;
    };

    JobActionBar(const Job& job, Permissions permissions, bool isBusy, std::function<void(JobAction)> run,
                 QWidget* parent = nullptr);

    void setJob(const Job& job, Permissions permissions);
    void setBusy(bool isBusy);

private:
    void rebuild();

    Job job_;
    Permissions permissions_;
    bool isBusy_;
    std::function<void(JobAction)> run_;
    // Goes on in a second line in a narrow pane rather than cut its controls.
    FlowLayout* layout_;
};

}  // namespace qw
