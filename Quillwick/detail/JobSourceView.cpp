#include "Quillwick/detail/JobSourceView.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScrollBar>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QStackedLayout>
#include <QTextDocument>
#include <QTextLayout>
#include <QVBoxLayout>

#include "Quillwick/editing/FormBits.h"
#include "Quillwick/editing/RouterOperations.h"
#include "Quillwick/store/OperationRouter.h"
#include "Quillwick/store/RegularFile.h"
#include "Quillwick/ui/EmptyStateView.h"
#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"
#include "helperkit/Utf8.h"

namespace qw {

namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

// Enough for any job file a person would read; a broken file larger than this is shown cut short.
constexpr std::size_t largestShownFile = 1u << 20;

// The callout size: a little under the body text.
QFont calloutFont() {
    QFont f = QGuiApplication::font();
    if (f.pointSizeF() > 0) f.setPointSizeF(f.pointSizeF() * 0.94);
    return f;
}

// A label of at most two lines, the second cut with an ellipsis; the whole text is its tooltip.
class TwoLineLabel : public QLabel {
public:
    using QLabel::QLabel;

    void setFullText(const QString& text) {
        full_ = text;
        setToolTip(text.toHtmlEscaped());
        // Screen readers take the tooltip as the description, escapes and all: give them the text.
        setAccessibleDescription(text);
        relayout();
    }
    const QString& fullText() const { return full_; }

    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        relayout();
    }

private:
    void relayout() {
        const qreal width = qMax(contentsRect().width(), 40);
        QTextLayout layout(full_, font());
        layout.beginLayout();
        QStringList lines;
        for (int n = 0; n < 2; ++n) {
            QTextLine line = layout.createLine();
            if (!line.isValid()) break;
            line.setLineWidth(width);
            const QString piece = full_.mid(line.textStart(), line.textLength());
            if (n == 1 && line.textStart() + line.textLength() < full_.size())
                lines << QFontMetricsF(font()).elidedText(full_.mid(line.textStart()), Qt::ElideRight, width);
            else
                lines << piece.trimmed();
        }
        layout.endLayout();
        const QString shown = lines.join(QLatin1Char('\n'));
        if (shown != text()) setText(shown);
    }

    QString full_;
};

// A file the job scan could not parse, as its own bytes: invalid UTF-8 repaired, NULs made visible.
QString brokenFileText(const std::filesystem::path& path) {
    auto file = RegularFile::open(path);
    if (!file) return {};
    std::string bytes;
    try {
        bytes = file->read(0, largestShownFile);
    } catch (const std::system_error&) {
        return {};
    }
    QString text = qs(Utf8::sanitized(bytes));
    text.replace(QChar(0), QChar(QChar::ReplacementCharacter));
    return text;
}

// Why the edited text is no job file, in words for someone who typed it: the line at fault rather than
// the reader's own account of the old text format it tried last.
QString parseProblem(const PlistFile::ReadError& error, const QString& text) {
    if (error.kind() != PlistFile::ReadError::Kind::unreadable) return qs(error.what());
    const QString reason = qs(error.underlying());
    // The XML reader's own account already quotes what it refuses; it only has to lead with the line.
    static const QRegularExpression explained(QStringLiteral("^(.*) \\(line (\\d+)\\)\\.$"),
                                              QRegularExpression::DotMatchesEverythingOption);
    if (const QRegularExpressionMatch match = explained.match(reason); match.hasMatch())
        return QStringLiteral("Line %1: %2.").arg(match.captured(2), match.captured(1));
    static const QRegularExpression located(
        QStringLiteral("^(?:The XML is not well formed \\(line (\\d+)\\): (.*)\\.|(.*) on line (\\d+)\\.)$"));
    const QRegularExpressionMatch match = located.match(reason);
    if (!match.hasMatch()) return reason;
    const bool xml = !match.captured(1).isEmpty();
    const int line = (xml ? match.captured(1) : match.captured(4)).toInt();
    const QString shown = text.section(QLatin1Char('\n'), line - 1, line - 1).trimmed();
    if (shown.isEmpty()) return QStringLiteral("Line %1: the property list ends too early.").arg(line);
    constexpr int longest = 40;
    const QString quoted = shown.size() > longest ? shown.left(longest - 1) + QChar(0x2026) : shown;
    QString sentence = QStringLiteral("Line %1: “%2” is not a property list").arg(line).arg(quoted);
    if (xml) sentence += QStringLiteral(" (%1)").arg(match.captured(2).toLower());
    return sentence + QLatin1Char('.');
}

}  // namespace

