#include "Quillwick/editing/NewJobView.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QVBoxLayout>

#include "Quillwick/editing/FormBits.h"
#include "Quillwick/editing/PathField.h"
#include "Quillwick/editing/TemplateChip.h"
#include "Quillwick/ui/BusyIndicator.h"
#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"
#include "Quillwick/ui/WheelGuard.h"

namespace qw {

namespace {

Q_LOGGING_CATEGORY(operationsLog, "com.tarnmoor.quillwick.operations")

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

}  // namespace

NewJobView::NewJobView(Operations operations, OnCreated onCreated, QWidget* parent)
    : QDialog(parent), operations_(std::move(operations)), onCreated_(std::move(onCreated)) {
    setWindowTitle(QStringLiteral("New Job"));
    setWindowModality(Qt::WindowModal);
    resize(820, 560);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    // Two rows of three: every card whole inside the sheet, none behind a sideways scroll.
    auto* chipGrid = new QWidget(this);
    chipGrid->setObjectName(QStringLiteral("templates"));
    auto* chips = new QGridLayout(chipGrid);
    chips->setContentsMargins(14, 14, 14, 14);
    chips->setSpacing(10);
    constexpr int columns = 3;
    for (const JobTemplate& t : JobTemplate::all()) {
        auto* chip = new TemplateChip(t, chipGrid);
        connect(chip, &TemplateChip::clicked, this, [this, &t] { selectTemplate(t); });
        chips->addWidget(chip, int(chips_.size()) / columns, int(chips_.size()) % columns);
        chips_.append(chip);
    }
    for (int c = 0; c < columns; ++c) chips->setColumnStretch(c, 1);
    stack->addWidget(chipGrid);
    stack->addWidget(FormBits::divider(this));

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);

    // The form.
    auto* formScroll = new QScrollArea(split);
    formScroll->setWidgetResizable(true);
    formScroll->setFrameShape(QFrame::NoFrame);
    formScroll->setMinimumWidth(340);
    auto* form = new QWidget(formScroll);
    auto* formStack = new QVBoxLayout(form);
    formStack->setContentsMargins(12, 12, 12, 12);
    formStack->setSpacing(10);

    // Notes that come and go sit in a plain stack, not in form rows: a form row shown again after
    // another was hidden kept the height of none.
    auto* nameGroup = new QGroupBox(QStringLiteral("Name"), form);
    auto* nameStack = new QVBoxLayout(nameGroup);
    auto* nameRows = new QFormLayout;
    label_ = new QLineEdit(nameGroup);
    label_->setObjectName(QStringLiteral("labelField"));
    label_->setPlaceholderText(QStringLiteral("com.example.backup"));
    nameRows->addRow(QStringLiteral("Label"), label_);
    nameStack->addLayout(nameRows);
    labelHint_ = FormBits::caption(qs(NewJobDraft::labelHint), orangeColor(), nameGroup);
    labelHint_->setObjectName(QStringLiteral("labelHint"));
    nameStack->addWidget(labelHint_);
    duplicate_ = FormBits::caption(QString(), orangeColor(), nameGroup);
    duplicate_->setObjectName(QStringLiteral("duplicateNotice"));
    nameStack->addWidget(duplicate_);
    formStack->addWidget(nameGroup);
    formStack->addWidget(FormBits::caption(
        QStringLiteral("This becomes the filename as well as the label, and has to be unique on this Mac."), secondaryColor(), form));

    parameters_ = new QGroupBox(form);
    parameterRows_ = new QFormLayout(parameters_);
    parameterRows_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    formStack->addWidget(parameters_);

