#include "Quillwick/app/PrivilegesSettings.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QFutureWatcher>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "Quillwick/platform/gui/DesktopServices.h"
#include "Quillwick/store/PrivilegedClient.h"
#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"

namespace qw {
namespace {

QLabel* textLabel(const QString& text, QWidget* parent, bool secondary = false, bool caption = false) {
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    if (caption)
        l->setFont(captionFont());
    if (secondary) {
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, secondaryColor());
        l->setPalette(pal);
    }
    return l;
}

QWidget* iconRow(const QString& symbol, const QColor& tint, const QString& text, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* icon = new QLabel(row);
    icon->setPixmap(symbolIcon(symbol, tint).pixmap(16, 16));
    icon->setAlignment(Qt::AlignTop);
    layout->addWidget(icon);
    layout->addWidget(textLabel(text, row), 1);
    return row;
}

}  // namespace

AuditLogSheet::AuditLogSheet(const QList<AuditEntry>& entries, std::function<void()> onClear, QWidget* parent)
    : QDialog(parent), list_(new QListWidget(this)) {
    setObjectName("auditLogSheet");
    setWindowTitle("Done as Root");
    setWindowModality(Qt::WindowModal);
    setFixedSize(560, 420);
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel("Done as Root", this);
    title->setFont(headlineFont());
    layout->addWidget(title, 0, Qt::AlignHCenter);
    list_->setObjectName("auditList");
    layout->addWidget(list_, 1);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* clear = buttons->addButton("Clear", QDialogButtonBox::DestructiveRole);
    clear->setObjectName("auditClearButton");
    QPushButton* done = buttons->addButton("Done", QDialogButtonBox::AcceptRole);
    done->setDefault(true);
    connect(clear, &QPushButton::clicked, this, [onClear] { onClear(); });
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(buttons);
    setEntries(entries);
}

void AuditLogSheet::setEntries(const QList<AuditEntry>& entries) {
    list_->clear();
    for (const AuditEntry& entry : entries) {
        auto* item = new QListWidgetItem(list_);
        auto* row = new QWidget;
        auto* h = new QHBoxLayout(row);
        h->setSpacing(10);
        auto* icon = new QLabel(row);
        icon->setPixmap(entry.succeeded ? symbolIcon("checkmark.circle", secondaryColor()).pixmap(16, 16)
                                        : symbolIcon("xmark.circle", redColor()).pixmap(16, 16));
        icon->setAccessibleName(entry.succeeded ? "Succeeded" : "Failed");
        icon->setObjectName(entry.succeeded ? "auditSucceeded" : "auditFailed");
        h->addWidget(icon, 0, Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        auto* action = textLabel(entry.action, row);
        action->setObjectName("auditAction");
        texts->addWidget(action);
        if (entry.detail) {
            auto* detail = textLabel(*entry.detail, row, true, true);
            detail->setObjectName("auditDetail");
            texts->addWidget(detail);
        }
        h->addLayout(texts, 1);
        const QString date = QLocale().toString(entry.date.toLocalTime(), QLocale::ShortFormat);
        h->addWidget(textLabel(date, row, true, true), 0, Qt::AlignTop);
        // The row is drawn by its widget; a screen reader hears the item, which holds no text of its own.
        const QString outcome = entry.succeeded ? QStringLiteral("Succeeded") : QStringLiteral("Failed");
        item->setData(Qt::AccessibleTextRole, QStringList({entry.action, outcome, date}).join(", "));
        if (entry.detail)
            item->setData(Qt::AccessibleDescriptionRole, *entry.detail);
        item->setSizeHint(row->sizeHint());
        list_->setItemWidget(item, row);
    }
}

PrivilegesSettings::PrivilegesSettings(PrivilegedClient* privileged, QWidget* parent)
    : QWidget(parent), privileged_(privileged) {
    setObjectName("privilegesSettings");
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
    auto* body = new QWidget;
    scroll->setWidget(body);
    auto* layout = new QVBoxLayout(body);

    auto* helper = new QGroupBox("Privileged Helper", body);
    auto* form = new QFormLayout(helper);
    auto* status = new QWidget(helper);
    auto* statusLayout = new QHBoxLayout(status);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(6);
    statusIcon_ = new QLabel(status);
    statusText_ = textLabel("", status);
    statusText_->setObjectName("helperStatus");
    statusLayout->addWidget(statusIcon_);
    statusLayout->addWidget(statusText_, 1);
    form->addRow("Status", status);
    approvalRow_ = new QWidget(helper);
    auto* approval = new QHBoxLayout(approvalRow_);
    approval->setContentsMargins(0, 0, 0, 0);
    approval->addWidget(textLabel("macOS is holding the helper until you allow it.", approvalRow_, true), 1);
    auto* openLoginItems = new QPushButton("Open Login Items…", approvalRow_);
    connect(openLoginItems, &QPushButton::clicked, this, [] { openUrl(loginItemsSettingsUrl()); });
    approval->addWidget(openLoginItems);
    form->addRow(approvalRow_);
    installButton_ = new QPushButton("Install the Helper…", helper);
    installButton_->setObjectName("installHelperButton");
    removeButton_ = new QPushButton("Remove the Helper", helper);
    removeButton_->setObjectName("removeHelperButton");
    form->addRow(installButton_);
    form->addRow(removeButton_);
    failureLabel_ = textLabel("", helper);
    failureLabel_->setObjectName("helperFailure");
    QPalette red = failureLabel_->palette();
    red.setColor(QPalette::WindowText, redColor());
    failureLabel_->setPalette(red);
    form->addRow(failureLabel_);
    layout->addWidget(helper);
    footer_ = textLabel("", body, true, true);
    footer_->setObjectName("helperFooter");
    layout->addWidget(footer_);

    auto* can = new QGroupBox("What it can do", body);
    auto* canLayout = new QVBoxLayout(can);
    const QColor accent = palette().color(QPalette::Highlight);
    canLayout->addWidget(iconRow("doc", accent, "Read a job's plist", can));
    canLayout->addWidget(iconRow("square.and.pencil", accent,
                                 "Write and delete plists in /Library/LaunchAgents and /Library/LaunchDaemons", can));
    canLayout->addWidget(iconRow("lock.rotation", accent, "Set those files back to root:wheel, mode 644", can));
    canLayout->addWidget(iconRow("play.circle", accent,
                                 "Load, unload, enable, disable, start and stop jobs in the system domain", can));
    layout->addWidget(can);

    auto* cannot = new QGroupBox("What it cannot do", body);
    auto* cannotLayout = new QVBoxLayout(cannot);
    for (const char* text : {"Run any other command as root — the interface has no method for it",
                             "Touch anything under /System, or anything reached through a symbolic link",
                             "Accept a request from any process other than Quillwick itself"})
        cannotLayout->addWidget(iconRow("xmark.circle", secondaryColor(), QString::fromUtf8(text), cannot));
    layout->addWidget(cannot);
    layout->addWidget(textLabel("The helper takes a fixed list of operations rather than commands, checks every path "
                                "against those two folders after resolving symbolic links, and requires its caller "
                                "to be this app, signed by this developer.",
                                body, true, true));

    auto* audit = new QGroupBox("Audit", body);
    auto* auditLayout = new QVBoxLayout(audit);
    auditButton_ = new QPushButton("Show What Has Been Done as Root…", audit);
    auditButton_->setObjectName("showAuditLogButton");
    auditLayout->addWidget(auditButton_, 0, Qt::AlignLeft);
    nothingYet_ = textLabel("Nothing yet.", audit, true, true);
    nothingYet_->setObjectName("auditNothingYet");
    auditLayout->addWidget(nothingYet_);
    layout->addWidget(audit);
    layout->addStretch(1);

    connect(installButton_, &QPushButton::clicked, this, &PrivilegesSettings::install);
    connect(removeButton_, &QPushButton::clicked, this, &PrivilegesSettings::remove);
    connect(auditButton_, &QPushButton::clicked, this, &PrivilegesSettings::showAuditLog);
    if (privileged_)
        connect(privileged_, &PrivilegedClient::auditLogChanged, this, &PrivilegesSettings::present);
    present();
}

void PrivilegesSettings::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    present();
}

