// RevealFile: "Reveal in Finder" for every window — the file shown in the file manager, or its folder
// opened; when nothing can show it, an alert says where the file is. Links the windows open take the
// same road, and their alert gives the address.
#pragma once

#include <QString>
#include <QUrl>

class QWidget;

namespace qw {

void revealFile(QWidget* parent, const QString& path);
void openLink(QWidget* parent, const QUrl& url);

}  // namespace qw
