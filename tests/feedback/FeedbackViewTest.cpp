// The feedback window through its widgets, with the send replaced by one the test answers.
#include <QtTest>

#include <QAbstractButton>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "FeedbackTestSupport.h"
#include "Quillwick/feedback/FeedbackView.h"

using namespace qw;
using Category = FeedbackService::Category;

namespace {

struct SentMessage {
    Category category;
    QString message, email;
    FeedbackService::Completion done;
};

}  // namespace

class FeedbackViewTest : public QObject {
    Q_OBJECT

    test::TestBundle bundle_{test::configuredInfo()};
    std::unique_ptr<QWidget> window_;
    FeedbackView* view_ = nullptr;
    QList<SentMessage> sent_;

    template <typename T>
    T* find(const char* name) const
    {
        T* widget = view_->findChild<T*>(QLatin1String(name));
        [&] { QVERIFY2(widget, name); }();
        return widget;
    }
    QPushButton* sendButton() const { return find<QPushButton>("send"); }
    bool shown(const char* name) const { return find<QWidget>(name)->isVisible(); }

    void type(const QString& message, const QString& email = QString())
    {
        find<QPlainTextEdit>("message")->setPlainText(message);
        find<QLineEdit>("email")->setText(email);
    }

    void open()
    {
        window_->show();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    }