void PrivilegesSettings::present() {
    int raw = 3;
    bool emptyLog = true;
    if (privileged_) {
        raw = int(privileged_->helperStatus());
        emptyLog = privileged_->auditLog().isEmpty();
    }
    const bool enabled = raw == 1, approval = raw == 2;
    QString symbol = "circle", text = raw == 0 || raw == 3 ? "Not installed" : "Unknown";
    QColor tint = secondaryColor();
    if (enabled) {
        symbol = "checkmark.circle.fill";
        text = "Installed";
        tint = greenColor();
    } else if (approval) {
        symbol = "clock.fill";
        text = "Waiting for your approval";
        tint = orangeColor();
    }
    statusIcon_->setPixmap(symbolIcon(symbol, tint).pixmap(16, 16));
    statusText_->setText(text);
    approvalRow_->setVisible(approval);
    installButton_->setVisible(!enabled && !approval);
    removeButton_->setVisible(enabled || approval);
    installButton_->setEnabled(!busy_ && privileged_);
    removeButton_->setEnabled(!busy_ && privileged_);
    failureLabel_->setVisible(failure_.has_value());
    failureLabel_->setText(failure_.value_or(QString()));
    footer_->setText(
        enabled || approval
            ? QString("Changes to system daemons happen without a password prompt. The helper is a launchd job of its "
                      "own — you will find it in the job list — and it only runs while it is doing something you "
                      "asked for.\n\nRemoving it costs nothing but the prompts: everything still works, and Quillwick "
                      "goes back to asking for your password once per change.")
            : QString("Not installed, and nothing needs it. Your own agents in ~/Library/LaunchAgents are fully "
                      "editable without it, and every job on this Mac can be read and diagnosed without it. Only "
                      "changing /Library/LaunchAgents, /Library/LaunchDaemons or the system domain needs "
                      "administrator rights — and without the helper, Quillwick asks for your password each time it "
                      "does.\n\nInstalling it means a root-privileged service exists on this Mac whether or not "
                      "Quillwick is open. That is a real trade, which is why it is off by default."));
    auditButton_->setEnabled(!emptyLog);
    nothingYet_->setVisible(emptyLog);
}

void PrivilegesSettings::install() {
    busy_ = true;
    failure_.reset();
    try {
        privileged_->installHelper();
    } catch (const std::exception& e) {
        failure_ = QString::fromUtf8(e.what());
    }
    busy_ = false;
    present();
}

void PrivilegesSettings::remove() {
    busy_ = true;
    failure_.reset();
    present();
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher] {
        watcher->deleteLater();
        try {
            watcher->waitForFinished();
        } catch (const std::exception& e) {
            failure_ = QString::fromUtf8(e.what());
        }
        busy_ = false;
        present();
    });
    watcher->setFuture(privileged_->removeHelper());
}

void PrivilegesSettings::showAuditLog() {
    PrivilegedClient* client = privileged_;
    auto* sheet = new AuditLogSheet(client->auditLog(), [client] { client->clearAuditLog(); }, this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(client, &PrivilegedClient::auditLogChanged, sheet, [sheet, client] { sheet->setEntries(client->auditLog()); });
    sheet->open();
}

}  // namespace qw
