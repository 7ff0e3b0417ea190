#include "Quillwick/feedback/FeedbackView.h"

#include <QButtonGroup>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QShowEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTextBoundaryFinder>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "Quillwick/ui/CloseKeys.h"
#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"

namespace qw {

namespace {

// The Mac's point sizes, scaled so that its body size (13) is the application font.
QFont textFont(int macPoints, QFont::Weight weight = QFont::Normal)
{
    QFont f = QGuiApplication::font();
    if (f.pointSizeF() > 0) f.setPointSizeF(f.pointSizeF() * macPoints / 13.0);
    f.setWeight(weight);
    return f;
}

QLabel* label(const QString& text, const QFont& f, QWidget* parent, const char* name)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setFont(f);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    return l;
}

int characterCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1) ++count;
    return count;
}

// The start of the character at or before `position`: a cut there splits no pair or cluster. Only a
// stretch around it is looked at, so a cut in a pasted megabyte costs no more than one in a word.
qsizetype characterStart(const QString& text, qsizetype position)
{
    constexpr qsizetype around = 64;
    const qsizetype from = std::max<qsizetype>(0, position - around);
    const qsizetype to = std::min(text.size(), position + around);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.constData() + from, to - from);
    finder.setPosition(position - from);
    if (!finder.isAtBoundary()) finder.toPreviousBoundary();
    return from + std::max<qsizetype>(0, finder.position());
}

// Word wrapping a run with no break in it costs time by the square of its length, enough to freeze the
// window for a pasted blob at the length limit; past this length any run wraps anywhere instead.
constexpr qsizetype longestWrappedWord = 1000;

bool hasUnbrokenRun(QStringView text)
{
    qsizetype run = 0;
    for (const QChar c : text) {
        run = c.isSpace() ? 0 : run + 1;
        if (run > longestWrappedWord) return true;
    }
    return false;
}

}  // namespace

// The message box. What goes past the length limit is cut before it reaches the document where it can
// be (a paste or a drop), so an outsized one is never laid out, and trimmed after it anywhere else.
class FeedbackView::MessageEditor : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;

    qsizetype length() const { return document()->characterCount() - 1; }
    // Something was left out, and the text has not grown shorter since.
    bool overflowed() const { return cutAt_ >= 0; }

    // After every change: cut back to the limit, and choose the wrapping that the text can afford.
    void keepWithinLimit()
    {
        if (const qsizetype excess = length() - maximumMessageLength; excess > 0) {
            const QString text = toPlainText();
            QTextCursor cursor = textCursor();
            // What was typed last ends at the cursor; text put in some other way is cut from the end.
            const qsizetype end = cursor.position() >= excess ? cursor.position() : text.size();
            cursor.setPosition(int(characterStart(text, end - excess)));
            cursor.setPosition(int(end), QTextCursor::KeepAnchor);
            cursor.removeSelectedText();  // comes back here
            cutAt_ = length();
            return;
        }
        if (length() < cutAt_) cutAt_ = -1;
        setWordWrapMode(hasUnbrokenRun(toPlainText()) ? QTextOption::WrapAnywhere
                                                      : QTextOption::WrapAtWordBoundaryOrAnywhere);
    }

protected:
    void insertFromMimeData(const QMimeData* source) override
    {
        if (!source->hasText()) return QPlainTextEdit::insertFromMimeData(source);
        const QTextCursor cursor = textCursor();
        const qsizetype room = maximumMessageLength - length() + (cursor.selectionEnd() - cursor.selectionStart());
        QString text = source->text();
        const bool cut = text.size() > room;
        if (cut) text.truncate(characterStart(text, std::max<qsizetype>(0, room)));
        if (hasUnbrokenRun(text)) setWordWrapMode(QTextOption::WrapAnywhere);  // before it is laid out
        QMimeData fitting;
        fitting.setText(text);
        if (cut) cutAt_ = 0;  // already so while the text goes in
        QPlainTextEdit::insertFromMimeData(&fitting);
        if (cut) cutAt_ = length();
    }

private:
    qsizetype cutAt_ = -1;  // the length left by the last cut
};

namespace {

QColor withAlpha(QColor colour, double alpha)
{
    colour.setAlphaF(float(alpha));
    return colour;
}

// The theme's emblem keeps its own colours (tinting would flood it); the drawn stand-in takes the tint.
QIcon colouredSymbol(const QString& name, const QColor& colour)
{
    QIcon icon = symbolIcon(name);
    return QIcon::hasThemeIcon(themeIconName(name)) ? icon : symbolIcon(name, colour);
}

void setTextColour(QLabel* label, const QColor& colour)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
}

}  // namespace