JobSourceView::JobSourceView(Job job, OperationRouter& router, OnSaved onSaved, QWidget* parent)
    : QWidget(parent), job_(std::move(job)), router_(router), onSaved_(std::move(onSaved)) {
    pages_ = new QStackedLayout(this);
    placeholder_ = new EmptyStateView(
        QStringLiteral("No File"), QStringLiteral("doc.questionmark"),
        QStringLiteral("An app registered this job with the system rather than installing a plist, so there is no "
                       "file to show."),
        this);
    placeholder_->setObjectName(QStringLiteral("placeholder"));
    pages_->addWidget(placeholder_);

    editorPage_ = new QWidget(this);
    auto* stack = new QVBoxLayout(editorPage_);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    editor_ = new QPlainTextEdit(editorPage_);
    editor_->setObjectName(QStringLiteral("sourceEditor"));
    // Named as its tab is: the text alone does not say what it is.
    editor_->setAccessibleName(QStringLiteral("Source"));
    editor_->setFont(monospaceFont());
    editor_->setFrameShape(QFrame::NoFrame);
    editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
    editor_->setTabStopDistance(QFontMetricsF(editor_->font()).horizontalAdvance(QLatin1Char(' ')) * 4);
    editor_->document()->setDocumentMargin(8);
    editor_->setBackgroundVisible(false);
    editor_->viewport()->setAutoFillBackground(true);
    editor_->viewport()->setBackgroundRole(QPalette::Base);
    stack->addWidget(editor_, 1);
    stack->addWidget(FormBits::divider(editorPage_));

    const FormBits::SaveBar parts = FormBits::saveBar(editorPage_, QStringLiteral("sourceBar"));
    QWidget* bar = parts.bar;
    noticeIcon_ = new QLabel(bar);
    noticeIcon_->setObjectName(QStringLiteral("noticeIcon"));
    parts.row->insertWidget(0, noticeIcon_, 0, Qt::AlignVCenter);
    auto* notice = new TwoLineLabel(bar);
    notice->setObjectName(QStringLiteral("notice"));
    notice->setTextFormat(Qt::PlainText);
    notice->setFont(calloutFont());
    notice->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    noticeText_ = notice;
    parts.row->insertWidget(1, noticeText_, 1);
    progress_ = parts.progress;
    progress_->setObjectName(QStringLiteral("busyIndicator"));
    revert_ = parts.revert;
    save_ = parts.save;
    stack->addWidget(bar);
    pages_->addWidget(editorPage_);

    // Scoped to the tab: the Configure tab and other windows carry their own Save.
    auto* shortcut = new QShortcut(QKeySequence::Save, this);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    save_->setToolTip(QStringLiteral("Save (%1)").arg(shortcut->key().toString(QKeySequence::NativeText)));

    connect(shortcut, &QShortcut::activated, this, &JobSourceView::save);
    connect(save_, &QPushButton::clicked, this, &JobSourceView::save);
    connect(revert_, &QPushButton::clicked, this, &JobSourceView::load);
    connect(editor_, &QPlainTextEdit::textChanged, this, [this] {
        // Back to what is on disk (an undo, say), there is nothing left to refuse.
        if (!hasChanges()) problem_.reset();
        updateBar();
    });
    update();
}

QString JobSourceView::text() const {
    // The raw text keeps non-breaking spaces, which toPlainText would turn into plain ones.
    QString raw = editor_->document()->toRawText();
    raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return raw;
}

void JobSourceView::setText(const QString& text, bool keepPlace) {
    if (text == this->text()) return;
    const int position = editor_->textCursor().position();
    const int top = editor_->verticalScrollBar()->value();
    editor_->setPlainText(text);
    if (!keepPlace) return;
    QTextCursor cursor = editor_->textCursor();
    cursor.setPosition(qMin(position, editor_->document()->characterCount() - 1));
    editor_->setTextCursor(cursor);
    editor_->verticalScrollBar()->setValue(top);
}

bool JobSourceView::isEditable() const {
    return job_.definition && !job_.definition->loadFailure && !router_.isReadOnly(job_);
}

void JobSourceView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Coming back with nothing unsaved picks up what another tab saved meanwhile.
    if (!loadedId_ || (!busy_ && !hasChanges())) load();
}

void JobSourceView::setJob(Job job) {
    const bool sameJob = job.id() == job_.id();
    const bool wasBroken = job_.definition && job_.definition->loadFailure;
    job_ = std::move(job);
    if (!sameJob) {
        ++generation_;
        loadedId_.reset();
        if (isVisible()) load();
    } else if (loadedId_ && !busy_ && !hasChanges()) {
        // A file that starts or stops parsing changes what the editor may hold; edits are never dropped.
        const bool isBroken = job_.definition && job_.definition->loadFailure;
        if (isBroken != wasBroken) load();
    }
    update();
}

void JobSourceView::load() {
    if (!job_.definition) {
        update();
        return;
    }
    QString text;
    if (job_.definition->loadFailure) {
        // The scan's placeholder root is empty: show the file itself, never an empty dictionary.
        if (job_.definition->location) text = brokenFileText(job_.definition->location->url);
    } else {
        try {
            text = qs(job_.definition->file.xmlText());
        } catch (const PlistWriteError&) {
        }
    }
    setText(text);
    basis_ = job_.definition;
    // As the editor holds it: a file's own line ends (CR LF) must not read as an edit.
    original_ = this->text();
    problem_.reset();
    loadedId_ = job_.id();
    update();
}

