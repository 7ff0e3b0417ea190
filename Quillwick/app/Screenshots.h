// Screenshots: for `make run` without a display — once the main window lists the demo machine's jobs,
// saves pictures of the main views into a folder, then quits.
#pragma once

#include <QString>

namespace qw {

class QuillwickApp;

// Starts the tour; the program quits when the last picture is saved.
void takeScreenshots(QuillwickApp& app, const QString& folder);

}  // namespace qw
