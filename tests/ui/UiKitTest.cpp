// The shared widgets: markup stays safe, hints show what their constants say, no symbol is blank.
#include <QApplication>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTextDocumentFragment>
#include <QPushButton>

#include "Quillwick/ui/EmptyStateView.h"
#include "Quillwick/ui/FailureAlert.h"
#include "Quillwick/ui/HealthDot.h"
#include "Quillwick/ui/Hint.h"
#include "Quillwick/ui/Markup.h"
#include "Quillwick/ui/Symbols.h"

using namespace qw;

namespace {
bool hasInk(const QIcon& icon) {
    const QImage img = icon.pixmap(22, 22).toImage();
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(img.pixel(x, y)) > 0)
                return true;
    return false;
}
}  // namespace

class UiKitTest : public QObject {
    Q_OBJECT
private slots:
    void markupStylesPairedSpansAndEscapesTheRest() {
        const QString html = markupToHtml("**Loaded** <b>x</b> & `os_log`");
        QVERIFY(html.contains("<b>Loaded</b>"));
        QVERIFY(html.contains("&lt;b&gt;x&lt;/b&gt; &amp; "));
        QVERIFY(html.contains("<code>os_log</code>"));
    }
    void markupWithUnpairedMarkersIsShownAsStored() {
        for (const QString& text : {QString("a **b"), QString("a `b"), QString("**a** `b** c")}) {
            const QString html = markupToHtml(text);
            QVERIFY2(!html.contains("<b>") && !html.contains("<code>"), qPrintable(html));
            QCOMPARE(QTextDocumentFragment::fromHtml(html).toPlainText(), text);
        }
    }
    void markupKeepsBlankLinesBetweenParagraphs() {
        QLabel label(markupToHtml("one\n\ntwo"));
        QVERIFY(label.text().contains("one<br/><br/>two"));
        QCOMPARE(stripMarkup("**a** `b`"), QString("a b"));
    }

    void hintTooltipDropsBoldMarkersButThePopoverKeepsThem() {
        Hint hint("**Bold** title", "text", nullptr);
        QCOMPARE(hint.toolTip(), QString("Bold title"));
        hint.show();
        QTest::mouseClick(&hint, Qt::LeftButton);
        QVERIFY(hint.isShowing());
        QCOMPARE(hint.popover()->width(), 340);
        QCOMPARE(hint.popover()->findChild<QLabel*>("hintTitle")->text(), QString("**Bold** title"));
        hint.popover()->close();
        QTRY_VERIFY(!hint.popover());
    }
    void sharedHintsOpenLongTextsAtTheFixedWidth() {
        for (const Hint::Content* c : {&Hint::loadedVersusEnabled(), &Hint::domains(), &Hint::jobsWithNoFile(),
                                       &Hint::cronDisabling(), &Hint::jobOutput()}) {
            Hint hint(*c);
            hint.show();
            QTest::mouseClick(&hint, Qt::LeftButton);
            QVERIFY(hint.popover());
            QCOMPARE(hint.popover()->width(), 340);
            auto* body = hint.popover()->findChild<QLabel*>("hintText");
            QVERIFY(body->wordWrap());
            QVERIFY(c->text.contains("\n\n"));
            hint.popover()->close();
        }
        QCOMPARE(Hint::domains().title, QString("Domains"));
    }

    void everySymbolHasInkEvenWithoutATableEntry() {
        const QStringList names{"app.badge", "arrow.clockwise", "bolt.horizontal", "calendar.badge.clock",
                                "circle", "circle.dotted", "circle.dashed", "circle.fill", "minus.circle",
                                "exclamationmark.circle.fill", "clock.badge.questionmark", "curlybraces",
                                "doc.questionmark", "ellipsis.circle", "folder", "gearshape.2", "lock.shield",
                                "list.bullet.rectangle", "pause.circle", "person", "play.fill", "plus",
                                "questionmark.circle", "shippingbox", "square.grid.2x2", "stethoscope", "tray",
                                "xmark.octagon.fill", "no.such.symbol"};
        for (const QString& name : names) {
            QVERIFY2(hasInk(symbolIcon(name)), qPrintable(name));
            QVERIFY2(hasInk(symbolIcon(name, Qt::red)), qPrintable(name));
        }
    }

    void healthDotSaysItsStateInTooltipAndAccessibleName() {
        HealthDot dot(Job::Health::failed, 9);
        QCOMPARE(dot.toolTip(), QString("Failed"));
        dot.setHealth(Job::Health::loadedIdle);
        QCOMPARE(dot.accessibleName(), QString("Loaded, not running"));
        QCOMPARE(dot.sizeHint(), QSize(12, 12));
    }

    void emptyStateAndFailureAlertShowTextPlain() {
        EmptyStateView empty("No <b>Jobs</b>", "tray", "Nothing here matches.");
        auto* title = empty.findChild<QLabel*>("emptyStateTitle");
        QCOMPARE(title->textFormat(), Qt::PlainText);
        QCOMPARE(empty.title(), QString("No <b>Jobs</b>"));

        QWidget window;
        window.show();
        QMessageBox* box = showFailure(&window, "Could not <i>load</i> “x”");
        QCOMPARE(box->windowTitle(), QString("That didn’t work"));
        QCOMPARE(box->buttons().size(), 1);
        QCOMPARE(box->buttons().front()->text(), QString("OK"));
        QCOMPARE(QTextDocumentFragment::fromHtml(box->informativeText()).toPlainText(),
                 QString("Could not <i>load</i> “x”"));
        QVERIFY(box->isVisible());
        box->buttons().front()->click();
        QTRY_VERIFY(window.findChildren<QMessageBox*>().isEmpty());
    }
};

QTEST_MAIN(UiKitTest)
#include "UiKitTest.moc"
