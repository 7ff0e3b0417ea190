// FailureAlert: the window-modal alert "That didn’t work" with the failure's text and one "OK".
#pragma once

#include <QString>

class QMessageBox;
class QWidget;

namespace qw {

// Opens the alert with open() (never exec()) and deletes it when closed. The box is returned so a
// caller can act when it is dismissed (its finished signal).
QMessageBox* showFailure(QWidget* parent, const QString& message);

}  // namespace qw
