// FeedbackView: the content of the single "Send Feedback" window: a kind of message, the message, an
// optional e-mail address, and the send with its progress, error and confirmation.
//
// Hosting: put it alone in a top-level window whose layout has the size constraint QLayout::SetFixedSize;
// the view is 460 wide and grows and shrinks with its content. Cancel and Done close that window
// (QWidget::close), and so do Escape and Ctrl+W; Ctrl-Return sends, and Return never does (in the
// confirmation it means Done). The window opens with the message box focused. Closing or hiding the
// window (not minimising it) hides the view, which resets it to the empty form; reset() does the same
// for a host that keeps it visible. Closed while a send is under way, the form is kept until the answer:
// accepted, it resets; failed, the view shows its window again with the message and the reason. So the
// host must keep the window (and the view) alive when it closes. A send still under way when reset()
// is called finishes unseen.
#pragma once

#include <QWidget>

#include <functional>
#include <optional>

#include "Quillwick/feedback/FeedbackService.h"

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace qw {

class FeedbackView : public QWidget {
    Q_OBJECT

public:
    explicit FeedbackView(QWidget* parent = nullptr);

    // The longest message the box takes, in UTF-16 units: the window has to keep answering.
    static constexpr qsizetype maximumMessageLength = 65536;

    // Back to the initial state: category feedback, empty fields, not sending, not sent, no error.
    void reset();

    // How a message goes out: FeedbackService::send unless a test puts another in.
    using Sender = std::function<void(FeedbackService::Category, const QString& message, const QString& email,
                                      QObject* context, FeedbackService::Completion done)>;
    void setSender(Sender sender);

    bool isSending() const { return sending_; }

signals:
    // The server has answered the send under way: `sent` when it took the message.
    void sendEnded(bool sent);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    class MessageEditor;
    void send();
    void finishSend(std::exception_ptr failure);
    void update_();
    void applyColours();

    // View state
    FeedbackService::Category category_ = FeedbackService::Category::feedback;
    bool sending_ = false;
    bool sent_ = false;
    std::optional<QString> error_;
    unsigned generation_ = 0;  // a send's answer counts only while this is unchanged
    Sender sender_;

    QLabel* subtitle_;
    QWidget* form_;
    QWidget* confirmation_;
    QButtonGroup* categories_;
    MessageEditor* message_;
    QLabel* count_;
    QLineEdit* email_;
    QLabel* note_;
    QWidget* errorRow_;
    QLabel* errorText_;
    QPushButton* sendButton_;
    QProgressBar* progress_;
    QLabel* replyNote_;
    QPushButton* done_;
};

}  // namespace qw
