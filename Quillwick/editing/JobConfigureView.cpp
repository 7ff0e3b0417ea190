#include "Quillwick/editing/JobConfigureView.h"

#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "Quillwick/editing/FormBits.h"
#include "Quillwick/editing/KeyEditor.h"
#include "Quillwick/editing/RouterOperations.h"
#include "Quillwick/editing/UnknownKeyRow.h"
#include "Quillwick/ui/EmptyStateView.h"
#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"
#include "Quillwick/ui/WheelGuard.h"

namespace qw {

namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }


}  // namespace

JobConfigureView::JobConfigureView(Job job, Operations operations, OnSaved onSaved, QWidget* parent)
    : QWidget(parent),
      draft_(job, operations.isReadOnly(job)),
      operations_(std::move(operations)),
      onSaved_(std::move(onSaved)) {
    pages_ = new QStackedLayout(this);
    placeholder_ = new EmptyStateView(QString(), QString(), QString(), this);
    placeholder_->setObjectName(QStringLiteral("placeholder"));
    pages_->addWidget(placeholder_);

    editorPage_ = new QWidget(this);
    auto* stack = new QVBoxLayout(editorPage_);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    scroll_ = new QScrollArea(editorPage_);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    stack->addWidget(scroll_, 1);
    stack->addWidget(FormBits::divider(editorPage_));

    const FormBits::SaveBar parts = FormBits::saveBar(editorPage_, QStringLiteral("saveBar"));
    QWidget* bar = parts.bar;
    addButton_ = new QToolButton(bar);
    addButton_->setObjectName(QStringLiteral("addKeyButton"));
    addButton_->setText(QStringLiteral("Add Key…"));
    addButton_->setIcon(symbolIcon(QStringLiteral("plus")));
    addButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    addButton_->setAutoRaise(true);
    addButton_->setPopupMode(QToolButton::InstantPopup);
    addMenu_ = new QMenu(addButton_);
    addMenu_->setToolTipsVisible(true);
    addButton_->setMenu(addMenu_);
    parts.row->insertWidget(0, addButton_);
    adminNote_ = FormBits::symbolNote(QStringLiteral("lock"), QStringLiteral("Saving asks for an administrator password."),
                                      secondaryColor(), bar);
    adminNote_->setObjectName(QStringLiteral("administratorNote"));
    // The note takes the bar's free room and wraps in it when the pane is narrow.
    parts.row->insertWidget(1, adminNote_, 1);
    parts.row->insertStretch(2, 0);
    progress_ = parts.progress;
    revert_ = parts.revert;
    save_ = parts.save;
    save_->setShortcut(QKeySequence::Save);
    stack->addWidget(bar);
    pages_->addWidget(editorPage_);

    guardWheel(this);
    connect(revert_, &QPushButton::clicked, this, &JobConfigureView::revert);
    connect(save_, &QPushButton::clicked, this, &JobConfigureView::save);
    update();
}

void JobConfigureView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!draft_.draft() && draft_.job().definition) {
        draft_.take();
        update();
        emit draftChanged();
    }
}

void JobConfigureView::setJob(Job job) {
    const bool readOnly = operations_.isReadOnly(job);
    if (job.id() != draft_.job().id()) shape_.clear();  // another job's rows start afresh
    draft_.setJob(std::move(job), readOnly);
    if (!draft_.draft() && isVisible()) draft_.take();
    update();
    emit draftChanged();
}

void JobConfigureView::setDraft(JobDefinition definition) {
    draft_.setValue(std::move(definition));
    update();
    emit draftChanged();
}

void JobConfigureView::revert() {
    draft_.revert();
    shape_.clear();  // fresh rows: none keeps a value typed since, such as one left out as invalid
    update();
    emit draftChanged();
}

void JobConfigureView::addKey(const LaunchdSchema::Key& key) {
    draft_.addKey(key);
    update();
    emit draftChanged();
    // The user goes on with the key just added.
    if (auto* editor = form_ ? form_->findChild<KeyEditor*>(QStringLiteral("key:") + qs(key.name)) : nullptr) {
        if (QWidget* first = FormBits::firstFocusable(editor->control())) first->setFocus(Qt::OtherFocusReason);
        // Once the new form is laid out.
        QTimer::singleShot(0, editor, [this, editor] { scroll_->ensureWidgetVisible(editor); });
    }
}

