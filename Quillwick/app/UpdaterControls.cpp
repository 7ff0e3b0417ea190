#include "Quillwick/app/UpdaterControls.h"

#include <QAction>

#include "Quillwick/app/Updater.h"

namespace qw {

CheckForUpdatesButton::CheckForUpdatesButton(Updater& updater, QWidget* parent)
    : QPushButton(QStringLiteral("Check for Updates…"), parent) {
    setObjectName("checkForUpdatesButton");
    setVisible(updater.controller() != nullptr);
    setEnabled(updater.canCheckForUpdates());
    connect(&updater, &Updater::canCheckForUpdatesChanged, this, &QPushButton::setEnabled);
    connect(this, &QPushButton::clicked, &updater, &Updater::checkForUpdates);
}

AutomaticUpdatesToggle::AutomaticUpdatesToggle(Updater& updater, QWidget* parent)
    : QCheckBox(QStringLiteral("Check for updates automatically"), parent) {
    setObjectName("automaticUpdatesToggle");
    setVisible(updater.controller() != nullptr);
    setChecked(updater.automaticallyChecksForUpdates());
    connect(&updater, &Updater::automaticallyChecksForUpdatesChanged, this, &QCheckBox::setChecked);
    connect(this, &QCheckBox::clicked, &updater, &Updater::setAutomaticallyChecksForUpdates);
}

QAction* makeCheckForUpdatesAction(Updater& updater, QObject* parent) {
    auto* action = new QAction(QStringLiteral("Check for Updates…"), parent);
    action->setObjectName("checkForUpdatesAction");
    action->setVisible(updater.controller() != nullptr);
    action->setEnabled(updater.canCheckForUpdates());
    QObject::connect(&updater, &Updater::canCheckForUpdatesChanged, action, &QAction::setEnabled);
    QObject::connect(action, &QAction::triggered, &updater, &Updater::checkForUpdates);
    return action;
}

QAction* makeAutomaticUpdatesAction(Updater& updater, QObject* parent) {
    auto* action = new QAction(QStringLiteral("Check for updates automatically"), parent);
    action->setObjectName("automaticUpdatesAction");
    action->setCheckable(true);
    action->setVisible(updater.controller() != nullptr);
    action->setChecked(updater.automaticallyChecksForUpdates());
    QObject::connect(&updater, &Updater::automaticallyChecksForUpdatesChanged, action, &QAction::setChecked);
    QObject::connect(action, &QAction::triggered, &updater, &Updater::setAutomaticallyChecksForUpdates);
    return action;
}

}  // namespace qw
