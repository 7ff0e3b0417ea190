#include "Quillwick/detail/JobLogView.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>

#include "Quillwick/detail/LogLines.h"
#include "Quillwick/editing/FormBits.h"
#include "Quillwick/store/LaunchdActivityLog.h"
#include "Quillwick/store/LogTail.h"
#include "Quillwick/ui/ElidedLabel.h"
#include "Quillwick/ui/EmptyStateView.h"
#include "Quillwick/ui/Markup.h"
#include "Quillwick/ui/SearchField.h"
#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"
#include "helperkit/SystemPaths.h"

namespace qw {
namespace {

constexpr int activityMinutes = 60;

QString lastComponent(QString path) {
    while (path.size() > 1 && path.endsWith(u'/')) path.chop(1);
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 || path.size() == 1 ? path : path.mid(slash + 1);
}

// The file a job names, as this machine holds it.
QString machineFile(const QString& path) {
    return QString::fromStdString(SystemPaths::current().machinePath(path.toStdString()));
}

bool isLogFile(const std::optional<std::string>& path) {
    return path && *path != "/dev/null" && *path != "/dev/console";
}

}  // namespace

JobLogView::JobLogView(Job job, std::optional<RuntimeState> runtime, QWidget* parent)
    : QWidget(parent), job_(std::move(job)), runtime_(std::move(runtime)) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(10, 10, 10, 10);
    auto* pickerBox = new QWidget(this);
    pickerBox->setObjectName("sourcePicker");
    picker_ = new QHBoxLayout(pickerBox);
    picker_->setContentsMargins(0, 0, 0, 0);
    picker_->setSpacing(0);
    pickerGroup_ = new QButtonGroup(this);
    pickerGroup_->setExclusive(true);
    connect(pickerGroup_, &QButtonGroup::idClicked, this, [this](int id) {
        if (id >= 0 && id < pickerSources_.size()) setSource(pickerSources_[id]);
    });
    header->addWidget(pickerBox);
    header->addStretch(1);
    filterField_ = new QLineEdit(this);
    filterField_->setObjectName("logFilter");
    filterField_->setPlaceholderText(tr("Filter"));
    filterField_->setClearButtonEnabled(true);
    // The prompt goes once text is typed; the name stays.
    filterField_->setAccessibleName(tr("Filter"));
    SearchField::nameClearButton(filterField_);
    filterField_->setMaximumWidth(220);
    filterField_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(filterField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        filter_ = text;
        refresh();
    });
    header->addWidget(filterField_, 1);
    stack->addLayout(header);
    stack->addWidget(FormBits::divider(this));

    auto* contentBox = new QWidget(this);
    contentBox->setObjectName("logContent");
    content_ = new QStackedLayout(contentBox);
    progress_ = new QWidget(contentBox);
    progress_->setObjectName("logProgress");
    auto* progressLayout = new QVBoxLayout(progress_);
    auto* bar = new QProgressBar(progress_);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedWidth(120);
    progressLayout->addWidget(bar, 0, Qt::AlignCenter);
    noLog_ = new EmptyStateView(tr("No Log"), "doc.questionmark", {}, contentBox);
    noLog_->setObjectName("noLog");
    lines_ = new LogLines(contentBox);
    lines_->setObjectName("logLines");
    content_->addWidget(progress_);
    content_->addWidget(noLog_);
    content_->addWidget(lines_);
    stack->addWidget(contentBox, 1);
    stack->addWidget(FormBits::divider(this));

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(10, 10, 10, 10);
    notice_ = new QWidget(this);
    notice_->setObjectName("noLogNotice");
    auto* noticeLayout = new QHBoxLayout(notice_);
    noticeLayout->setContentsMargins(0, 0, 0, 0);
    auto* noticeIcon = new QLabel(notice_);
    noticeIcon->setPixmap(symbolIcon("info.circle", secondaryColor()).pixmap(16, 16));
    noticeIcon->setAlignment(Qt::AlignTop);
    auto* noticeText = new QLabel(QStringLiteral("This job keeps no log. Add StandardOutPath and StandardErrorPath in "
                                                 "Configure to capture what it prints."),
                                  notice_);
    noticeText->setObjectName("noLogNoticeText");
    noticeText->setTextFormat(Qt::PlainText);
    noticeText->setWordWrap(true);
    QFont callout = font();
    if (callout.pointSizeF() > 0) callout.setPointSizeF(callout.pointSizeF() * 0.94);
    noticeText->setFont(callout);
    FormBits::setTextColor(noticeText, secondaryColor());
    noticeLayout->addWidget(noticeIcon);
    noticeLayout->addWidget(noticeText, 1);
    footer->addWidget(notice_, 1);
    auto* path = new ElidedLabel(this);
    path->setObjectName("logPath");
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    path->setFont(captionFont());
    FormBits::setTextColor(path, secondaryColor());
    pathLabel_ = path;
    footer->addWidget(pathLabel_, 1);
    footer->addStretch(0);
    reload_ = new QPushButton(tr("Reload"), this);
    reload_->setObjectName("reloadButton");
    reload_->setFont(captionFont());
    connect(reload_, &QPushButton::clicked, this, [this] { loadActivity(); });
    footer->addWidget(reload_);
    stack->addLayout(footer);

    replaceActivity();
    rebuildPicker();
    refresh();
}