    void screenshot(const QString& state) const
    {
        if (const QString dir = qEnvironmentVariable("QUILLWICK_SCREENSHOT_DIR"); !dir.isEmpty())
            window_->grab().save(QDir(dir).filePath("feedback-" + state + ".png"));
    }

private slots:
    void init()
    {
        sent_.clear();
        window_ = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window_.get());
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSizeConstraint(QLayout::SetFixedSize);
        view_ = new FeedbackView;
        view_->setSender([this](Category category, const QString& message, const QString& email, QObject*,
                                FeedbackService::Completion done) {
            sent_.append({category, message, email, std::move(done)});
        });
        layout->addWidget(view_);
        open();
    }

    void sendNeedsThreeCharactersAfterTrimming_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("two") << "ab" << false;
        QTest::newRow("only blanks and line breaks") << " \n\t \n" << false;
        QTest::newRow("three inside blank lines") << "\n\n abc \n" << true;
        QTest::newRow("two accented letters, decomposed") << QString::fromUtf8("e\u0301e\u0301") << false;
        QTest::newRow("three emoji") << QString::fromUtf8("👍🏽👍🏽👍🏽") << true;
    }

    void sendNeedsThreeCharactersAfterTrimming()
    {
        QFETCH(QString, message);
        QFETCH(bool, enabled);
        type(message);
        QCOMPARE(sendButton()->isEnabled(), enabled);
    }

    void unconfiguredBuildSaysSoAndCannotSend()
    {
        QCOMPARE(find<QLabel>("note")->text(),
                 QStringLiteral("Sent with the app's version (2.1 (57)) and your macOS version, nothing else."));
        test::TestBundle unconfigured(PlistDictionary{{"SupportSecret", ""}});
        view_->reset();
        type("A real message");
        QCOMPARE(find<QLabel>("note")->text(),
                 QStringLiteral("Feedback isn't available in this build — please use the website."));
        QVERIFY(!sendButton()->isEnabled());
        screenshot("unconfigured");
    }

    void successfulSendShowsTheConfirmationAndDoneResets()
    {
        screenshot("empty");
        find<QAbstractButton>("category.bug")->click();
        type("\n  It crashes on launch.\n\n", " me@example.org\t");
        screenshot("filled");
        QTest::keyClick(find<QPlainTextEdit>("message"), Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(sent_.size(), 1);
        QCOMPARE(sent_[0].category, Category::bug);
        QCOMPARE(sent_[0].message, QStringLiteral("It crashes on launch."));
        QCOMPARE(sent_[0].email, QStringLiteral(" me@example.org\t"));  // the service trims it
        QVERIFY(!sendButton()->isEnabled());
        QVERIFY(shown("progress"));
        QVERIFY(find<QPlainTextEdit>("message")->isEnabled());
        screenshot("sending");

        sent_[0].done(nullptr);
        QVERIFY(!shown("category"));
        QVERIFY(shown("confirmation"));
        QCOMPARE(find<QLabel>("replyNote")->text(), QStringLiteral("I'll reply to me@example.org."));
        QVERIFY(shown("replyNote"));
        screenshot("sent");

        QVERIFY(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(!window_->isVisible());
        open();
        QVERIFY(shown("category"));
        QVERIFY(find<QPlainTextEdit>("message")->toPlainText().isEmpty());
        QVERIFY(find<QAbstractButton>("category.feedback")->isChecked());
    }

    void blankEmailGivesNoReplyLine()
    {
        type("Love it", " \t ");
        sendButton()->click();
        sent_[0].done(nullptr);
        QVERIFY(!shown("replyNote"));
    }

    void failureShowsItsTextAndKeepsTheForm()
    {
        type("Hello there", "me@example.org");
        sendButton()->click();
        sent_[0].done(std::make_exception_ptr(FeedbackService::FeedbackError::server(429, {})));
        QVERIFY(shown("errorRow"));
        QCOMPARE(find<QLabel>("error")->text(),
                 QStringLiteral("Too many messages in a row — try again in a few minutes."));
        QVERIFY(find<QLabel>("error")->textInteractionFlags() & Qt::TextSelectableByMouse);
        QCOMPARE(find<QPlainTextEdit>("message")->toPlainText(), QStringLiteral("Hello there"));
        QVERIFY(sendButton()->isEnabled());
        screenshot("error");

        sendButton()->click();  // the next try clears the old error first
        QVERIFY(!shown("errorRow"));
    }

    void cancelAfterAFailureReopensEmpty()
    {
        type("Hello there");
        sendButton()->click();
        sent_[0].done(std::make_exception_ptr(FeedbackService::FeedbackError::notConfigured()));
        find<QAbstractButton>("cancel")->click();
        QVERIFY(!window_->isVisible());
        open();
        QVERIFY(!shown("errorRow"));
        QVERIFY(find<QPlainTextEdit>("message")->toPlainText().isEmpty());
        QVERIFY(sendButton()->isEnabled() == false);
    }

    void closingWhileSendingKeepsTheMessageUntilTheServerTakesIt()
    {
        find<QAbstractButton>("category.bug")->click();
        type("Half a report", "me@example.org");
        sendButton()->click();
        window_->close();
        open();
        QCOMPARE(find<QPlainTextEdit>("message")->toPlainText(), QStringLiteral("Half a report"));
        QVERIFY(shown("progress"));
        window_->close();

        // A failure nobody is looking at brings the form back with what was typed.
        sent_[0].done(std::make_exception_ptr(FeedbackService::FeedbackError::server(500, "Down")));
        QVERIFY(window_->isVisible());
        QCOMPARE(find<QLabel>("error")->text(), QStringLiteral("Down"));
        QCOMPARE(find<QPlainTextEdit>("message")->toPlainText(), QStringLiteral("Half a report"));
        QCOMPARE(find<QLineEdit>("email")->text(), QStringLiteral("me@example.org"));
        QVERIFY(find<QAbstractButton>("category.bug")->isChecked());

        sendButton()->click();
        window_->close();
        sent_[1].done(nullptr);
        QVERIFY(!window_->isVisible());
        open();
        QVERIFY(find<QPlainTextEdit>("message")->toPlainText().isEmpty());
        QVERIFY(!shown("confirmation"));
    }

    void resetDropsTheAnswerOfTheSendBeforeIt()
    {
        type("First message");
        sendButton()->click();
        view_->reset();
        type("Second message");
        sendButton()->click();
        QCOMPARE(sent_.size(), 2);

        sent_[0].done(nullptr);  // would have flipped the new form into "sent"
        QVERIFY(shown("category"));
        QVERIFY(shown("progress"));
        sent_[1].done(std::make_exception_ptr(FeedbackService::FeedbackError::server(500, "Down")));
        QCOMPARE(find<QLabel>("error")->text(), QStringLiteral("Down"));
    }

    void theMessageIsBoundedAndSaysSoNearTheLimit()
    {
        const qsizetype limit = FeedbackView::maximumMessageLength;
        auto* message = find<QPlainTextEdit>("message");
        const auto paste = [&](const QString& text) {
            QApplication::clipboard()->setText(text);
            message->paste();
        };
        paste(QString(limit * 8 / 10, u'a'));
        QVERIFY(!shown("count"));
        message->selectAll();
        paste(QString(limit * 95 / 100, u'a'));
        QVERIFY(shown("count"));
        QVERIFY(!find<QLabel>("count")->text().contains("didn't fit"));

        // A megabyte: what fits goes in, ending on a whole character, and the rest is said to be left out.
        message->selectAll();
        paste(QString(limit - 1, u'a') + QString::fromUtf8("😀") + QString(1 << 20, u'b'));
        QCOMPARE(message->toPlainText(), QString(limit - 1, u'a'));
        QVERIFY(find<QLabel>("count")->text().contains("didn't fit"));
        screenshot("full");

        QTest::keyClicks(message, "cd");
        QCOMPARE(message->toPlainText().size(), limit);
        message->moveCursor(QTextCursor::Start);
        QTest::keyClick(message, Qt::Key_Delete);
        QTest::keyClick(message, Qt::Key_Delete);
        QVERIFY(!find<QLabel>("count")->text().contains("didn't fit"));
        QTest::keyClicks(message, "xyz");
        QCOMPARE(message->toPlainText(), "xy" + QString(limit - 3, u'a') + "c");
    }

#ifdef QUILLWICK_SANDBOX
    void sendsThroughTheServiceByDefault()
    {
        test::SupportServer server;
        qputenv("QUILLWICK_SUPPORT_URL", server.url().toEncoded());
        FeedbackView view;
        auto* send = view.findChild<QPushButton*>("send");
        view.findChild<QPlainTextEdit*>("message")->setPlainText("Through the wire");
        view.show();
        server.status = 429;
        send->click();
        auto* error = view.findChild<QLabel*>("error");
        QTRY_COMPARE_WITH_TIMEOUT(error->text(), QStringLiteral("Too many messages in a row — try again in a few minutes."), 15000);
        server.status = 200;
        send->click();
        QTRY_VERIFY_WITH_TIMEOUT(view.findChild<QWidget*>("confirmation")->isVisible(), 15000);
        QCOMPARE(server.received.size(), 2);
    }
#endif

    void opensReadyForTypingAndClosesWithEscapeAndCtrlW()
    {
        auto* message = find<QPlainTextEdit>("message");
        QCOMPARE(QApplication::focusWidget(), message);
        // Named for a screen reader beyond the prompts that typing removes.
        QCOMPARE(message->accessibleName(), QString("Message"));
        QCOMPARE(find<QLineEdit>("email")->accessibleName(), QString("Email"));
        const std::pair<const char*, QKeySequence> presses[] = {{"message", QKeySequence(Qt::Key_Escape)},
                                                                {"email", QKeySequence(Qt::CTRL | Qt::Key_W)}};
        for (const auto& [field, key] : presses) {
            type("Half a thought");
            QTest::keySequence(find<QWidget>(field), key);
            QTRY_VERIFY2(!window_->isVisible(), qPrintable(key.toString()));
            open();
            QCOMPARE(QApplication::focusWidget(), message);
            QVERIFY(message->toPlainText().isEmpty());
        }
    }

    void returnInTheFormNeverSends()
    {
        type("Long enough");
        QTest::keyClick(find<QLineEdit>("email"), Qt::Key_Return);
        QVERIFY(sent_.isEmpty());
        type("ab");
        QTest::keyClick(find<QPlainTextEdit>("message"), Qt::Key_Return, Qt::ControlModifier);
        QVERIFY(sent_.isEmpty());
    }
};

QTEST_MAIN(FeedbackViewTest)
#include "FeedbackViewTest.moc"
