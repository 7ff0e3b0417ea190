#include "Quillwick/app/SettingsView.h"

#include "Quillwick/app/AboutSettings.h"
#include "Quillwick/app/AppServices.h"
#include "Quillwick/app/GeneralSettings.h"
#include "Quillwick/app/PrivilegesSettings.h"
#include "Quillwick/app/QuillwickApp.h"
#include "Quillwick/ui/CloseKeys.h"
#include "Quillwick/ui/Symbols.h"

namespace qw {

SettingsView::SettingsView(AppServices& services, QWidget* parent) : QTabWidget(parent) {
    setObjectName("settings");
    setWindowTitle("Settings");
    setFixedSize(520, 520);
    addTab(new GeneralSettings(this), symbolIcon("gearshape"), "General");
    addTab(new PrivilegesSettings(services.privileged(), this), symbolIcon("lock.shield"), "Privileges");
    addTab(new AboutSettings(
               [](const QString& identifier) {
                   if (QuillwickApp* app = QuillwickApp::instance())
                       app->openWindow(identifier);
               },
               this),
           symbolIcon("info.circle"), "About");

    closeWithEscapeAndCloseWindow(this);
}

}  // namespace qw