FeedbackView::FeedbackView(QWidget* parent)
    : QWidget(parent),
      sender_([](FeedbackService::Category category, const QString& message, const QString& email, QObject* context,
                 FeedbackService::Completion done) {
          FeedbackService::send(category, message, email, context, std::move(done));
      })
{
    setObjectName(QStringLiteral("feedbackView"));
    setFixedWidth(460);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(24, 24, 24, 24);
    root->setSpacing(16);

    auto* header = new QVBoxLayout;
    header->setSpacing(4);
    header->addWidget(label(QStringLiteral("Send Feedback"), textFont(20, QFont::Bold), this, "title"));
    subtitle_ = label(QStringLiteral("What's working, what's broken, what you'd like. It goes straight to me."),
                      textFont(12), this, "subtitle");
    header->addWidget(subtitle_);
    root->addLayout(header);

    // The form
    form_ = new QWidget(this);
    auto* form = new QVBoxLayout(form_);
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(16);

    auto* picker = new QWidget(form_);
    picker->setObjectName(QStringLiteral("category"));
    picker->setAccessibleName(QStringLiteral("Type"));
    auto* segments = new QHBoxLayout(picker);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    categories_ = new QButtonGroup(this);
    for (const auto category : FeedbackService::allCategories) {
        auto* segment = new QToolButton(picker);
        segment->setObjectName(QStringLiteral("category.") + FeedbackService::rawValue(category));
        segment->setText(FeedbackService::title(category));
        segment->setCheckable(true);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        categories_->addButton(segment, int(category));
        segments->addWidget(segment);
    }
    connect(categories_, &QButtonGroup::idClicked, this,
            [this](int id) { category_ = static_cast<FeedbackService::Category>(id); });
    form->addWidget(picker);

    message_ = new MessageEditor(form_);
    message_->setObjectName(QStringLiteral("message"));
    message_->setFont(textFont(13));
    message_->setPlaceholderText(QStringLiteral("What's on your mind?"));
    // The prompts go once text is typed; the names stay for a screen reader.
    message_->setAccessibleName(QStringLiteral("Message"));
    message_->setMinimumHeight(150);
    message_->setTabChangesFocus(true);
    connect(message_, &QPlainTextEdit::textChanged, this, [this] {
        message_->keepWithinLimit();
        update_();
    });
    form->addWidget(message_);
    count_ = label(QString(), captionFont(), form_, "count");
    count_->setAlignment(Qt::AlignRight);
    form->addWidget(count_);

    email_ = new QLineEdit(form_);
    email_->setObjectName(QStringLiteral("email"));
    email_->setPlaceholderText(QStringLiteral("Email (optional — if you'd like a reply)"));
    email_->setAccessibleName(QStringLiteral("Email"));
    form->addWidget(email_);

    note_ = label(QString(), captionFont(), form_, "note");
    form->addWidget(note_);

    errorRow_ = new QWidget(form_);
    errorRow_->setObjectName(QStringLiteral("errorRow"));
    auto* errorLayout = new QHBoxLayout(errorRow_);
    errorLayout->setContentsMargins(0, 0, 0, 0);
    errorLayout->setSpacing(6);
    auto* errorIcon = new QLabel(errorRow_);
    errorIcon->setPixmap(colouredSymbol(QStringLiteral("exclamationmark.triangle.fill"), redColor()).pixmap(14, 14));
    errorLayout->addWidget(errorIcon, 0, Qt::AlignTop);
    errorText_ = label(QString(), captionFont(), errorRow_, "error");
    errorText_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    errorLayout->addWidget(errorText_, 1);
    form->addWidget(errorRow_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), form_);
    cancel->setObjectName(QStringLiteral("cancel"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, [this] { window()->close(); });
    buttons->addWidget(cancel);
    sendButton_ = new QPushButton(QStringLiteral("Send"), form_);
    sendButton_->setObjectName(QStringLiteral("send"));
    sendButton_->setDefault(true);
    sendButton_->setMinimumWidth(sendButton_->sizeHint().width());
    auto* inButton = new QHBoxLayout(sendButton_);
    inButton->setContentsMargins(12, 0, 12, 0);
    progress_ = new QProgressBar(sendButton_);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setRange(0, 0);
    progress_->setTextVisible(false);
    progress_->setFixedHeight(6);
    inButton->addWidget(progress_);
    connect(sendButton_, &QPushButton::clicked, this, &FeedbackView::send);
    // A shortcut of its own rather than the button's, which would click only after its press animation.
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter})
        connect(new QShortcut(QKeySequence(Qt::CTRL | key), this), &QShortcut::activated, this, &FeedbackView::send);
    buttons->addWidget(sendButton_);
    form->addLayout(buttons);
    root->addWidget(form_);

    // The confirmation, in place of the form
    confirmation_ = new QWidget(this);
    confirmation_->setObjectName(QStringLiteral("confirmation"));
    auto* thanks = new QVBoxLayout(confirmation_);
    thanks->setContentsMargins(0, 24, 0, 24);
    thanks->setSpacing(14);
    auto* check = new QLabel(confirmation_);
    check->setPixmap(colouredSymbol(QStringLiteral("checkmark.circle.fill"), greenColor()).pixmap(40, 40));
    thanks->addWidget(check, 0, Qt::AlignHCenter);
    thanks->addWidget(label(QStringLiteral("Thanks — sent."), textFont(15, QFont::DemiBold), confirmation_, "thanks"), 0,
                      Qt::AlignHCenter);
    replyNote_ = label(QString(), captionFont(), confirmation_, "replyNote");
    replyNote_->setAlignment(Qt::AlignHCenter);
    thanks->addWidget(replyNote_);
    done_ = new QPushButton(QStringLiteral("Done"), confirmation_);
    done_->setObjectName(QStringLiteral("done"));
    done_->setDefault(true);
    connect(done_, &QPushButton::clicked, this, [this] { window()->close(); });
    thanks->addWidget(done_, 0, Qt::AlignHCenter);
    root->addWidget(confirmation_);

    closeWithEscapeAndCloseWindow(this);
    applyColours();
    reset();
}

