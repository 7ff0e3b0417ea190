// PrivilegesSettings: the privileged helper's status, its install or remove button, what it can and
// cannot do, and the audit log of what has been done as root. AuditLogSheet shows that log.
#pragma once

#include <functional>
#include <optional>

#include <QDialog>
#include <QList>
#include <QWidget>


#include "Quillwick/store/AuditEntry.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace qw {

class PrivilegedClient;

// No Q_OBJECT: moc cannot see the condition around it, and the sheet declares no signals.
class AuditLogSheet : public QDialog {
public:
    AuditLogSheet(const QList<AuditEntry>& entries, std::function<void()> onClear, QWidget* parent = nullptr);
    void setEntries(const QList<AuditEntry>& entries);
    QListWidget* list() const { return list_; }

private:
    QListWidget* list_;
};

class PrivilegesSettings : public QWidget {
    Q_OBJECT
public:
    explicit PrivilegesSettings(PrivilegedClient* privileged, QWidget* parent = nullptr);

    // Reads the helper's status afresh and lays the pane out for it.
    void present();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void install();
    void remove();
    void showAuditLog();

    PrivilegedClient* privileged_;
    bool busy_ = false;
    std::optional<QString> failure_;
    QLabel* statusIcon_ = nullptr;
    QLabel* statusText_ = nullptr;
    QWidget* approvalRow_ = nullptr;
    QPushButton* installButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QLabel* failureLabel_ = nullptr;
    QLabel* footer_ = nullptr;
    QPushButton* auditButton_ = nullptr;
    QLabel* nothingYet_ = nullptr;
};

}  // namespace qw
