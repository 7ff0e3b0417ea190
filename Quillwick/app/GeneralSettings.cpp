#include "Quillwick/app/GeneralSettings.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Quillwick/app/LoginItem.h"
#include "Quillwick/app/UpdaterControls.h"
#include "Quillwick/platform/gui/DesktopServices.h"
#include "Quillwick/app/Updater.h"
#include "Quillwick/ui/Style.h"

namespace qw {
namespace {
QLabel* secondaryLabel(const QString& text, QWidget* parent, bool caption) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    if (caption)
        label->setFont(captionFont());
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, secondaryColor());
    label->setPalette(pal);
    return label;
}
}  // namespace

GeneralSettings::GeneralSettings(QWidget* parent)
    : QWidget(parent), toggle_(new QCheckBox("Open Quillwick at login")), approvalRow_(new QWidget),
      error_(new QLabel) {
    setObjectName("generalSettings");
    auto* layout = new QVBoxLayout(this);

    auto* login = new QGroupBox;
    auto* loginLayout = new QVBoxLayout(login);
    toggle_->setObjectName("opensAtLoginToggle");
    loginLayout->addWidget(toggle_);
    approvalRow_->setObjectName("loginApprovalRow");
    auto* approval = new QHBoxLayout(approvalRow_);
    approval->setContentsMargins(0, 0, 0, 0);
    approval->addWidget(secondaryLabel("macOS is holding this until you allow it.", approvalRow_, false), 1);
    auto* open = new QPushButton("Open Login Items…", approvalRow_);
    connect(open, &QPushButton::clicked, this, [] { openUrl(loginItemsSettingsUrl()); });
    approval->addWidget(open);
    loginLayout->addWidget(approvalRow_);
    error_->setObjectName("loginItemError");
    error_->setTextFormat(Qt::PlainText);
    error_->setWordWrap(true);
    QPalette red = error_->palette();
    red.setColor(QPalette::WindowText, redColor());
    error_->setPalette(red);
    loginLayout->addWidget(error_);
    layout->addWidget(login);
    layout->addWidget(secondaryLabel(
        "This registers Quillwick with the same login-item mechanism it shows you — you will find it in the job list.",
        this, true));

    Updater& updater = Updater::shared();
    auto* updates = new QGroupBox("Updates");
    updates->setObjectName("updatesSection");
    auto* updatesLayout = new QVBoxLayout(updates);
    updatesLayout->addWidget(new AutomaticUpdatesToggle(updater, updates));
    updatesLayout->addWidget(new CheckForUpdatesButton(updater, updates), 0, Qt::AlignLeft);
    // Both controls show nothing without an updater, and neither does their section then.
    updates->setVisible(updater.controller() != nullptr);
    layout->addWidget(updates);
    layout->addStretch(1);

    connect(toggle_, &QCheckBox::clicked, this, &GeneralSettings::setOpensAtLogin);
    refresh();
}

void GeneralSettings::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
}

void GeneralSettings::refresh() {
    const LoginItem::Status status = LoginItem::status();
    opensAtLogin_ = status == LoginItem::Status::enabled || status == LoginItem::Status::requiresApproval;
    needsApproval_ = status == LoginItem::Status::requiresApproval;
    present();
}

void GeneralSettings::setOpensAtLogin(bool on) {
    try {
        LoginItem::setEnabled(on);
        loginItemError_.reset();
        opensAtLogin_ = on;
    } catch (const std::exception& e) {
        loginItemError_ = QString::fromUtf8(e.what());
        const LoginItem::Status status = LoginItem::status();
        opensAtLogin_ = status == LoginItem::Status::enabled || status == LoginItem::Status::requiresApproval;
    }
    needsApproval_ = LoginItem::status() == LoginItem::Status::requiresApproval;
    present();
}

void GeneralSettings::present() {
    // setChecked fires toggled, never clicked: showing the state runs nothing.
    toggle_->setChecked(opensAtLogin_);
    approvalRow_->setVisible(needsApproval_);
    error_->setVisible(loginItemError_.has_value());
    error_->setText(loginItemError_.value_or(QString()));
}

}  // namespace qw
