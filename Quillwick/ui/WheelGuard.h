// The mouse wheel over a form scrolls the form: a picker or a stepper inside it takes the wheel only
// while it has keyboard focus, so scrolling past one never changes a value the user did not choose.
#pragma once

class QWidget;

namespace qw {

// Guards every picker (QComboBox) and stepper (QAbstractSpinBox) inside `root`, also those added later,
// for as long as `root` lives.
void guardWheel(QWidget* root);

}  // namespace qw