    auto* whereGroup = new QGroupBox(form);
    auto* whereStack = new QVBoxLayout(whereGroup);
    auto* whereRows = new QFormLayout;
    whereStack->addLayout(whereRows);
    auto* where = new QWidget(whereGroup);
    auto* folderStack = new QVBoxLayout(where);
    folderStack->setContentsMargins(0, 0, 0, 0);
    folderStack->setSpacing(2);
    folderPath_ = new QLabel(where);
    folderPath_->setObjectName(QStringLiteral("folderPath"));
    folderPath_->setTextFormat(Qt::PlainText);
    folderPath_->setWordWrap(true);
    QFont mono = monospaceFont();
    mono.setPointSizeF(captionFont().pointSizeF());
    folderPath_->setFont(mono);
    folderPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    folderStack->addWidget(folderPath_);
    folderBlurb_ = FormBits::caption(QString(), secondaryColor(), where);
    folderStack->addWidget(folderBlurb_);
    whereRows->addRow(QStringLiteral("Goes in"), where);
    adminNote_ = FormBits::symbolNote(QStringLiteral("lock"), QStringLiteral("Creating this asks for an administrator password."),
                                      secondaryColor(), whereGroup);
    adminNote_->setObjectName(QStringLiteral("administratorNote"));
    whereStack->addWidget(adminNote_);
    formStack->addWidget(whereGroup);
    formStack->addStretch(1);
    formScroll->setWidget(form);

    // The preview.
    auto* previewPane = new QWidget(split);
    previewPane->setMinimumWidth(320);
    auto* previewStack = new QVBoxLayout(previewPane);
    previewStack->setContentsMargins(0, 0, 0, 0);
    previewStack->setSpacing(0);
    auto* heading = new QLabel(QStringLiteral("This will write"), previewPane);
    heading->setFont(headlineFont());
    heading->setContentsMargins(12, 12, 12, 12);
    previewStack->addWidget(heading);
    previewStack->addWidget(FormBits::divider(previewPane));
    preview_ = new QPlainTextEdit(previewPane);
    preview_->setObjectName(QStringLiteral("preview"));
    preview_->setReadOnly(true);
    preview_->setAccessibleName(heading->text());
    preview_->setFrameShape(QFrame::NoFrame);
    preview_->setFont(mono);
    preview_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    preview_->setTabStopDistance(QFontMetricsF(mono).horizontalAdvance(QLatin1Char(' ')) * 4);
    preview_->document()->setDocumentMargin(12);
    previewStack->addWidget(preview_, 1);
    previewStack->addWidget(FormBits::divider(previewPane));
    auto* checks = new QWidget(previewPane);
    auto* checksStack = new QVBoxLayout(checks);
    checksStack->setContentsMargins(12, 12, 12, 12);
    checksStack->setSpacing(4);
    schedule_ = new QLabel(checks);
    schedule_->setObjectName(QStringLiteral("scheduleSummary"));
    schedule_->setTextFormat(Qt::PlainText);
    schedule_->setWordWrap(true);
    checksStack->addWidget(schedule_);
    issues_ = new QVBoxLayout;
    issues_->setSpacing(4);
    checksStack->addLayout(issues_);
    previewStack->addWidget(checks);
    split->addWidget(formScroll);
    split->addWidget(previewPane);
    split->setSizes({440, 380});
    stack->addWidget(split, 1);
    stack->addWidget(FormBits::divider(this));

    // The footer.
    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(12, 12, 12, 12);
    footer->setSpacing(10);
    load_ = new QCheckBox(QStringLiteral("Load it after creating"), this);
    load_->setObjectName(QStringLiteral("loadToggle"));
    load_->setChecked(draft_.loadAfterCreating);
    footer->addWidget(load_);
    footer->addStretch(0);  // takes the room only while there is no failure to show
    failureLabel_ = new QLabel(this);
    failureLabel_->setObjectName(QStringLiteral("failure"));
    failureLabel_->setTextFormat(Qt::PlainText);
    failureLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Whole, however many lines it wraps to: the footer grows and the form and preview give way.
    failureLabel_->setWordWrap(true);
    FormBits::setTextColor(failureLabel_, redColor());
    footer->addWidget(failureLabel_, 1);
    progress_ = smallBusyIndicator(this);
    footer->addWidget(progress_);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    footer->addWidget(cancel);
    create_ = new QPushButton(QStringLiteral("Create"), this);
    create_->setObjectName(QStringLiteral("createButton"));
    create_->setDefault(true);
    footer->addWidget(create_);
    stack->addLayout(footer);

