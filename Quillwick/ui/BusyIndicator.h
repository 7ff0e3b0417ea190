// The small indeterminate progress indicator that sits beside a control while its work runs.
#pragma once

class QProgressBar;
class QWidget;

namespace qw {

QProgressBar* smallBusyIndicator(QWidget* parent);

}  // namespace qw