void JobConfigureView::removeKey(const std::string& name) {
    draft_.removeKey(name);
    update();
    emit draftChanged();
}

void JobConfigureView::save() {
    if (!draft_.draft() || !draft_.basis() || busy_ || !draft_.isEditable()) return;
    const JobDefinition copy = *draft_.draft();
    busy_ = true;
    updateSaveBar();
    QFuture<void> written = operations_.save(copy, draft_.job(), *draft_.basis());
    written.then(&lifetime_, [this, copy](QFuture<void> result) { saveFinished(result, copy); })
        .onCanceled(&lifetime_, [this] {
            busy_ = false;
            updateSaveBar();
            emit saveEnded();
        });
}

void JobConfigureView::saveFinished(QFuture<void> result, const JobDefinition& saved) {
    try {
        result.waitForFinished();
    } catch (...) {
        std::exception_ptr error = std::current_exception();
        if (!operations_.isCancelled(error))
            failure_ = FormBits::errorText(error, QStringLiteral("The file could not be saved."));
        busy_ = false;
        updateSaveBar();
        if (failure_) {
            QMessageBox* alert = showWriteFailure(this, error, *failure_, true, [this] { reloadFromDisk(); });
            connect(alert, &QMessageBox::finished, this, [this] { failure_.reset(); });
        }
        emit saveEnded();
        return;
    }
    FormBits::afterRefresh(onSaved_, &lifetime_, [this, saved] {
        draft_.saved(saved);
        busy_ = false;
        update();
        emit draftChanged();
        emit saveEnded();
    });
}

void JobConfigureView::reloadFromDisk() {
    busy_ = true;
    updateSaveBar();
    // The host's refresh after a change rescans the store, which hands this tab the file as it is.
    FormBits::afterRefresh(onSaved_, &lifetime_, [this] {
        busy_ = false;
        revert();
    });
}

std::vector<std::string> JobConfigureView::formShape() const {
    std::vector<std::string> shape{draft_.isEditable() ? "editable" : "locked"};
    for (LaunchdSchema::Section section : LaunchdSchema::Section::allCases()) {
        for (const auto* key : draft_.keysShown(section)) shape.push_back(key->name);
    }
    shape.push_back("|");
    for (const std::string& name : draft_.unknownKeys()) shape.push_back(name);
    return shape;
}

void JobConfigureView::update() {
    const Job& job = draft_.job();
    if (!job.definition) {
        placeholder_->setContent(QStringLiteral("Nothing to Configure"), QStringLiteral("slider.horizontal.3"),
                                 QStringLiteral("An app registered this job with the system rather than installing a "
                                                "plist. There is no file behind it to edit."));
        pages_->setCurrentWidget(placeholder_);
        return;
    }
    if (draft_.isUnreadable()) {
        // Saving a draft of a file that could not be read would replace it with an empty dictionary.
        placeholder_->setContent(QStringLiteral("Can’t Edit This File"), QStringLiteral("exclamationmark.triangle"),
                                 QString::fromStdString(*job.definition->loadFailure) +
                                     QStringLiteral(" It can be edited here once it reads as a property list."));
        pages_->setCurrentWidget(placeholder_);
        return;
    }
    pages_->setCurrentWidget(editorPage_);
    editorPage_->setVisible(true);
    if (!draft_.draft()) {
        if (form_) form_->hide();
        shape_.clear();
        updateSaveBar();
        return;
    }
    const auto shape = formShape();
    if (shape != shape_ || !form_) {
        shape_ = shape;
        rebuildForm();
    } else {
        refreshForm();
    }
    rebuildAddMenu();
    updateSaveBar();
}

