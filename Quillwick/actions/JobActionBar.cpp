#include "Quillwick/actions/JobActionBar.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

#include "Quillwick/actions/JobActionsMenu.h"
#include "Quillwick/platform/gui/DesktopServices.h"
#include "Quillwick/ui/FlowLayout.h"
#include "Quillwick/ui/Hint.h"
#include "Quillwick/ui/RevealFile.h"
#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"

namespace qw {

JobActionBar::JobActionBar(const Job& job, Permissions permissions, bool isBusy, std::function<void(JobAction)> run,
                           QWidget* parent)
    : QWidget(parent), job_(job), permissions_(permissions), isBusy_(isBusy), run_(std::move(run)),
      layout_(new FlowLayout(this)) {
    setObjectName("jobActionBar");
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(14);
    rebuild();
}

void JobActionBar::setJob(const Job& job, Permissions permissions) {
    if (job == job_ && permissions.readOnly == permissions_.readOnly &&
        permissions.needsAdministrator == permissions_.needsAdministrator)
        return;
    job_ = job;
    permissions_ = permissions;
    rebuild();
}

void JobActionBar::setBusy(bool isBusy) {
    isBusy_ = isBusy;
    setEnabled(!isBusy_ && !permissions_.readOnly);
}

void JobActionBar::rebuild() {
    while (QLayoutItem* item = layout_->takeAt(0)) {
        // Later: the control being clicked may be one of them.
        if (QWidget* w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
    auto runner = [this](JobAction action) { return [this, action] { run_(action); }; };
    const bool hasFile = job_.definition.has_value();

    if (job_.isRunning()) {
        auto* restart = new QPushButton("Restart", this);
        restart->setObjectName("restartButton");
        auto* stop = new QPushButton("Stop", this);
        stop->setObjectName("stopButton");
        connect(restart, &QPushButton::clicked, this, runner(JobAction::restart));
        connect(stop, &QPushButton::clicked, this, runner(JobAction::stop));
        layout_->addWidget(restart);
        layout_->addWidget(stop);
    } else {
        auto* start = new QPushButton(symbolIcon("play.fill"), "Start", this);
        start->setObjectName("startButton");
        start->setDefault(true);
        start->setEnabled(job_.isLoaded() && !job_.isDisabled);
        start->setToolTip(job_.isDisabled    ? "This job is disabled. Switch Enabled on before it can start."
                          : !job_.isLoaded() ? "This job is not loaded. Switch Loaded on before it can start."
                                             : "Start the job now");
        connect(start, &QPushButton::clicked, this, runner(JobAction::start));
        layout_->addWidget(start);
    }

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::VLine);
    divider->setFixedHeight(16);
    layout_->addWidget(divider);

    auto* loaded = new QCheckBox("Loaded", this);
    loaded->setObjectName("loadedSwitch");
    loaded->setChecked(job_.isLoaded());
    loaded->setEnabled(hasFile && !job_.isDisabled);
    loaded->setToolTip(!hasFile           ? "This job has no file — an app registered it with the system directly."
                       : job_.isDisabled ? "A disabled job cannot be loaded. Switch Enabled on first."
                                         : "Whether launchd knows about this job right now.");
    // The switch shows the job as it was; the rescan after the action moves it.
    connect(loaded, &QCheckBox::clicked, this, [this, loaded](bool on) {
        loaded->setChecked(job_.isLoaded());
        run_(on ? JobAction::load : JobAction::unload);
    });
    layout_->addWidget(loaded);

    auto* enabled = new QCheckBox("Enabled", this);
    enabled->setObjectName("enabledSwitch");
    enabled->setChecked(!job_.isDisabled);
    enabled->setToolTip(
        "launchd keeps this separately from the job's file — it survives edits, and even deleting and recreating "
        "the job.");
    connect(enabled, &QCheckBox::clicked, this, [this, enabled](bool on) {
        enabled->setChecked(!job_.isDisabled);
        run_(on ? JobAction::enable : JobAction::disable);
    });
    layout_->addWidget(enabled);
    layout_->addWidget(new Hint(Hint::loadedVersusEnabled(), this));
    layout_->addStretch();
    layout_->addSpacing(8);

    QString note, noteSymbol, noteHelp;
    if (permissions_.readOnly) {
        note = "Read only";
        noteSymbol = "lock.fill";
        noteHelp = "This job is part of macOS. Quillwick shows it but never changes it.";
    } else if (!(job_.domain() == LaunchdDomain::currentGUI()) || permissions_.needsAdministrator) {
        note = "Needs your password";
        noteSymbol = "lock";
        noteHelp = "This job lives outside your home folder, so changing it needs an administrator password.";
    }
    if (!note.isEmpty()) {
        auto* box = new QWidget(this);
        box->setObjectName("permissionNote");
        box->setToolTip(noteHelp);
        auto* row = new QHBoxLayout(box);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(4);
        auto* icon = new QLabel(box);
        icon->setPixmap(symbolIcon(noteSymbol, secondaryColor()).pixmap(12, 12));
        auto* text = new QLabel(note, box);
        text->setObjectName("permissionNoteText");
        text->setFont(captionFont());
        QPalette pal = text->palette();
        pal.setColor(QPalette::WindowText, secondaryColor());
        text->setPalette(pal);
        row->addWidget(icon);
        row->addWidget(text);
        layout_->addWidget(box);
    }

    const QString file = jobFilePath(job_);
    if (!file.isEmpty()) {
        auto* reveal = new QToolButton(this);
        reveal->setObjectName("revealButton");
        reveal->setAutoRaise(true);
        reveal->setIcon(symbolIcon("folder"));
        const QString name = QString::fromStdString(job_.definition->location->url.filename().string());
        reveal->setToolTip(("Reveal " + name + " in the Finder").toHtmlEscaped());
        reveal->setAccessibleName("Reveal " + name + " in the Finder");
        connect(reveal, &QToolButton::clicked, this, [this, file] { revealFile(this, file); });
        layout_->addWidget(reveal);
    }

    auto* more = new QToolButton(this);
    more->setObjectName("moreMenu");
    more->setAutoRaise(true);
    more->setIcon(symbolIcon("ellipsis.circle"));
    more->setPopupMode(QToolButton::InstantPopup);
    more->setStyleSheet("QToolButton::menu-indicator { image: none; }");
    auto* menu = new QMenu(more);
    const QString label = QString::fromStdString(job_.label);
    more->setAccessibleName("More actions for " + label);
    menu->addAction("Copy Label", menu, [label] { copyToClipboard(label); });
    if (!file.isEmpty())
        menu->addAction("Copy File Path", menu, [file] { copyToClipboard(file); });
    const QString log = firstLogPath(job_);
    if (!log.isEmpty())
        menu->addAction("Reveal Log in Finder", menu, [this, log] { revealFile(this, log); });
    more->setMenu(menu);
    layout_->addWidget(more);

    setEnabled(!isBusy_ && !permissions_.readOnly);
}

}  // namespace qw

