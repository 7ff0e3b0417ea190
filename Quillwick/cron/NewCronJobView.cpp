#include "Quillwick/cron/NewCronJobView.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QVBoxLayout>

#include "Quillwick/cron/CronDiagnostics.h"
#include "Quillwick/cron/CronListView.h"
#include "Quillwick/cron/CronText.h"
#include "Quillwick/cron/CrontabStore.h"
#include "Quillwick/ui/BusyIndicator.h"
#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"
#include "Quillwick/ui/WheelGuard.h"

namespace qw {

namespace {

// The hour and minute steppers show two digits, as a clock does.
class TwoDigitSpinBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    QString textFromValue(int value) const override { return QString::asprintf("%02d", value); }
};

// crontab's refusal runs to several lines: the area is as tall as the wrapped text, up to four lines
// (the bar below the form has no more room), and scrolls through the rest.
class FailureArea : public QScrollArea {
public:
    explicit FailureArea(QWidget* parent) : QScrollArea(parent) {
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        viewport()->setAutoFillBackground(false);
    }
    QSize sizeHint() const override {
        const int width = 380;
        if (!widget()) return {width, 0};
        const int most = 4 * widget()->fontMetrics().lineSpacing();
        const int text = widget()->heightForWidth(width - verticalScrollBar()->sizeHint().width());
        return {width, std::min(text, most)};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

QLabel* caption(const QString& text, QWidget* parent, const char* name) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(captionFont());
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, secondaryColor());
    label->setPalette(palette);
    return label;
}

void tint(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

bool holdsLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')) || text.contains(QChar(0));
}

}  // namespace

QString NewCronJobView::title(Shape shape) {
    switch (shape) {
    case Shape::everyFewMinutes: return QStringLiteral("Every few minutes");
    case Shape::hourly: return QStringLiteral("Every hour");
    case Shape::daily: return QStringLiteral("Every day");
    case Shape::weekly: return QStringLiteral("Every week");
    case Shape::monthly: return QStringLiteral("Every month");
    case Shape::atStartup: return QStringLiteral("When cron starts");
    case Shape::custom: return QStringLiteral("Custom");
    }
    return {};
}

std::optional<NewCronJobView::Shape> NewCronJobView::shape(const QString& rawValue) {
    for (Shape s : allShapes)
        if (title(s) == rawValue) return s;
    return std::nullopt;
}

