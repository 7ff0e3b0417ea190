#include "Quillwick/ui/RevealFile.h"

#include <QMessageBox>
#include <QPointer>

#include "Quillwick/platform/gui/DesktopServices.h"
#include "Quillwick/ui/FailureAlert.h"

namespace qw {

namespace {

// The place is selectable, so that it can be copied and opened by hand.
auto alertWhenNothingOpens(QWidget* parent, QString title, QString message) {
    return [owner = QPointer<QWidget>(parent), title = std::move(title), message = std::move(message)] {
        QMessageBox* box = showAlert(owner, title, message);
        box->setObjectName("revealAlert");
        box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    };
}

}  // namespace

void revealFile(QWidget* parent, const QString& path) {
    revealInFileManager(path, parent,
                        alertWhenNothingOpens(parent, QStringLiteral("Couldn’t show the file"),
                                              QStringLiteral("Nothing on this computer could open its folder. "
                                                             "The file is at:\n") + path));
}

void openLink(QWidget* parent, const QUrl& url) {
    openWithDesktop(url, parent,
                    alertWhenNothingOpens(parent, QStringLiteral("Couldn’t open the link"),
                                          QStringLiteral("Nothing on this computer could open it. The address is:\n") +
                                              url.toString()));
}

}  // namespace qw