JobLogView::~JobLogView() = default;

QStringList JobLogView::logPaths() const {
    QStringList paths;
    if (job_.definition) {
        for (const std::string& p : job_.definition->logPaths()) paths.append(QString::fromStdString(p));
        if (!paths.isEmpty()) return paths;
    }
    if (runtime_) {
        for (const auto& p : {runtime_->standardOutPath, runtime_->standardErrorPath}) {
            if (!isLogFile(p)) continue;
            const QString text = QString::fromStdString(*p);
            if (!paths.contains(text)) paths.append(text);
        }
    }
    return paths;
}

QString JobLogView::title(const QString& path) const {
    const std::string p = path.toStdString();
    const bool out = (job_.definition && job_.definition->standardOutPath() == p) ||
                     (runtime_ && runtime_->standardOutPath == p);
    const bool err = (job_.definition && job_.definition->standardErrorPath() == p) ||
                     (runtime_ && runtime_->standardErrorPath == p);
    if (out && err) return QStringLiteral("Output & Errors");
    if (out) return QStringLiteral("Output");
    if (err) return QStringLiteral("Errors");
    return lastComponent(path);
}

void JobLogView::setJob(Job job) {
    const bool idChanged = job.id() != job_.id();
    job_ = std::move(job);
    if (!idChanged) {
        followChangedPaths();
    } else {
        // Nothing of the former job may show under this one, not even a query still on its way.
        replaceActivity();
        if (isVisible()) {
            restartTails();
            return;
        }
        stopTails();
        started_ = false;
    }
    rebuildPicker();
    refresh();
}

void JobLogView::setRuntime(std::optional<RuntimeState> runtime) {
    runtime_ = std::move(runtime);
    followChangedPaths();
    rebuildPicker();
    refresh();
}

void JobLogView::followChangedPaths() {
    if (!started_ || !isVisible() || logPaths() == followed_) return;
    const Source kept = source_;
    restartTails();
    if (kept != source_ && pickerSources_.contains(kept)) setSource(kept);
}

void JobLogView::stopTails() {
    for (auto& [path, tail] : tails_) tail->stop();
    tails_.clear();
    followed_.clear();
}

void JobLogView::restartTails() {
    stopTails();
    started_ = true;
    followed_ = logPaths();
    for (const QString& path : followed_) {
        auto tail = std::make_unique<LogTail>(machineFile(path));
        LogTail* raw = tail.get();
        tails_[path] = std::move(tail);
        connect(raw, &LogTail::linesChanged, this, &JobLogView::refresh);
        connect(raw, &LogTail::errorChanged, this, &JobLogView::refresh);
        raw->start();
    }
    source_ = followed_.isEmpty() ? Source::launchd() : Source::file(followed_.front());
    linesShowing_.reset();
    rebuildPicker();
    if (followed_.isEmpty())
        loadActivity();
    else
        refresh();
}

QFuture<void> JobLogView::loadActivity() {
    activityAsked_ = true;
    QFuture<void> loaded = activity_->load(QString::fromStdString(job_.label), activityMinutes);
    refresh();
    return loaded;
}

