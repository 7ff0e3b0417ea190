#include "Quillwick/ui/RevealFile.h"

#include <QMessageBox>
#include <QPointer>

#include "Quillwick/platform/gui/DesktopServices.h"
#include "Quillwick/ui/FailureAlert.h"

namespace qw {

void revealFile(QWidget* parent, const QString& path) {
    const QPointer<QWidget> owner(parent);
    revealInFileManager(path, parent, [owner, path] {
        QMessageBox* box =
            showAlert(owner, QStringLiteral("Couldn’t show the file"),
                      QStringLiteral("Nothing on this computer could open its folder. The file is at:\n") + path);
        box->setObjectName("revealAlert");
        box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    });
}

}  // namespace qw