void FeedbackView::setSender(Sender sender) { sender_ = std::move(sender); }

void FeedbackView::reset()
{
    ++generation_;
    category_ = FeedbackService::Category::feedback;
    sending_ = false;
    sent_ = false;
    error_.reset();
    categories_->button(int(category_))->setChecked(true);
    {
        const QSignalBlocker quiet(message_);
        message_->clear();
    }
    message_->keepWithinLimit();  // forgets an earlier cut
    email_->clear();
    update_();
}

void FeedbackView::send()
{
    if (sent_ || !sendButton_->isEnabled()) return;
    sending_ = true;
    error_.reset();
    update_();
    const unsigned generation = ++generation_;
    sender_(category_, message_->toPlainText().trimmed(), email_->text(), this,
            [this, generation](std::exception_ptr failure) {
        if (generation == generation_) finishSend(failure);
    });
}

void FeedbackView::finishSend(std::exception_ptr failure)
{
    if (!failure) {
        sent_ = true;
    } else {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            error_ = QString::fromUtf8(e.what());
        } catch (...) {
            error_ = QStringLiteral("Unknown error");
        }
    }
    sending_ = false;
    update_();
    if (isVisible()) {
        if (sent_) done_->setFocus();
    } else if (sent_) {
        reset();  // the form was closed while sending: only now may it go
    } else {
        // Closed while sending, so nobody saw it fail: bring the message back with the reason.
        window()->show();
        window()->raise();
        window()->activateWindow();
    }
    emit sendEnded(sent_);
}

void FeedbackView::update_()
{
    const bool configured = FeedbackService::secret().has_value();
    form_->setVisible(!sent_);
    confirmation_->setVisible(sent_);

    note_->setText(configured ? QStringLiteral("Sent with the app's version (%1) and your macOS version, nothing else.")
                                    .arg(FeedbackService::appVersion())
                              : QStringLiteral("Feedback isn't available in this build — please use the website."));
    errorRow_->setVisible(error_.has_value());
    errorText_->setText(error_.value_or(QString()));

    sendButton_->setEnabled(!sending_ && configured && characterCount(message_->toPlainText().trimmed()) >= 3);
    sendButton_->setText(sending_ ? QString() : QStringLiteral("Send"));
    progress_->setVisible(sending_);

    // The count shows only as the limit nears.
    const qsizetype length = message_->length();
    count_->setVisible(length >= maximumMessageLength * 9 / 10);
    const QString count =
        QStringLiteral("%L1 of %L2 characters").arg(length).arg(maximumMessageLength);
    const bool cut = message_->overflowed();
    count_->setText(cut ? count + QStringLiteral(" — the rest didn't fit.") : count);
    setTextColour(count_, cut || length >= maximumMessageLength ? redColor() : secondaryColor());

    const QString email = FeedbackService::trimmedEmail(email_->text());
    replyNote_->setVisible(!email.isEmpty());
    replyNote_->setText(QStringLiteral("I'll reply to %1.").arg(email));
}

void FeedbackView::applyColours()
{
    for (QLabel* secondary : {subtitle_, note_, replyNote_}) setTextColour(secondary, secondaryColor());
    setTextColour(errorText_, redColor());

    const QColor text = palette().color(QPalette::WindowText);

    const QColor fill = withAlpha(text, 0.05);
    const QColor border = withAlpha(text, 0.15);
    const auto css = [](const QColor& c) {
        return QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
    };
    message_->setStyleSheet(QStringLiteral("QPlainTextEdit#message { background: %1; border: 1px solid %2;"
                                           " border-radius: 8px; padding: 6px; }")
                                .arg(css(fill), css(border)));
}

void FeedbackView::showEvent(QShowEvent* event)
{
    // The window opens ready for typing.
    if (!event->spontaneous()) (sent_ ? static_cast<QWidget*>(done_) : message_)->setFocus();
    QWidget::showEvent(event);
}

void FeedbackView::hideEvent(QHideEvent* event)
{
    // A closed window hides the view; a minimised one does so spontaneously and keeps the form. A
    // message still on its way is kept until the server has taken it.
    if (!event->spontaneous() && !sending_) reset();
    QWidget::hideEvent(event);
}

void FeedbackView::keyPressEvent(QKeyEvent* event)
{
    // Return never sends from the form (that is Ctrl-Return); in the confirmation it means Done.
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (isReturn && !(event->modifiers() & Qt::ControlModifier)) {
        if (sent_) done_->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void FeedbackView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange) applyColours();
    QWidget::changeEvent(event);
}

}  // namespace qw
