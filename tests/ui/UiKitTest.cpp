// The shared widgets: markup stays safe, hints show what their constants say, no symbol is blank.
#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QPushButton>
#include <QScopeGuard>

#include "Quillwick/ui/EmptyStateView.h"
#include "Quillwick/ui/FailureAlert.h"
#include "Quillwick/ui/HealthDot.h"
#include "Quillwick/ui/Hint.h"
#include "Quillwick/ui/Markup.h"
#include "Quillwick/ui/RevealFile.h"
#include "Quillwick/ui/Symbols.h"

using namespace qw;

namespace {
// Whether a label shows all of its text: laid out as it paints it, at its width.
bool showsWhole(QLabel* label) {
    label->grab();
    const QTextDocument* document = label->findChild<QTextDocument*>();
    return document && document->idealWidth() <= document->textWidth() &&
           document->size().height() <= label->contentsRect().height();
}

// The label that shows an alert's message.
QLabel* messageOf(QMessageBox* box) {
    for (QLabel* label : box->findChildren<QLabel*>())
        if (label->isVisible() && !label->text().isEmpty() && label->text() != box->text())
            return label;
    return nullptr;
}

// PATH set to `folders` while the guard lives, so that a failed check leaves no handler to later tests.
auto pathSetTo(const QByteArray& folders) {
    const QByteArray was = qgetenv("PATH");
    qputenv("PATH", folders);
    return qScopeGuard([was] { qputenv("PATH", was); });
}

QString plain(const QString& html) { return QTextDocumentFragment::fromHtml(html).toPlainText(); }

// Stands in for the desktop's handler of folders.
struct FolderOpener : QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

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
    void initTestCase() {
        // No file manager on the session bus, whatever the machine running the tests has.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillwick-test-bus");
    }

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

    // A word wider than any alert breaks anywhere, a path still only after its slashes; the text itself,
    // which a screen reader reads and a copy takes, stays as written.
    void anAlertShowsEveryLineOfItsMessageWholeAndAsWritten() {
        QWidget window;
        window.show();
        const QString label = "com.example." + QString(300, 'a') + ".plist";
        const QString path = "/Users/someone/Library/LaunchAgents/com.example.quite-a-long-label-for-a-job.plist";
        for (const QString& message : {"Could not read " + label + ": it is not a property list.\nSecond line.",
                                       "The file is at:\n" + path,
                                       QString("Bootstrap failed: 5: Input/output error\n").repeated(12)}) {
            QMessageBox* box = showFailure(&window, message);
            QLabel* shown = messageOf(box);
            QVERIFY(shown);
            QVERIFY2(showsWhole(shown), qPrintable(message.left(40)));
            QCOMPARE(QAccessible::queryAccessibleInterface(shown)->text(QAccessible::Name), message);
            shown->setSelection(0, int(message.size()));
            QCOMPARE(shown->selectedText().replace(QChar::ParagraphSeparator, '\n'), message);
            QCOMPARE(plain(box->informativeText()), message);
            box->close();
        }
    }

    void revealOpensTheFolderOrSaysWhereTheFileIs() {
        // No desktop handler on the PATH, whatever this machine has: Qt's own are what is asked.
        QTemporaryDir noHandlers;
        const auto restore = pathSetTo(noHandlers.path().toLocal8Bit());
        QWidget window;
        window.show();
        const QString file = "/tmp/Some Folder/R&D.log";
        revealFile(&window, file);
        QTRY_VERIFY(window.findChild<QMessageBox*>("revealAlert"));
        auto* box = window.findChild<QMessageBox*>("revealAlert");
        QVERIFY(box->isVisible());
        QVERIFY(plain(box->informativeText()).endsWith(file));
        box->close();
        QTRY_VERIFY(!window.findChild<QMessageBox*>());

        FolderOpener opener;
        QDesktopServices::setUrlHandler("file", &opener, "open");
        revealFile(&window, file);
        QTRY_COMPARE(opener.opened, QList<QUrl>{QUrl::fromLocalFile("/tmp/Some Folder")});
        QDesktopServices::unsetUrlHandler("file");
        QVERIFY(!window.findChild<QMessageBox*>());
    }

    // Qt only learns that the desktop's handler started; its exit status is what counts.
    void aHandlerThatFailsIsReportedWithTheFileOrTheAddress() {
        QTemporaryDir bin;
        const QString opened = bin.filePath("opened");
        // The handler reads how to exit before it logs, so a later status never reaches an earlier run.
        QFile script(bin.filePath("xdg-open"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\nstatus=$(cat '%1.status')\necho \"$1\" >> '%1'\nexit $status\n")
                         .arg(opened).toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const auto handlerExits = [&](int status) {
            QFile file(opened + ".status");
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(QByteArray::number(status)) > 0);
        };
        const auto restore = pathSetTo(bin.path().toLocal8Bit() + ':' + qgetenv("PATH"));
        const auto lines = [&] {
            QFile log(opened);
            return log.open(QIODevice::ReadOnly) ? QString(log.readAll()).split(u'\n', Qt::SkipEmptyParts) : QStringList();
        };
        QWidget window;
        window.show();
        const QString file = "/tmp/Some Folder/R&D.log";
        const QUrl link("https://example.org/support?a=1&b=2");
        for (const int status : {0, 3}) {
            handlerExits(status);
            revealFile(&window, file);
            openLink(&window, link);
            QTRY_COMPARE(lines().size(), status ? 4 : 2);
        }
        QStringList handed = lines().mid(0, 2);  // the two handlers run side by side
        handed.sort();
        QCOMPARE(handed, (QStringList{"file:///tmp/Some%20Folder", link.toString(QUrl::FullyEncoded)}));
        QTRY_COMPARE(window.findChildren<QMessageBox*>("revealAlert").size(), 2);
        QStringList shown;
        for (QMessageBox* box : window.findChildren<QMessageBox*>("revealAlert"))
            shown << plain(box->informativeText()).section(u'\n', -1);
        shown.sort();
        QCOMPARE(shown, (QStringList{file, link.toString()}));
    }
};

QTEST_MAIN(UiKitTest)
#include "UiKitTest.moc"
