// GeneralSettings: "Open Quillwick at login" and the updater's two controls. The switch acts on the
// user's click only: re-reading the status when the pane is shown, or setting it back after a failed
// change, never registers or unregisters anything.
#pragma once

#include <optional>

#include <QWidget>

class QCheckBox;
class QLabel;

namespace qw {

class GeneralSettings : public QWidget {
    Q_OBJECT
public:
    explicit GeneralSettings(QWidget* parent = nullptr);

    // Reads the login item's status afresh.
    void refresh();
    void setOpensAtLogin(bool on);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void present();

    bool opensAtLogin_ = false;
    bool needsApproval_ = false;
    std::optional<QString> loginItemError_;
    QCheckBox* toggle_;
    QWidget* approvalRow_;
    QLabel* error_;
};

}  // namespace qw
