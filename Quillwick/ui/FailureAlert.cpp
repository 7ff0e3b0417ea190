#include "Quillwick/ui/FailureAlert.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>

namespace qw {

QMessageBox* showFailure(QWidget* parent, const QString& message) {
    auto* box = new QMessageBox(parent);
    box->setObjectName("failureAlert");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("That didn’t work"));
    box->setText(QStringLiteral("That didn’t work"));
    box->setTextFormat(Qt::PlainText);
    // The informative label guesses its format; convert so a message is never read as HTML.
    box->setInformativeText(Qt::convertFromPlainText(message, Qt::WhiteSpaceNormal));
    QPushButton* ok = box->addButton(QStringLiteral("OK"), QMessageBox::RejectRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    box->open();
    return box;
}

}  // namespace qw
