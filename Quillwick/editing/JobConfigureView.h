// JobConfigureView: the detail pane's Configure tab. Edits one job's property list key by key,
// grouped by the catalogue's sections, in a draft that only Save hands to the operation router;
// unknown keys are listed read-only and written back untouched.
//
// Hosting it (the detail pane): build it with the job, the router and `onSaved`, a function the tab
// calls after every successful save and whose returned future it awaits (reload the store, then the
// job's run-time state). When the store hands over a new value of the same job, call setJob; a job of
// another id deserves a fresh tab, but setJob copes with that too. The draft is taken when the tab is
// first shown and kept across tab switches and rescans while it holds unsaved edits.
#pragma once

#include <exception>
#include <functional>
#include <optional>

#include <QFuture>
#include <QPointer>
#include <QWidget>

#include "Quillwick/editing/model/ConfigureDraft.h"

class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QStackedLayout;
class QToolButton;
class QVBoxLayout;

namespace qw {

class EmptyStateView;
class KeyEditor;
class OperationRouter;
class UnknownKeyRow;

class JobConfigureView : public QWidget {
    Q_OBJECT
public:
    using OnSaved = std::function<QFuture<void>()>;

    // What the tab asks of the router; the router's own constructor fills it in.
    struct Operations {
        std::function<bool(const Job&)> isReadOnly;
        std::function<bool(const Job&)> needsAdministrator;
        // Finishes when the file is written, or with the router's exception; writes nothing while the
        // file on disk is no longer the basis (the definition, the job, the basis).
        std::function<QFuture<void>(const JobDefinition&, const Job&, const JobDefinition&)> save;
        // The dismissed administrator prompt, which is never shown.
        std::function<bool(std::exception_ptr)> isCancelled;
    };

    JobConfigureView(Job job, OperationRouter& router, OnSaved onSaved, QWidget* parent = nullptr);
    JobConfigureView(Job job, Operations operations, OnSaved onSaved, QWidget* parent = nullptr);

    void setJob(Job job);
    const Job& job() const { return draft_.job(); }
    const ConfigureDraft& draft() const { return draft_; }
    bool isBusy() const { return busy_; }
    const std::optional<QString>& failure() const { return failure_; }

    void save();
    void revert();
    void addKey(const LaunchdSchema::Key& key);
    void removeKey(const std::string& name);

    // Parts, for tests.
    QMenu* addKeyMenu() const { return addMenu_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* revertButton() const { return revert_; }

    // Unsaved edits that Save could write.
    bool hasUnsavedEdits() const { return draft_.isEditable() && draft_.hasChanges(); }

signals:
    // The draft changed, by an edit, a revert or a new value of the job.
    void draftChanged();
    // A save has ended, written or not; hasUnsavedEdits tells which.
    void saveEnded();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setDraft(JobDefinition definition);
    void update();
    void rebuildForm();
    void refreshForm();
    void rebuildAddMenu();
    void updateSaveBar();
    std::vector<std::string> formShape() const;
    void saveFinished(QFuture<void> result, const JobDefinition& saved);
    void reloadFromDisk();

    ConfigureDraft draft_;
    Operations operations_;
    OnSaved onSaved_;
    bool busy_ = false;
    std::optional<QString> failure_;
    std::vector<std::string> shape_;

    QStackedLayout* pages_;
    EmptyStateView* placeholder_;
    QWidget* editorPage_;
    QScrollArea* scroll_;
    QPointer<QWidget> form_;
    QList<KeyEditor*> editors_;
    QList<UnknownKeyRow*> unknownRows_;
    QToolButton* addButton_;
    QMenu* addMenu_;
    QWidget* adminNote_;
    QProgressBar* progress_;
    QPushButton* revert_;
    QPushButton* save_;
    // The context of every continuation. Declared last, it goes first when the tab is destroyed: a
    // continuation queued on the widget itself would still run while its children are torn down.
    QObject lifetime_;
};

}  // namespace qw
