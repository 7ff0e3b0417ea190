// SettingsView: the single Settings window — General (open at login, updates), Privileges (the
// helper and the audit log) and About — at a fixed 520 × 520.
#pragma once

#include <QTabWidget>

namespace qw {

class AppServices;

class SettingsView : public QTabWidget {
    Q_OBJECT
public:
    explicit SettingsView(AppServices& services, QWidget* parent = nullptr);
};

}  // namespace qw
