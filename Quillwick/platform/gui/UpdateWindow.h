// UpdateWindow: the updater's one window. It shows the state of the check or download in progress
// and its outcome, and offers the next step; closing it stops a check or download under way.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace qw {

class FeedUpdater;

class UpdateWindow : public QDialog {
    Q_OBJECT
public:
    explicit UpdateWindow(FeedUpdater& updater);

private:
    void present();

    FeedUpdater& updater_;
    QLabel* headline_;
    QLabel* message_;
    QLabel* notes_;
    QProgressBar* progress_;
    QPushButton* secondary_;
    QPushButton* primary_;
};

}  // namespace qw
