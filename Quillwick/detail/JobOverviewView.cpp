#include "Quillwick/detail/JobOverviewView.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include "Quillwick/ui/Hint.h"
#include "Quillwick/ui/Style.h"

namespace qw {

namespace {

QString text(const std::string& s) { return QString::fromStdString(s); }

const char* const throttlingSentence =
    " launchd is now throttling restarts, which is what it does when a job fails repeatedly — it will keep "
    "trying, more and more slowly.";

QLabel* plainLabel(const QString& content, QWidget* parent, const char* name) {
    auto* label = new QLabel(content, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void setSecondary(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, secondaryColor());
    widget->setPalette(palette);
}

QLabel* bodyLabel(const QString& content, QWidget* parent, const char* name) {
    QLabel* label = plainLabel(content, parent, name);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// A value that may be copied and wraps as far as it can; its height follows its text.
QLabel* valueLabel(const QString& content, QWidget* parent, const char* name) {
    QLabel* label = bodyLabel(content, parent, name);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QGridLayout* grid(QWidget* owner, int rowSpacing) {
    auto* layout = new QGridLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setHorizontalSpacing(16);
    layout->setVerticalSpacing(rowSpacing);
    layout->setColumnStretch(1, 1);
    return layout;
}

void detailRow(QGridLayout* layout, const QString& label, const QString& value, const Hint::Content* hint = nullptr) {
    QWidget* owner = layout->parentWidget();
    // Two cells a row; an empty grid already counts one row.
    const int row = layout->count() / 2;
    QLabel* name = plainLabel(label, owner, "detailLabel");
    setSecondary(name);
    if (hint) {
        auto* cell = new QWidget(owner);
        cell->setObjectName("detailLabelWithHint");
        auto* line = new QHBoxLayout(cell);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(4);
        name->setParent(cell);
        line->addWidget(name, 0, Qt::AlignVCenter);
        line->addWidget(new Hint(*hint, cell), 0, Qt::AlignVCenter);
        layout->addWidget(cell, row, 0, Qt::AlignRight | Qt::AlignVCenter);
    } else {
        // Beside a value of several lines the label stays on its first line.
        layout->addWidget(name, row, 0, Qt::AlignRight | Qt::AlignTop);
    }
    layout->addWidget(valueLabel(value, owner, "detailValue"), row, 1, Qt::AlignVCenter);
}

}  // namespace

JobOverviewView::JobOverviewView(Job job, std::optional<RuntimeState> runtime, QWidget* parent)
    : QWidget(parent), job_(std::move(job)), runtime_(std::move(runtime)) {
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName("overviewScroll");
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll_);
    rebuild();
}

void JobOverviewView::setJob(Job job) {
    job_ = std::move(job);
    rebuild();
}

void JobOverviewView::setRuntime(std::optional<RuntimeState> runtime) {
    runtime_ = std::move(runtime);
    rebuild();
}

std::optional<QString> JobOverviewView::whyItStopped(const Job& job, const std::optional<RuntimeState>& runtime) {
    std::optional<RuntimeState::ExitStatus> status;
    if (runtime && runtime->lastExit)
        status = runtime->lastExit;
    else if (job.status && job.status->lastExit)
        status = job.status->lastExit;
    if (!status || !status->isFailure()) return std::nullopt;
    QString sentence = QStringLiteral("The program last exited with ") + text(status->description()) + '.';
    if (auto explanation = status->explanation()) sentence += ' ' + text(*explanation);
    if (runtime && runtime->isThrottled()) sentence += QString::fromUtf8(throttlingSentence);
    return sentence;
}

std::optional<QString> JobOverviewView::commandLine(const Job& job, const std::optional<RuntimeState>& runtime) {
    if (job.definition) {
        const std::string command = job.definition->command();
        if (command.empty()) return std::nullopt;
        return text(command);
    }
    if (!runtime) return std::nullopt;
    if (!runtime->arguments.empty()) {
        QStringList words;
        for (const std::string& word : runtime->arguments) words << text(word);
        return words.join(' ');
    }
    if (runtime->program) return text(*runtime->program);
    return std::nullopt;
}

QStringList JobOverviewView::logPaths(const Job& job, const std::optional<RuntimeState>& runtime) {
    QStringList paths;
    if (job.definition) {
        for (const std::string& path : job.definition->logPaths()) paths << text(path);
        if (!paths.isEmpty()) return paths;
    }
    if (runtime) {
        for (const auto* path : {&runtime->standardOutPath, &runtime->standardErrorPath}) {
            if (*path && !paths.contains(text(**path))) paths << text(**path);
        }
    }
    return paths;
}

QWidget* JobOverviewView::section(QVBoxLayout* column, const QString& title, const char* name, QWidget* body) {
    auto* box = new QWidget(column->parentWidget());
    box->setObjectName(name);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    QLabel* heading = plainLabel(title, box, "sectionTitle");
    heading->setFont(headlineFont());
    layout->addWidget(heading);
    body->setParent(box);
    layout->addWidget(body);
    column->addWidget(box);
    return box;
}

QWidget* JobOverviewView::detailsRows(QWidget* parent) const {
    auto* owner = new QWidget(parent);
    owner->setObjectName("detailsGrid");
    QGridLayout* layout = grid(owner, 6);

    detailRow(layout, QStringLiteral("Domain"), text(job_.serviceTarget().description()), &Hint::domains());
    const std::optional<JobDefinition>& definition = job_.definition;
    if (!definition)
        detailRow(layout, QStringLiteral("File"), QStringLiteral("None — an app registered this job with the system."),
                  &Hint::jobsWithNoFile());
    else if (definition->location)
        detailRow(layout, QStringLiteral("File"), QString::fromStdString(definition->location->url.string()));
    if (job_.directory)
        detailRow(layout, QStringLiteral("Location"),
                  QString::fromUtf8(job_.directory->title()) + QStringLiteral(" — ") +
                      QString::fromUtf8(job_.directory->blurb()));
    if (runtime_) {
        if (runtime_->pid) detailRow(layout, QStringLiteral("Process"), QString::number(*runtime_->pid));
        if (runtime_->runs) detailRow(layout, QStringLiteral("Times started"), QString::number(*runtime_->runs));
        if (runtime_->immediateReason) detailRow(layout, QStringLiteral("Started because"), text(*runtime_->immediateReason));
        if (runtime_->workingDirectory)
            detailRow(layout, QStringLiteral("Working directory"), text(*runtime_->workingDirectory));
    }
    // The "root" row follows the file's folder, not the job's, as launchd does when it reads the file.
    if (definition) {
        if (auto user = definition->userName())
            detailRow(layout, QStringLiteral("Runs as"), text(*user));
        else if (definition->location && definition->location->directory.isDaemon())
            detailRow(layout, QStringLiteral("Runs as"), QStringLiteral("root"));
    }
    const QStringList logs = logPaths(job_, runtime_);
    if (!logs.isEmpty())
        detailRow(layout, QStringLiteral("Log"), logs.join('\n'));
    else
        detailRow(layout, QStringLiteral("Log"), QStringLiteral("None — this job's output is discarded."), &Hint::jobOutput());
    return owner;
}

QWidget* JobOverviewView::environmentRows(QWidget* parent) const {
    auto* owner = new QWidget(parent);
    owner->setObjectName("environmentGrid");
    QGridLayout* layout = grid(owner, 4);
    // std::map orders names by their bytes: case-sensitive and free of the locale.
    for (const auto& [name, value] : job_.definition->environmentVariables()) detailRow(layout, text(name), text(value));
    return owner;
}

void JobOverviewView::rebuild() {
    const int scrolled = scroll_->verticalScrollBar()->value();

    auto* content = new QWidget;
    content->setObjectName("overviewContent");
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(20);

    if (job_.definition)
        section(column, QStringLiteral("Schedule"), "scheduleSection",
                bodyLabel(text(job_.definition->scheduleSummary()), content, "scheduleText"));
    if (auto why = whyItStopped(job_, runtime_))
        section(column, QStringLiteral("Why it stopped"), "whyItStoppedSection", bodyLabel(*why, content, "whyItStoppedText"));
    if (auto command = commandLine(job_, runtime_)) {
        QLabel* line = valueLabel(*command, content, "commandText");
        line->setFont(monospaceFont());
        section(column, QStringLiteral("Command"), "commandSection", line);
    } else {
        QLabel* none = bodyLabel(QStringLiteral("This job has no command — nothing would run."), content, "commandText");
        setSecondary(none);
        section(column, QStringLiteral("Command"), "commandSection", none);
    }
    section(column, QStringLiteral("Details"), "detailsSection", detailsRows(content));
    if (job_.definition && !job_.definition->environmentVariables().empty())
        section(column, QStringLiteral("Environment"), "environmentSection", environmentRows(content));
    column->addStretch(1);

    // setWidget deletes the old content; the new one takes its place at the old scroll position.
    scroll_->setWidget(content);
    scroll_->verticalScrollBar()->setValue(scrolled);
}

}  // namespace qw