    guardWheel(this);
    connect(label_, &QLineEdit::textEdited, this, [this](const QString& text) {
        draft_.label = text.toStdString();
        update();
    });
    connect(load_, &QCheckBox::clicked, this, [this](bool on) { draft_.loadAfterCreating = on; });
    connect(cancel, &QPushButton::clicked, this, &NewJobView::reject);
    connect(create_, &QPushButton::clicked, this, &NewJobView::create);
    buildParameters();
    update();
}

void NewJobView::selectTemplate(const JobTemplate& chosen) {
    if (chosen.id() != draft_.jobTemplate().id()) {
        draft_.selectTemplate(chosen);
        buildParameters();
    }
    update();
}

void NewJobView::buildParameters() {
    while (parameterRows_->rowCount() > 0) parameterRows_->removeRow(0);
    const JobTemplate& t = draft_.jobTemplate();
    parameters_->setTitle(qs(t.name()));
    for (const JobTemplate::Parameter& p : t.parameters()) {
        const QString id = qs(p.id);
        QWidget* control = nullptr;
        using Kind = JobTemplate::Parameter::Kind;
        if (p.kind == Kind::path || p.kind == Kind::directory) {
            auto* field = new PathField(p.kind == Kind::directory, parameters_);
            field->setPath(qs(draft_.value(p.id)));
            connect(field, &PathField::pathEdited, this, [this, id](const QString& text) {
                draft_.values[id.toStdString()] = text.toStdString();
                update();
            });
            control = field;
        } else {
            auto* edit = new QLineEdit(qs(draft_.value(p.id)), parameters_);
            edit->setPlaceholderText(qs(p.placeholder));
            if (p.kind == Kind::integer) edit->setMaximumWidth(120);
            connect(edit, &QLineEdit::textEdited, this, [this, id](const QString& text) {
                draft_.values[id.toStdString()] = text.toStdString();
                update();
            });
            control = edit;
        }
        control->setObjectName(QStringLiteral("parameter:") + id);
        auto* cell = new QWidget(parameters_);
        auto* cellStack = new QVBoxLayout(cell);
        cellStack->setContentsMargins(0, 0, 0, 0);
        cellStack->setSpacing(4);
        if (p.kind == Kind::integer)
            cellStack->addWidget(FormBits::numberRow(static_cast<QLineEdit*>(control), cell, true));
        else
            cellStack->addWidget(control);
        cellStack->addWidget(FormBits::caption(qs(p.help), secondaryColor(), cell));
        parameterRows_->addRow(qs(p.title), cell);
        FormBits::nameFields(control, qs(p.title));
    }
    // Rows made after the preview would otherwise come after it in the Tab order.
    QWidget* before = label_;
    for (QWidget* next : parameters_->findChildren<QWidget*>()) {
        if (!(next->focusPolicy() & Qt::TabFocus)) continue;
        QWidget::setTabOrder(before, next);
        before = next;
    }
    QWidget::setTabOrder(before, preview_);
}

