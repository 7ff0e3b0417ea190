#include "Quillwick/cron/CronDetailView.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "Quillwick/cron/CronDiagnostics.h"
#include "Quillwick/cron/CronIssueRow.h"
#include "Quillwick/cron/CrontabStore.h"
#include "Quillwick/ui/BusyIndicator.h"
#include "Quillwick/ui/FailureAlert.h"
#include "Quillwick/ui/Hint.h"
#include "Quillwick/ui/Style.h"

namespace qw {

namespace {

QLabel* plainLabel(const QString& text, QWidget* parent, const char* name) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void setSecondary(QLabel* label) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, secondaryColor());
    label->setPalette(palette);
}

void clear(QVBoxLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
}

QFont monospaceCaption() {
    QFont font = monospaceFont();
    font.setPointSizeF(captionFont().pointSizeF() > 0 ? captionFont().pointSizeF() : font.pointSizeF());
    return font;
}

}  // namespace

CronDetailView::CronDetailView(CronJob job, CrontabStore* store, QWidget* parent)
    : QWidget(parent), job_(std::move(job)), store_(store) {
    setObjectName("cronDetail");
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* content = new QWidget(scroll);
    auto* stack = new QVBoxLayout(content);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(20);
    scroll->setWidget(content);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    auto* controls = new QHBoxLayout;
    controls->setSpacing(10);
    enabled_ = new QCheckBox(QStringLiteral("Enabled"), content);
    enabled_->setObjectName("enabledSwitch");
    controls->addWidget(enabled_);
    controls->addWidget(new Hint(Hint::cronDisabling(), content));
    controls->addStretch(1);
    progress_ = smallBusyIndicator(content);
    progress_->setObjectName("busyIndicator");
    controls->addWidget(progress_);
    delete_ = new QPushButton(QStringLiteral("Delete…"), content);
    delete_->setObjectName("deleteButton");
    controls->addWidget(delete_);
    stack->addLayout(controls);
    // The user's flip only: a rescan that sets the switch must not save.
    connect(enabled_, &QCheckBox::clicked, this, &CronDetailView::setEntryEnabled);
    connect(delete_, &QPushButton::clicked, this, &CronDetailView::deleteEntry);

    QWidget* box = nullptr;
    QVBoxLayout* runs = section(QStringLiteral("Runs"), &box);
    description_ = plainLabel({}, box, "scheduleDescription");
    description_->setWordWrap(true);
    expression_ = plainLabel({}, box, "scheduleExpression");
    expression_->setFont(monospaceCaption());
    setSecondary(expression_);
    runs->addWidget(description_);
    runs->addWidget(expression_);
    stack->addWidget(box);

    QVBoxLayout* command = section(QStringLiteral("Command"), &box);
    command_ = plainLabel({}, box, "commandText");
    command_->setFont(monospaceFont());
    command_->setWordWrap(true);
    command_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    command->addWidget(command_);
    stack->addWidget(box);

    environment_ = section(QStringLiteral("Environment"), &environmentBox_);
    environmentBox_->setObjectName("environmentSection");
    stack->addWidget(environmentBox_);
    problems_ = section(QStringLiteral("Problems"), &problemsBox_);
    problemsBox_->setObjectName("problemsSection");
    stack->addWidget(problemsBox_);
    stack->addStretch(1);

    connect(store_, &CrontabStore::crontabChanged, this, &CronDetailView::follow);
    connect(store_, &CrontabStore::isSavingChanged, this, &CronDetailView::updateControls);
    refresh();
}

QVBoxLayout* CronDetailView::section(const QString& title, QWidget** box) {
    *box = new QWidget(this);
    auto* layout = new QVBoxLayout(*box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* heading = plainLabel(title, *box, "sectionTitle");
    heading->setFont(headlineFont());
    layout->addWidget(heading);
    auto* body = new QVBoxLayout;
    body->setSpacing(8);
    layout->addLayout(body);
    return body;
}

void CronDetailView::setJob(const CronJob& job) {
    job_ = job;
    refresh();
}

void CronDetailView::follow() {
    // A switch flip rereads the same entry on the same line; take it, so the switch shows it.
    for (const CronJob& job : store_->crontab().jobs()) {
        if (job.line == job_.line && job.schedule == job_.schedule && job.command == job_.command) {
            job_ = job;
            break;
        }
    }
    refresh();
}

void CronDetailView::refresh() {
    description_->setText(QString::fromStdString(job_.description()));
    expression_->setText(QString::fromUtf8(job_.schedule.expression()));
    command_->setText(QString::fromUtf8(job_.command));

    const Crontab& crontab = store_->crontab();
    clear(environment_);
    for (const auto& [name, value] : crontab.environment()) {
        auto* line = plainLabel(QString::fromUtf8(name + "=" + value), environmentBox_, "environmentLine");
        line->setFont(monospaceCaption());
        line->setTextInteractionFlags(Qt::TextSelectableByMouse);
        environment_->addWidget(line);
    }
    environmentBox_->setVisible(environment_->count() > 0);

    clear(problems_);
    for (const Issue& issue : CronDiagnostics::issues(job_, crontab)) problems_->addWidget(new CronIssueRow(issue, problemsBox_));
    problemsBox_->setVisible(problems_->count() > 0);
    updateControls();
}

void CronDetailView::updateControls() {
    const bool idle = !busy_ && !store_->isSaving();
    // While its save runs the switch keeps the user's flip; afterwards it shows the stored entry.
    if (!busy_) enabled_->setChecked(!job_.isDisabled);
    enabled_->setEnabled(idle);
    delete_->setEnabled(idle);
    progress_->setVisible(busy_);
}

void CronDetailView::setEntryEnabled(bool enabled) {
    Crontab edited = store_->crontab();
    CronJob job = job_;
    job.isDisabled = !enabled;
    edited.replacing(job);
    save(edited);
}

void CronDetailView::deleteEntry() {
    Crontab edited = store_->crontab();
    edited.removing(job_);
    save(edited);
}

void CronDetailView::save(const Crontab& edited) {
    if (busy_ || store_->isSaving()) return;
    busy_ = true;
    updateControls();
    QPointer<CronDetailView> self(this);
    store_->save(edited, [self](const std::optional<QString>& failure) {
        if (!self) return;
        self->busy_ = false;
        self->failure_ = failure;
        // The switch shows the entry as the store has it, whatever the click left it at.
        self->updateControls();
        if (failure) {
            // The window's: the reload that came with the failure may take this pane away.
            QMessageBox* alert = showFailure(self->window(), *failure);
            connect(alert, &QMessageBox::finished, self, [self] {
                if (self) self->failure_.reset();
            });
        }
    });
}

}  // namespace qw