void JobSourceView::save() {
    if (!job_.definition || !job_.definition->location || !basis_) return;
    if (busy_ || !isEditable() || !hasChanges()) return;
    const QString written = text();
    const JobLocation& location = *job_.definition->location;
    const QByteArray bytes = written.toUtf8();
    JobDefinition definition = *job_.definition;
    try {
        // The definition keeps its own format: a binary file goes back as binary.
        definition.file.root = PlistFile::fromData(std::string_view(bytes.constData(), std::size_t(bytes.size())), location.url).root;
    } catch (const PlistFile::ReadError& e) {
        problem_ = parseProblem(e, written);
        updateBar();
        return;
    }
    const QString label = qs(definition.label());
    const QString name = qs(location.url.stem().string());
    if (label != name) {
        problem_ = QStringLiteral("The Label is “%1” but the file is named “%2.plist”. They have to match.").arg(label, name);
        updateBar();
        return;
    }
    problem_.reset();
    busy_ = true;
    updateBar();
    const std::uint64_t generation = generation_;
    router_.save(definition, job_, *basis_)
        .then(&lifetime_, [this, written, definition, generation](QFuture<void> result) {
            saveFinished(result, written, definition, generation);
        })
        .onCanceled(&lifetime_, [this] { finishSave(); });
}

void JobSourceView::saveFinished(QFuture<void> result, const QString& written, const JobDefinition& definition,
                                 std::uint64_t generation) {
    try {
        result.waitForFinished();
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        if (!isCancelledPrompt(error)) failure_ = FormBits::errorText(error, QStringLiteral("The file could not be saved."));
        finishSave();
        if (failure_) {
            QMessageBox* alert = showWriteFailure(this, error, *failure_, true, [this] { reloadFromDisk(); });
            connect(alert, &QMessageBox::finished, this, [this] { failure_.reset(); });
        }
        return;
    }
    // What was written is saved; anything typed while it was being written is not. The editor then shows
    // the file as written, so nothing it holds can look saved without being so.
    if (generation == generation_) {
        QString onDisk = written;
        try {
            onDisk = qs(definition.file.xmlText());
        } catch (const PlistWriteError&) {
        }
        if (text() == written) setText(onDisk, true);
        original_ = onDisk;
        basis_ = definition;
        basis_->loadFailure.reset();
    }
    updateBar();
    FormBits::afterRefresh(onSaved_, &lifetime_, [this] { finishSave(); });
}

void JobSourceView::reloadFromDisk() {
    busy_ = true;
    updateBar();
    const std::uint64_t generation = generation_;
    // The host's refresh after a change rescans the store, which hands this tab the file as it is.
    FormBits::afterRefresh(onSaved_, &lifetime_, [this, generation] {
        busy_ = false;
        if (generation == generation_) load();
        updateBar();
    });
}

void JobSourceView::finishSave() {
    busy_ = false;
    updateBar();
    emit saveEnded();
}

void JobSourceView::update() {
    if (!job_.definition) {
        pages_->setCurrentWidget(placeholder_);
        return;
    }
    pages_->setCurrentWidget(editorPage_);
    editor_->setReadOnly(!isEditable());
    // Read-only text stays selectable from the keyboard too.
    if (!isEditable()) editor_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    updateBar();
}

QString JobSourceView::notice() const { return static_cast<const TwoLineLabel*>(noticeText_)->fullText(); }

void JobSourceView::updateBar() {
    auto* notice = static_cast<TwoLineLabel*>(noticeText_);
    QString symbol, text;
    QColor color = secondaryColor();
    if (problem_) {
        symbol = QStringLiteral("exclamationmark.triangle.fill");
        text = *problem_;
        color = orangeColor();
    } else if (job_.definition && job_.definition->loadFailure) {
        symbol = QStringLiteral("exclamationmark.triangle.fill");
        text = qs(*job_.definition->loadFailure);
        color = orangeColor();
    } else if (router_.isReadOnly(job_)) {
        symbol = QStringLiteral("lock");
        text = QStringLiteral("Part of macOS — read only.");
    } else if (job_.definition && job_.definition->file.format == PlistFormat::binary) {
        symbol = QStringLiteral("info.circle");
        text = QStringLiteral("This file is a binary plist. It is shown as XML and saved back as binary.");
    }
    noticeIcon_->setVisible(!symbol.isEmpty());
    if (!symbol.isEmpty()) noticeIcon_->setPixmap(symbolIcon(symbol, color).pixmap(14, 14));
    FormBits::setTextColor(notice, color);
    notice->setFullText(text);

    const bool changes = hasChanges();
    const bool canRevert = changes && !busy_;
    const bool canSave = isEditable() && changes && !busy_;
    // A focused button that goes grey hands the focus on to whatever comes next in the window, the
    // search field as likely as not. It stays with the text.
    if ((revert_->hasFocus() && !canRevert) || (save_->hasFocus() && !canSave)) editor_->setFocus(Qt::OtherFocusReason);
    progress_->setVisible(busy_);
    revert_->setEnabled(canRevert);
    save_->setEnabled(canSave);
}

}  // namespace qw
