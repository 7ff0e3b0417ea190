// JobSourceView: the detail pane's Source tab — the job file as XML in a monospaced editor, checked
// (a dictionary, a label that matches the file name) before the router writes it back in the file's
// own format. The text is taken when the tab first comes into view and kept, edits included, for as
// long as the job is the same; only Revert or a job of another id replaces edited text.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <QFuture>
#include <QString>
#include <QWidget>

#include "Quillwick/launchd/Job.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStackedLayout;

namespace qw {

class EmptyStateView;
class OperationRouter;

class JobSourceView : public QWidget {
    Q_OBJECT
public:
    using OnSaved = std::function<QFuture<void>()>;

    JobSourceView(Job job, OperationRouter& router, OnSaved onSaved, QWidget* parent = nullptr);

    void setJob(Job job);

    // Replaces the text with the job's own and clears the notice; the action of Revert.
    void load();
    // Checks the text and starts the write; the action of Save and of Ctrl+S.
    void save();
    bool isEditable() const;

    const Job& job() const { return job_; }
    QString text() const;
    const QString& original() const { return original_; }
    bool hasChanges() const { return text() != original_; }
    // Unsaved edits that Save could write.
    bool hasUnsavedEdits() const { return isEditable() && hasChanges(); }
    const std::optional<QString>& problem() const { return problem_; }
    bool isBusy() const { return busy_; }
    const std::optional<QString>& failure() const { return failure_; }

    // Parts, for tests.
    QPlainTextEdit* editor() const { return editor_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* revertButton() const { return revert_; }
    QString notice() const;

signals:
    // A save has ended, written or not; hasUnsavedEdits tells which.
    void saveEnded();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // keepPlace: the cursor and scroll position survive, for text that changed under the user.
    void setText(const QString& text, bool keepPlace = false);
    void update();
    void updateBar();
    void saveFinished(QFuture<void> result, const QString& written, const JobDefinition& definition,
                      std::uint64_t generation);
    void finishSave();
    void reloadFromDisk();

    Job job_;
    OperationRouter& router_;
    OnSaved onSaved_;
    QString original_;
    // The file as the text was loaded from it, or as last saved: a save writes only while the file on
    // disk still reads as this.
    std::optional<JobDefinition> basis_;
    std::optional<QString> problem_;
    bool busy_ = false;
    std::optional<QString> failure_;
    // The id the text was loaded for (none before the tab was first shown), and a counter that a new
    // job bumps, so that a save finishing for an older job leaves the new text alone.
    std::optional<std::string> loadedId_;
    std::uint64_t generation_ = 0;

    QStackedLayout* pages_;
    EmptyStateView* placeholder_;
    QWidget* editorPage_;
    QPlainTextEdit* editor_;
    QLabel* noticeIcon_;
    QLabel* noticeText_;
    QProgressBar* progress_;
    QPushButton* revert_;
    QPushButton* save_;
    // The context of every continuation. Declared last, it goes first when the tab is destroyed: a
    // widget's own guarded pointers stay set while its children are torn down, and a continuation
    // queued on it would then run on the remains.
    QObject lifetime_;
};

}  // namespace qw
