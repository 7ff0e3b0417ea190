// The program Quillwick: the application object and its first main window. With
// `--screenshots <folder>` it saves pictures of its main views once the jobs are listed, and quits.
#include <QApplication>

#include "Quillwick/app/QuillwickApp.h"
#include "Quillwick/app/Screenshots.h"
#include "Quillwick/ui/AccessibleToggles.h"
#include "helperkit/PeerRequirement.h"

int main(int argc, char** argv) {
    // Before anything else: the helper serves only a process its own user cannot write into.
    qw::HelperSocket::sealProcess();
    QApplication application(argc, argv);
    QApplication::setOrganizationName("tarnmoor");
    QApplication::setApplicationName("Quillwick");
    QApplication::setApplicationDisplayName("Quillwick");
    QApplication::setDesktopFileName("com.tarnmoor.quillwick");
    // Main windows decide when the program ends, not the Settings or feedback window.
    QApplication::setQuitOnLastWindowClosed(false);
    qw::installAccessibleToggles();
    qw::QuillwickApp app;
    app.newMainWindow();
    const QStringList arguments = QApplication::arguments();
    if (const qsizetype at = arguments.indexOf("--screenshots"); at >= 0 && at + 1 < arguments.size())
        qw::takeScreenshots(app, arguments.at(at + 1));
    return application.exec();
}
