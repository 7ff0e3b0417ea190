#include "Quillwick/actions/JobActionsMenu.h"

#include <QMenu>

#include "Quillwick/platform/gui/DesktopServices.h"
#include "Quillwick/ui/RevealFile.h"
#include "helperkit/SystemPaths.h"

namespace qw {

QString jobFilePath(const Job& job) {
    if (!job.definition || !job.definition->location)
        return {};
    return QString::fromStdString(job.definition->location->url.string());
}

QString firstLogPath(const Job& job) {
    if (!job.definition)
        return {};
    const auto logs = job.definition->logPaths();
    return logs.empty() ? QString() : QString::fromStdString(SystemPaths::current().machinePath(logs.front()));
}

QMenu* makeJobActionsMenu(const Job& job, bool readOnly, std::function<void(JobAction)> run, QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->setObjectName("jobActionsMenu");
    auto addAction = [&](JobAction action, bool enabled = true) {
        QAction* item = menu->addAction(title(action), menu, [run, action] { run(action); });
        item->setEnabled(enabled && !readOnly);
    };
    if (!job.isRunning()) {
        addAction(JobAction::start, job.isLoaded() && !job.isDisabled);
    } else {
        addAction(JobAction::restart);
        addAction(JobAction::stop);
    }
    menu->addSeparator();
    if (job.isLoaded())
        addAction(JobAction::unload);
    else if (job.definition)
        addAction(JobAction::load);
    addAction(job.isDisabled ? JobAction::enable : JobAction::disable);
    menu->addSeparator();

    const QString file = jobFilePath(job);
    const QString log = firstLogPath(job);
    if (!file.isEmpty())
        menu->addAction("Reveal in Finder", menu, [menu, file] { revealFile(menu->parentWidget(), file); });
    if (!log.isEmpty())
        menu->addAction("Reveal Log in Finder", menu, [menu, log] { revealFile(menu->parentWidget(), log); });
    const QString label = QString::fromStdString(job.label);
    menu->addAction("Copy Label", menu, [label] { copyToClipboard(label); });
    if (!file.isEmpty())
        menu->addAction("Copy File Path", menu, [file] { copyToClipboard(file); });
    return menu;
}

}  // namespace qw
