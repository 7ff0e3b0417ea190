// FailureAlert: the window-modal alerts — "That didn’t work" with a failure's text, or any other title —
// with one "OK".
#pragma once

#include <QString>

class QMessageBox;
class QWidget;

namespace qw {

// Opens the alert with open() (never exec()) and deletes it when closed. The box is returned so a
// caller can act when it is dismissed (its finished signal). The message is plain text, shown whole.
QMessageBox* showAlert(QWidget* parent, const QString& title, const QString& message);
// The alert "That didn’t work".
QMessageBox* showFailure(QWidget* parent, const QString& message);
// An alert that asks: `question` over `message`, both breaking a long word (a label) as a message does.
// Its one button, "Cancel", is the escape button; the caller adds the others.
QMessageBox* showQuestion(QWidget* parent, const QString& question, const QString& message);

}  // namespace qw
