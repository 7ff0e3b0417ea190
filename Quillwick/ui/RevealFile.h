// RevealFile: "Reveal in Finder" for every window — the file shown in the file manager, or its folder
// opened; when nothing can show it, an alert says where the file is.
#pragma once

#include <QString>

class QWidget;

namespace qw {

void revealFile(QWidget* parent, const QString& path);

}  // namespace qw