void JobLogView::setSource(const Source& source) {
    source_ = source;
    // The first look at launchd's view reads its log; a tab that opened on a file has not read it yet.
    if (source_.kind == Source::Kind::launchd && !activityAsked_) loadActivity();
    rebuildPicker();
    refresh();
}

LogTail* JobLogView::tail(const QString& path) const {
    const auto it = tails_.find(path);
    return it == tails_.end() ? nullptr : it->second.get();
}

QString JobLogView::footerPath() const {
    return pathLabel_->isVisibleTo(this) ? pathLabel_->fullText() : QString();
}

void JobLogView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) restartTails();
}

void JobLogView::replaceActivity() {
    // Destroying the old object drops the result of any query it still waits for.
    activity_ = std::make_unique<LaunchdActivityLog>();
    activityAsked_ = false;
    connect(activity_.get(), &LaunchdActivityLog::linesChanged, this, &JobLogView::refresh);
    connect(activity_.get(), &LaunchdActivityLog::errorChanged, this, &JobLogView::refresh);
    connect(activity_.get(), &LaunchdActivityLog::isLoadingChanged, this, &JobLogView::refresh);
    if (linesShowing_ && linesShowing_->kind == Source::Kind::launchd) linesShowing_.reset();
}

void JobLogView::rebuildPicker() {
    QList<Source> sources;
    QStringList titles;
    for (const QString& path : logPaths()) {
        sources.append(Source::file(path));
        titles.append(title(path));
    }
    sources.append(Source::launchd());
    titles.append(tr("launchd Activity"));

    QList<QAbstractButton*> buttons = pickerGroup_->buttons();
    bool same = sources == pickerSources_;
    for (int i = 0; same && i < buttons.size(); ++i) same = buttons[i]->text() == escapeMnemonics(titles[i]);
    if (!same) {
        for (QAbstractButton* button : buttons) {
            pickerGroup_->removeButton(button);
            delete button;
        }
        pickerSources_ = sources;
        for (int i = 0; i < sources.size(); ++i) {
            auto* button = new QToolButton(picker_->parentWidget());
            button->setText(escapeMnemonics(titles[i]));
            button->setCheckable(true);
            button->setToolButtonStyle(Qt::ToolButtonTextOnly);
            pickerGroup_->addButton(button, i);
            picker_->addWidget(button);
        }
    }
    const qsizetype chosen = pickerSources_.indexOf(source_);
    if (QAbstractButton* button = pickerGroup_->button(int(chosen)))
        button->setChecked(true);
    else if (QAbstractButton* checked = pickerGroup_->checkedButton()) {
        pickerGroup_->setExclusive(false);
        checked->setChecked(false);
        pickerGroup_->setExclusive(true);
    }
}

void JobLogView::refresh() {
    const bool noFiles = logPaths().isEmpty();
    const bool launchd = source_.kind == Source::Kind::launchd;
    notice_->setVisible(noFiles);
    pathLabel_->setFullText(!noFiles && !launchd ? machineFile(source_.path) : QString());
    pathLabel_->setVisible(!noFiles && !launchd);
    reload_->setVisible(launchd);
    reload_->setEnabled(!activity_->isLoading());

    auto showLines = [this](const QStringList& lines, const QString& empty) {
        if (linesShowing_ != source_) {
            lines_->reset();
            linesShowing_ = source_;
        }
        lines_->setContent(lines, filter_, empty);
        content_->setCurrentWidget(lines_);
    };
    // A list that comes back after a placeholder or the progress indicator shows from the top.
    if (content_->currentWidget() != lines_) linesShowing_.reset();
    if (!launchd) {
        const LogTail* follower = tail(source_.path);
        if (!follower) {
            content_->setCurrentWidget(progress_);
        } else if (follower->error()) {
            noLog_->setContent(tr("No Log"), "doc.questionmark", *follower->error());
            content_->setCurrentWidget(noLog_);
        } else {
            showLines(follower->lines(), QStringLiteral("This log is empty so far."));
        }
    } else if (activity_->isLoading()) {
        content_->setCurrentWidget(progress_);
    } else if (activity_->error()) {
        noLog_->setContent(tr("No Log"), "exclamationmark.triangle", *activity_->error());
        content_->setCurrentWidget(noLog_);
    } else {
        showLines(activity_->lines(), QStringLiteral("launchd has said nothing about this job in the last hour."));
    }
}

}  // namespace qw