void NewJobView::update() {
    for (TemplateChip* chip : chips_) chip->setChecked(chip->jobTemplate().id() == draft_.jobTemplate().id());
    labelHint_->setVisible(!draft_.label.empty() && !draft_.labelIsValid());
    const auto duplicate = draft_.duplicateNotice();
    duplicate_->setText(duplicate ? QString::fromStdString(*duplicate) : QString());
    duplicate_->setVisible(duplicate.has_value());

    const JobDirectory directory = draft_.jobTemplate().directory();
    folderPath_->setText(QString::fromStdString(directory.url().string()));
    folderBlurb_->setText(qs(directory.blurb()));
    adminNote_->setVisible(directory != JobDirectory::userAgents);

    const JobDefinition preview = draft_.previewDefinition();
    QString xml;
    try {
        xml = QString::fromStdString(preview.file.xmlText());
    } catch (...) {
        // An unwritable preview blocks nothing; it just shows empty.
    }
    if (preview_->toPlainText() != xml) preview_->setPlainText(xml);
    schedule_->setText(QString::fromStdString(draft_.scheduleSentence()));
    schedule_->setVisible(!schedule_->text().isEmpty());
    while (QLayoutItem* item = issues_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const Issue& issue : draft_.previewIssues()) {
        auto* note = FormBits::symbolNote(QStringLiteral("exclamationmark.triangle.fill"), QString::fromStdString(issue.title),
                                          orangeColor(), this);
        note->setObjectName(QStringLiteral("issue"));
        issues_->addWidget(note);
    }

    for (const JobTemplate::Parameter& p : draft_.jobTemplate().parameters()) {
        if (p.kind != JobTemplate::Parameter::Kind::integer) continue;
        const auto* edit = findChild<QLineEdit*>(QStringLiteral("parameter:") + qs(p.id));
        const auto problem = draft_.inputProblem(p.id);
        FormBits::showNumberProblem(edit->parentWidget(), problem ? qs(*problem) + FormBits::ignoredValue : QString());
    }

    failureLabel_->setText(failure_.value_or(QString()));
    failureLabel_->setVisible(failure_.has_value());
    progress_->setVisible(busy_);
    create_->setEnabled(draft_.canCreate() && !busy_);
}

void NewJobView::finishCreate(std::exception_ptr error) {
    busy_ = false;
    if (!error) {
        if (isVisible()) accept();
        return update();
    }
    if (!operations_.isCancelled(error)) {
        failure_ = FormBits::errorText(error, QStringLiteral("The job could not be created."));
        // Cancel closed the sheet meanwhile: there is no one to show it to.
        if (!isVisible()) qCWarning(operationsLog).noquote() << *failure_;
    }
    update();
}

void NewJobView::create() {
    if (busy_ || !draft_.canCreate()) return;
    busy_ = true;
    failure_.reset();
    update();
    const JobDefinition definition = draft_.definitionToCreate();
    const Job job = draft_.jobToLoad();
    const QString label = QString::fromStdString(draft_.label);
    const bool load = draft_.loadAfterCreating;

    // Cancel closes the sheet but stops no create that has started: the run belongs to the presenter,
    // so the load and onCreated still follow once the sheet is gone.
    auto* run = new QObject(parent());
    auto end = [sheet = QPointer<NewJobView>(this), run, isCancelled = operations_.isCancelled](std::exception_ptr error) {
        run->deleteLater();
        if (sheet) return sheet->finishCreate(error);
        if (error && !isCancelled(error))
            qCWarning(operationsLog).noquote() << FormBits::errorText(error, QStringLiteral("The job could not be created."));
    };
    auto announce = [run, end, label, onCreated = onCreated_] {
        if (!onCreated) return end(nullptr);
        onCreated(label).then(run, [end](QFuture<void>) { end(nullptr); }).onCanceled(run, [end] { end(nullptr); });
    };
    operations_.create(definition).then(run, [run, end, announce, job, load, loadJob = operations_.load](QFuture<void> created) {
        try {
            created.waitForFinished();
        } catch (...) {
            return end(std::current_exception());
        }
        if (!load) return announce();
        loadJob(job).then(run, [end, announce](QFuture<void> loaded) {
            try {
                loaded.waitForFinished();
            } catch (...) {
                // The file stays written; pressing Create again now meets the duplicate notice.
                return end(std::current_exception());
            }
            announce();
        });
    });
}

}  // namespace qw
