// The program Quillwick: the application object and its first main window.
#include <QApplication>

#include "Quillwick/app/QuillwickApp.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName("tarnmoor");
    QApplication::setApplicationName("Quillwick");
    QApplication::setApplicationDisplayName("Quillwick");
    QApplication::setDesktopFileName("com.tarnmoor.quillwick");
    // Main windows decide when the program ends, not the Settings or feedback window.
    QApplication::setQuitOnLastWindowClosed(false);
    qw::QuillwickApp app;
    app.newMainWindow();
    return application.exec();
}
