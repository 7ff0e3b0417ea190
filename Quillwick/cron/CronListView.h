// CronListView: the content column of the cron filter. It reads the crontab store each time it is
// shown and shows, in this order of precedence, the Full Disk Access placeholder, the "No Cron Jobs"
// placeholder, or one row per entry.
//
// Built by the main window as CronListView(store, selection). The selection — the `line` of the
// selected CronJob, owned by the window — is bound both ways: the window hands changes in with
// setSelection() (no signal back), and the view reports the user's choice with selectionChanged().
// When a reload or a delete leaves the selected line without the entry that was selected (another
// entry moved onto it, or none holds it), the view clears the selection and says so with
// selectionChanged(std::nullopt): a selection never moves silently onto a different job.
#pragma once

#include <QWidget>

#include <optional>

#include "Quillwick/cron/CronJob.h"

class QListView;
class QStackedWidget;

namespace qw {

class CronListModel;
class CrontabStore;
class EmptyStateView;

class CronListView : public QWidget {
    Q_OBJECT
public:
    // `store` outlives the view.
    CronListView(CrontabStore* store, std::optional<qint64> selection = std::nullopt, QWidget* parent = nullptr);

    std::optional<qint64> selection() const { return selection_; }
    void setSelection(std::optional<qint64> line);

    // Reads the crontab again (the access placeholder's "Try Again").
    void retry();

    // The access placeholder's title and sentence, which the new-entry sheet repeats.
    static QString accessTitle();
    static QString accessDescription();

signals:
    void selectionChanged(std::optional<qint64> line);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void updateContent();
    void crontabChanged();
    void showSelection();
    void userSelected();

    CrontabStore* store_;
    CronListModel* model_;
    QStackedWidget* stack_;
    EmptyStateView* access_;
    EmptyStateView* empty_;
    QListView* list_;
    std::optional<qint64> selection_;
    // The entry the selection named when it was made, to tell it from another on the same line.
    std::optional<CronJob> selectedJob_;
    bool applying_ = false;
};

}  // namespace qw