void JobConfigureView::rebuildForm() {
    // The focused widget may be in the old form: its counterpart in the new one gets the focus.
    const FormBits::FocusKeeper focus(scroll_);
    const int scrolled = scroll_->verticalScrollBar()->value();
    auto* form = new QWidget;
    form->setObjectName(QStringLiteral("form"));
    auto* sections = new QVBoxLayout(form);
    sections->setContentsMargins(12, 12, 12, 12);
    sections->setSpacing(14);
    editors_.clear();
    unknownRows_.clear();
    const bool editable = draft_.isEditable();
    Binding<JobDefinition> binding{[this] { return draft_.value(); }, [this](JobDefinition d) { setDraft(std::move(d)); }};

    for (LaunchdSchema::Section section : LaunchdSchema::Section::allCases()) {
        const auto keys = draft_.keysShown(section);
        if (keys.empty()) continue;
        auto* group = new QGroupBox(qs(section.rawValue()), form);
        group->setObjectName(QStringLiteral("section:") + qs(section.rawValue()));
        auto* rows = new QVBoxLayout(group);
        rows->setSpacing(8);
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (i > 0) rows->addWidget(FormBits::divider(group));
            auto* editor = new KeyEditor(*keys[i], binding, editable, group);
            rows->addWidget(editor);
            editors_.append(editor);
        }
        sections->addWidget(group);
        sections->addWidget(FormBits::caption(qs(section.summary()), secondaryColor(), form));
    }
    const auto unknown = draft_.unknownKeys();
    if (!unknown.empty()) {
        auto* group = new QGroupBox(QStringLiteral("Other Keys"), form);
        group->setObjectName(QStringLiteral("section:Other Keys"));
        auto* rows = new QVBoxLayout(group);
        const JobDefinition value = draft_.value();
        for (const std::string& name : unknown) {
            auto* row = new UnknownKeyRow(QString::fromStdString(name), value[name], editable,
                                          [this, name] { removeKey(name); }, group);
            rows->addWidget(row);
            unknownRows_.append(row);
        }
        sections->addWidget(group);
        sections->addWidget(FormBits::caption(
            QStringLiteral("Quillwick has no description for these. They are shown as they were found and written back "
                           "untouched — keys beginning with an underscore are Apple's own and undocumented."),
            secondaryColor(), form));
    }
    sections->addStretch(1);

    // The old form may hold the button being clicked right now: let it go once the click is over.
    if (QWidget* old = scroll_->takeWidget()) {
        old->hide();
        old->deleteLater();
    }
    scroll_->setWidget(form);
    form_ = form;
    scroll_->verticalScrollBar()->setValue(scrolled);
    focus.restore();
}

void JobConfigureView::refreshForm() {
    for (KeyEditor* editor : editors_) editor->refresh();
    const JobDefinition value = draft_.value();
    const auto unknown = draft_.unknownKeys();
    for (int i = 0; i < unknownRows_.size() && i < int(unknown.size()); ++i) unknownRows_[i]->setValue(value[unknown[i]]);
}

void JobConfigureView::rebuildAddMenu() {
    addMenu_->clear();
    for (LaunchdSchema::Section section : LaunchdSchema::Section::allCases()) {
        const auto keys = draft_.keysOffered(section);
        if (keys.empty()) continue;
        QMenu* submenu = addMenu_->addMenu(qs(section.rawValue()));
        submenu->setToolTipsVisible(true);
        for (const LaunchdSchema::Key* key : keys) {
            // The summary sits in the menu's second column and, in full, in the tooltip.
            QAction* action = submenu->addAction(qs(key->name) + QLatin1Char('\t') + qs(key->summary));
            action->setObjectName(qs(key->name));
            action->setToolTip(qs(key->summary).toHtmlEscaped());
            connect(action, &QAction::triggered, this, [this, key] { addKey(*key); });
        }
    }
}

void JobConfigureView::updateSaveBar() {
    const bool editable = draft_.isEditable();
    const bool changes = draft_.hasChanges();
    addButton_->setEnabled(editable);
    adminNote_->setVisible(operations_.needsAdministrator(draft_.job()));
    progress_->setVisible(busy_);
    revert_->setEnabled(changes && !busy_);
    save_->setEnabled(editable && changes && !busy_);
}

}  // namespace qw
