// The two controls of the updater, as widgets for the General settings and as actions for the
// application menu. Both show nothing while the updater has no controller.
#pragma once

#include <QCheckBox>
#include <QPushButton>

class QAction;

namespace qw {

class Updater;

class CheckForUpdatesButton : public QPushButton {
    Q_OBJECT
public:
    explicit CheckForUpdatesButton(Updater& updater, QWidget* parent = nullptr);
};

class AutomaticUpdatesToggle : public QCheckBox {
    Q_OBJECT
public:
    explicit AutomaticUpdatesToggle(Updater& updater, QWidget* parent = nullptr);
};

QAction* makeCheckForUpdatesAction(Updater& updater, QObject* parent);
QAction* makeAutomaticUpdatesAction(Updater& updater, QObject* parent);

}  // namespace qw
