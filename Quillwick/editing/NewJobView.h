// NewJobView: the New Job sheet. The user picks a template, types a label and the template's inputs,
// sees the property list that would be written and what the job checker already finds in it, and
// presses Create: the router creates the file, optionally loads it, and `onCreated` hears the label.
// Opened window-modally with open(); failures stay in the sheet, in red beside its buttons.
#pragma once

#include <exception>
#include <functional>
#include <optional>

#include <QDialog>
#include <QFuture>

#include "Quillwick/editing/model/NewJobDraft.h"

class QCheckBox;
class QFormLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace qw {

class OperationRouter;
class TemplateChip;

class NewJobView : public QDialog {
    Q_OBJECT
public:
    // Awaited after a successful create (and load); the presenter refreshes and selects the job.
    using OnCreated = std::function<QFuture<void>(const QString& label)>;

    // What the sheet asks of the router; the router's own constructor fills it in.
    struct Operations {
        std::function<QFuture<void>(const JobDefinition&)> create;
        std::function<QFuture<void>(const Job&)> load;
        std::function<bool(std::exception_ptr)> isCancelled;
    };

    NewJobView(OperationRouter& router, OnCreated onCreated, QWidget* parent = nullptr);
    NewJobView(Operations operations, OnCreated onCreated, QWidget* parent = nullptr);

    const NewJobDraft& draft() const { return draft_; }
    bool isBusy() const { return busy_; }
    const std::optional<QString>& failure() const { return failure_; }

    void selectTemplate(const JobTemplate& chosen);
    void create();

    // Parts, for tests.
    QLineEdit* labelField() const { return label_; }
    QPushButton* createButton() const { return create_; }
    QCheckBox* loadToggle() const { return load_; }
    QPlainTextEdit* preview() const { return preview_; }

private:
    void buildParameters();
    void update();
    // The end of a create: closes the sheet, or shows why not (nothing for a dismissed prompt).
    void finishCreate(std::exception_ptr error);

    Operations operations_;
    OnCreated onCreated_;
    NewJobDraft draft_;
    bool busy_ = false;
    std::optional<QString> failure_;

    QList<TemplateChip*> chips_;
    QLineEdit* label_;
    QLabel* labelHint_;
    QLabel* duplicate_;
    QGroupBox* parameters_;
    QFormLayout* parameterRows_;
    QLabel* folderPath_;
    QLabel* folderBlurb_;
    QWidget* adminNote_;
    QPlainTextEdit* preview_;
    QLabel* schedule_;
    QVBoxLayout* issues_;
    QCheckBox* load_;
    QLabel* failureLabel_;
    QProgressBar* progress_;
    QPushButton* create_;
};

}  // namespace qw