NewCronJobView::NewCronJobView(CrontabStore* store, std::function<void()> onCreated, QWidget* parent)
    : QDialog(parent), store_(store), onCreated_(std::move(onCreated)) {
    setObjectName("newCronJob");
    setWindowTitle(QStringLiteral("New Cron Job"));
    setFixedSize(640, 560);
    guardWheel(this);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    auto* form = new QWidget(this);
    auto* sections = new QVBoxLayout(form);
    sections->setContentsMargins(16, 16, 16, 12);
    sections->setSpacing(12);
    stack->addWidget(form, 1);

    // When
    auto* whenBox = new QGroupBox(QStringLiteral("When"), form);
    when_ = new QFormLayout(whenBox);
    shapePicker_ = new QComboBox(whenBox);
    shapePicker_->setObjectName("shapePicker");
    for (Shape s : allShapes) shapePicker_->addItem(title(s));
    shapePicker_->setCurrentIndex(static_cast<int>(Shape::daily));
    when_->addRow(QStringLiteral("Runs"), shapePicker_);

    everyMinutes_ = new QSpinBox(whenBox);
    everyMinutes_->setObjectName("everyMinutesStepper");
    everyMinutes_->setRange(1, 59);
    everyMinutes_->setValue(15);
    everyMinutes_->setPrefix(QStringLiteral("Every "));
    everyMinutes_->setSuffix(QStringLiteral(" minutes"));
    when_->addRow(QString(), everyMinutes_);

    weekday_ = new QComboBox(whenBox);
    weekday_->setObjectName("weekdayPicker");
    for (const char* day : {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"})
        weekday_->addItem(QString::fromLatin1(day));
    weekday_->setCurrentIndex(1);
    when_->addRow(QStringLiteral("On"), weekday_);

    dayOfMonth_ = new QSpinBox(whenBox);
    dayOfMonth_->setObjectName("dayOfMonthStepper");
    dayOfMonth_->setRange(1, 28);
    dayOfMonth_->setValue(1);
    dayOfMonth_->setPrefix(QStringLiteral("On day "));
    when_->addRow(QString(), dayOfMonth_);

    time_ = new QWidget(whenBox);
    auto* timeRow = new QHBoxLayout(time_);
    timeRow->setContentsMargins(0, 0, 0, 0);
    timeRow->setSpacing(4);
    hour_ = new TwoDigitSpinBox(time_);
    hour_->setObjectName("hourStepper");
    hour_->setRange(0, 23);
    hour_->setValue(9);
    hour_->setAccessibleName(QStringLiteral("Hour"));
    minute_ = new TwoDigitSpinBox(time_);
    minute_->setObjectName("minuteStepper");
    minute_->setRange(0, 59);
    minute_->setValue(0);
    minute_->setAccessibleName(QStringLiteral("Minute"));
    timeRow->addWidget(hour_, 0, Qt::AlignVCenter);
    timeRow->addWidget(new QLabel(QStringLiteral(":"), time_), 0, Qt::AlignVCenter);
    timeRow->addWidget(minute_, 0, Qt::AlignVCenter);
    timeRow->addStretch(1);
    when_->addRow(QStringLiteral("At"), time_);

    startupNote_ = caption(QStringLiteral("cron itself starts on demand, so this fires whenever cron happens to start "
                                          "rather than dependably at boot. A launchd job with RunAtLoad is the "
                                          "supported way to run something at startup."),
                           whenBox, "startupNote");
    when_->addRow(startupNote_);

    expression_ = new QLineEdit(QStringLiteral("0 9 * * *"), whenBox);
    expression_->setObjectName("expressionField");
    expression_->setPlaceholderText(QStringLiteral("0 9 * * 1-5"));
    expression_->setFont(monospaceFont());
    when_->addRow(QStringLiteral("Expression"), expression_);
    sections->addWidget(whenBox);

    // What
    auto* whatBox = new QGroupBox(QStringLiteral("What"), form);
    auto* what = new QFormLayout(whatBox);
    command_ = new QLineEdit(whatBox);
    command_->setObjectName("commandField");
    command_->setPlaceholderText(QStringLiteral("/usr/local/bin/backup.sh"));
    command_->setFont(monospaceFont());
    what->addRow(QStringLiteral("Command"), command_);
    auto* choose = new QPushButton(QStringLiteral("Choose a Script…"), whatBox);
    choose->setObjectName("chooseScriptButton");
    auto* chooseRow = new QHBoxLayout;
    chooseRow->addWidget(choose);
    chooseRow->addStretch(1);
    what->addRow(QString(), chooseRow);
    what->addRow(caption(QStringLiteral("Use the full path. cron runs commands with a minimal PATH and none of your "
                                        "shell's configuration, so a bare name usually will not be found."),
                         whatBox, "commandFooter"));
    sections->addWidget(whatBox);

    // This will add
    auto* previewBox = new QGroupBox(QStringLiteral("This will add"), form);
    auto* previewLayout = new QVBoxLayout(previewBox);
    preview_ = new QLabel(previewBox);
    preview_->setObjectName("previewLine");
    preview_->setTextFormat(Qt::PlainText);
    preview_->setFont(monospaceFont());
    preview_->setWordWrap(true);
    preview_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    previewLayout->addWidget(preview_);
    description_ = new QLabel(previewBox);
    description_->setObjectName("previewDescription");
    description_->setTextFormat(Qt::PlainText);
    description_->setWordWrap(true);
    tint(description_, secondaryColor());
    previewLayout->addWidget(description_);
    issues_ = new QVBoxLayout;
    issues_->setSpacing(2);
    previewLayout->addLayout(issues_);
    refusal_ = caption({}, previewBox, "refusal");
    tint(refusal_, redColor());
    previewLayout->addWidget(refusal_);
    firstCrontab_ = caption(QStringLiteral("You have no crontab yet. Adding this creates one, which is also what starts "
                                           "the cron daemon — it is loaded on demand when a crontab exists."),
                            previewBox, "firstCrontabNotice");
    previewLayout->addWidget(firstCrontab_);
    // Refused access is no missing crontab: say what the list says.
    accessNotice_ = caption(CronListView::accessTitle() + QLatin1Char('\n') + CronListView::accessDescription(),
                            previewBox, "accessNotice");
    previewLayout->addWidget(accessNotice_);
    sections->addWidget(previewBox);
    sections->addStretch(1);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    stack->addWidget(divider);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(12, 12, 12, 12);
    failureArea_ = new FailureArea(this);
    failureArea_->setObjectName("failureArea");
    failureLabel_ = new QLabel(failureArea_);
    failureLabel_->setObjectName("failureText");
    failureLabel_->setTextFormat(Qt::PlainText);
    failureLabel_->setWordWrap(true);
    failureLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    failureLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    tint(failureLabel_, redColor());
    failureArea_->setWidget(failureLabel_);
    bar->addWidget(failureArea_);
    bar->addStretch(1);
    progress_ = smallBusyIndicator(this);
    progress_->setObjectName("busyIndicator");
    bar->addWidget(progress_, 0, Qt::AlignVCenter);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName("cancelButton");
    cancel->setAutoDefault(false);
    bar->addWidget(cancel, 0, Qt::AlignVCenter);
    addButton_ = new QPushButton(QStringLiteral("Add"), this);
    addButton_->setObjectName("addButton");
    addButton_->setDefault(true);
    bar->addWidget(addButton_, 0, Qt::AlignVCenter);
    stack->addLayout(bar);

    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(addButton_, &QPushButton::clicked, this, &NewCronJobView::add);
    connect(choose, &QPushButton::clicked, this, &NewCronJobView::chooseScript);
    connect(shapePicker_, &QComboBox::currentIndexChanged, this, &NewCronJobView::update);
    connect(weekday_, &QComboBox::currentIndexChanged, this, &NewCronJobView::update);
    for (QSpinBox* box : {everyMinutes_, dayOfMonth_, hour_, minute_})
        connect(box, &QSpinBox::valueChanged, this, &NewCronJobView::update);
    connect(expression_, &QLineEdit::textChanged, this, &NewCronJobView::update);
    connect(command_, &QLineEdit::textChanged, this, &NewCronJobView::update);
    connect(store_, &CrontabStore::isEmptyChanged, this, &NewCronJobView::update);
    connect(store_, &CrontabStore::crontabChanged, this, &NewCronJobView::update);
    connect(store_, &CrontabStore::isSavingChanged, this, &NewCronJobView::update);
    connect(store_, &CrontabStore::needsFullDiskAccessChanged, this, &NewCronJobView::update);
    update();
}

NewCronJobView::Shape NewCronJobView::currentShape() const {
    return allShapes[static_cast<std::size_t>(std::max(0, shapePicker_->currentIndex()))];
}

QString NewCronJobView::expressionText() const { return expression_->text(); }
QString NewCronJobView::commandText() const { return command_->text(); }

CronSchedule NewCronJobView::scheduleFields() const {
    const auto n = [](int value) { return std::to_string(value); };
    const std::string minute = n(minute_->value());
    const std::string hour = n(hour_->value());
    switch (currentShape()) {
    case Shape::everyFewMinutes: return CronSchedule::fields({"*/" + n(everyMinutes_->value()), "*", "*", "*", "*"});
    case Shape::hourly: return CronSchedule::fields({minute, "*", "*", "*", "*"});
    case Shape::daily: return CronSchedule::fields({minute, hour, "*", "*", "*"});
    case Shape::weekly: return CronSchedule::fields({minute, hour, "*", "*", n(weekday_->currentIndex())});
    case Shape::monthly: return CronSchedule::fields({minute, hour, n(dayOfMonth_->value()), "*", "*"});
    case Shape::atStartup: return CronSchedule::special("@reboot");
    case Shape::custom: break;
    }
    // Words apart by spaces only: a tab stays inside its word.
    std::vector<std::string> words;
    for (const QString& word : expressionText().split(QLatin1Char(' '), Qt::SkipEmptyParts))
        words.push_back(word.toStdString());
    if (words.size() == 5) return CronSchedule::fields(std::move(words));
    if (words.size() == 1 && words.front().starts_with('@')) return CronSchedule::special(words.front());
    return CronSchedule::fields({"*", "*", "*", "*", "*"});
}

QString NewCronJobView::previewLine() const {
    CronJob job;
    job.schedule = scheduleFields();
    job.command = commandText().isEmpty() ? std::string("/usr/bin/true") : commandText().toStdString();
    return QString::fromStdString(job.lineText());
}

std::vector<Issue> NewCronJobView::previewIssues() const {
    if (commandText().isEmpty()) return {};
    const std::string command = commandText().toStdString();
    const Crontab& crontab = store_->crontab();
    std::vector<Issue> issues = CronDiagnostics::commandIssues(command, crontab);
    for (auto& i : CronDiagnostics::scheduleIssues(scheduleFields())) issues.push_back(std::move(i));
    for (auto& i : CronDiagnostics::outputIssues(command, crontab)) issues.push_back(std::move(i));
    sortBySeverity(issues);
    std::erase_if(issues, [](const Issue& i) { return i.severity == Issue::Severity::note; });
    return issues;
}

std::optional<QString> NewCronJobView::refusal() const {
    const QString command = commandText();
    if (holdsLineBreak(command) || (currentShape() == Shape::custom && holdsLineBreak(expressionText())))
        return QStringLiteral("A line break in the entry would write a second line to your crontab.");
    if (!command.isEmpty() && CronText::trimmed(command.toStdString()).empty())
        return QStringLiteral("The command is only blank space.");
    if (currentShape() == Shape::custom) {
        const QStringList words = expressionText().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() != 5 && !(words.size() == 1 && words.front().startsWith(QLatin1Char('@'))))
            return QStringLiteral("The expression needs five fields, or one @ word such as @daily.");
    }
    // cron refuses to install the whole crontab over one bad value, or a command it takes for a field.
    const std::string written = command.toStdString();
    CronJob entry;
    entry.schedule = scheduleFields();
    entry.command = std::string(CronText::trimmedStart(written));
    if (const auto reason = entry.refusal()) return QString::fromStdString(*reason);
    return std::nullopt;
}

void NewCronJobView::update() {
    const Shape shape = currentShape();
    when_->setRowVisible(everyMinutes_, shape == Shape::everyFewMinutes);
    when_->setRowVisible(weekday_, shape == Shape::weekly);
    when_->setRowVisible(dayOfMonth_, shape == Shape::monthly);
    when_->setRowVisible(time_, shape == Shape::daily || shape == Shape::weekly || shape == Shape::monthly);
    when_->setRowVisible(startupNote_, shape == Shape::atStartup);
    when_->setRowVisible(expression_, shape == Shape::custom);

    preview_->setText(previewLine());
    description_->setText(QString::fromStdString(scheduleFields().description()));
    while (QLayoutItem* item = issues_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const Issue& issue : previewIssues()) {
        auto* row = new QWidget(preview_->parentWidget());
        row->setObjectName("previewIssue");
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(6);
        const QColor color = issue.severity == Issue::Severity::error ? redColor() : orangeColor();
        auto* symbol = new QLabel(row);
        symbol->setPixmap(symbolIcon(QStringLiteral("exclamationmark.triangle.fill"), color).pixmap(12, 12));
        auto* title = caption(QString::fromStdString(issue.title), row, "previewIssueTitle");
        tint(title, color);
        layout->addWidget(symbol, 0, Qt::AlignVCenter);
        layout->addWidget(title, 1);
        issues_->addWidget(row);
    }
    const auto refused = refusal();
    refusal_->setText(refused.value_or(QString()));
    refusal_->setVisible(refused.has_value());
    firstCrontab_->setVisible(store_->isEmpty() && !store_->needsFullDiskAccess());
    accessNotice_->setVisible(store_->needsFullDiskAccess());

    failureLabel_->setText(failure_.value_or(QString()));
    failureLabel_->setVisible(failure_.has_value());
    failureArea_->setVisible(failure_.has_value());
    failureArea_->updateGeometry();
    progress_->setVisible(busy_);
    addButton_->setEnabled(!commandText().isEmpty() && !busy_ && !refused && !store_->isSaving());
}

void NewCronJobView::chooseScript() {
    auto* panel = new QFileDialog(this);
    panel->setObjectName("chooseScriptPanel");
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setFileMode(QFileDialog::ExistingFile);
    panel->setWindowModality(Qt::WindowModal);
    connect(panel, &QFileDialog::fileSelected, this, [this](const QString& path) {
        if (!path.isEmpty()) command_->setText(path);
    });
    panel->open();
}

void NewCronJobView::add() {
    if (!addButton_->isEnabled()) return;
    busy_ = true;
    failure_.reset();
    update();
    Crontab edited = store_->crontab();
    CronJob job;
    job.schedule = scheduleFields();
    job.command = commandText().toStdString();
    edited.adding(job);
    QPointer<NewCronJobView> self(this);
    store_->save(edited, [self](const std::optional<QString>& failure) {
        if (!self) return;
        if (!failure) {
            if (self->onCreated_) self->onCreated_();
            if (!self) return;
            self->accept();
            self->busy_ = false;
            return;
        }
        self->failure_ = failure;
        self->busy_ = false;
        self->update();
    });
}

}  // namespace qw
