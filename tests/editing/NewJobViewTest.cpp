// The New Job sheet, typed into as a user would, in a sandbox of its own.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPromise>
#include <QPushButton>
#include <QTest>

#include "Quillwick/editing/NewJobView.h"
#include "Quillwick/editing/PathField.h"
#include "Quillwick/editing/TemplateChip.h"
#include "support/SandboxRoot.h"

using namespace qw;

namespace {

struct Cancelled : std::exception {};

// Creates files as the router does for the user's agents; loading fails or succeeds as told.
struct FakeRouter {
    std::optional<std::exception_ptr> loadFails;
    std::vector<std::string> loaded;
    // A slow administrator step: the create finishes when the test says so.
    std::shared_ptr<QPromise<void>> slowCreate;

    NewJobView::Operations operations() {
        return {[this](const JobDefinition& d) {
                    std::filesystem::create_directories(d.location->url.parent_path());
                    d.file.write(d.location->url);
                    if (slowCreate) {
                        slowCreate->start();
                        return slowCreate->future();
                    }
                    return QtFuture::makeReadyFuture();
                },
                [this](const Job& job) {
                    if (loadFails) return QtFuture::makeExceptionalFuture(*loadFails);
                    loaded.push_back(job.label);
                    return QtFuture::makeReadyFuture();
                },
                [](std::exception_ptr e) {
                    try {
                        std::rethrow_exception(e);
                    } catch (const Cancelled&) {
                        return true;
                    } catch (...) {
                        return false;
                    }
                }};
    }
};

void type(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

// Every line of the label is inside it: wrapped, it has the height its text needs; else its width.
bool showsWhole(const QLabel* label) {
    if (label->wordWrap()) return label->height() >= label->heightForWidth(label->width());
    return label->width() >= label->sizeHint().width();
}

QLineEdit* parameter(const NewJobView& sheet, const QString& id) {
    QWidget* w = sheet.findChild<QWidget*>("parameter:" + id);
    if (auto* path = qobject_cast<PathField*>(w)) return path->findChild<QLineEdit*>();
    return qobject_cast<QLineEdit*>(w);
}

}  // namespace

class NewJobViewTest : public QObject {
    Q_OBJECT
private slots:
    void labelChecksGateCreate() {
        test::SandboxRoot root;
        FakeRouter router;
        NewJobView sheet(router.operations(), {});
        sheet.show();
        QVERIFY(sheet.preview()->toPlainText().contains("com.example.job.log"));
        QVERIFY(!sheet.createButton()->isEnabled());
        QVERIFY(!sheet.findChild<QLabel*>("labelHint")->isVisible());

        type(parameter(sheet, "program"), "/bin/sleep");
        type(sheet.labelField(), "-bad");
        QVERIFY(sheet.findChild<QLabel*>("labelHint")->isVisible());
        QVERIFY(!sheet.createButton()->isEnabled());

        root.writeFile("/Users/" + SystemPaths::loginName() + "/Library/LaunchAgents/com.example.backup.plist", "x");
        type(sheet.labelField(), "com.example.backup");
        const QString path = QString::fromStdString((root.paths().userLaunchAgents() / "com.example.backup.plist").string());
        QCOMPARE(sheet.findChild<QLabel*>("duplicateNotice")->text(), "A job with this name already exists at " + path + ".");
        QVERIFY(!sheet.createButton()->isEnabled());
        type(sheet.labelField(), "com.example.fresh");
        QVERIFY(sheet.createButton()->isEnabled());
    }

    // A hint shown after another one went away takes the height of its text, each time it shows.
    void eachHintTakesTheHeightItsTextNeeds() {
        test::SandboxRoot root;
        root.writeFile("/Users/" + SystemPaths::loginName() + "/Library/LaunchAgents/com.example.backup.plist", "x");
        FakeRouter router;
        NewJobView sheet(router.operations(), {});
        sheet.resize(820, 560);
        sheet.show();
        auto* hint = sheet.findChild<QLabel*>("labelHint");
        auto* duplicate = sheet.findChild<QLabel*>("duplicateNotice");
        for (int round = 0; round < 2; ++round) {
            type(sheet.labelField(), "com.example.backup");
            QTRY_VERIFY(duplicate->isVisible() && duplicate->height() > 0 && showsWhole(duplicate));
            type(sheet.labelField(), "bad x");
            QVERIFY(!sheet.createButton()->isEnabled());
            QTRY_VERIFY(hint->isVisible() && hint->height() > 0 && showsWhole(hint));
        }
        auto* admin = sheet.findChild<QWidget*>("administratorNote")->findChildren<QLabel*>().last();
        for (const char* chip : {"chip:boot", "chip:login", "chip:boot"}) sheet.findChild<TemplateChip*>(chip)->click();
        QTRY_VERIFY(admin->isVisible() && admin->height() > 0 && showsWhole(admin));
    }

    // Nothing typed yet is not judged: no sentence naming an empty path, no warning about an empty field.
    void thePreviewSaysNothingAboutFieldsStillEmpty() {
        test::SandboxRoot root;
        FakeRouter router;
        NewJobView sheet(router.operations(), {});
        sheet.show();
        sheet.findChild<TemplateChip*>("chip:watch")->click();
        auto* schedule = sheet.findChild<QLabel*>("scheduleSummary");
        const auto issues = [&] {
            QStringList titles;
            for (QWidget* issue : sheet.findChildren<QWidget*>("issue")) titles << issue->findChildren<QLabel*>().last()->text();
            return titles.join('|');
        };
        QVERIFY(!schedule->isVisible());
        QVERIFY2(!issues().contains("program") && !issues().contains("watched"), qPrintable(issues()));

        // The folder is looked for on the machine, not on the host.
        type(parameter(sheet, "path"), "/Library/Logs");
        QCOMPARE(sheet.findChild<PathField*>("parameter:path")->exists(), std::optional<bool>(true));
        type(parameter(sheet, "path"), "/proc");
        QCOMPARE(sheet.findChild<PathField*>("parameter:path")->exists(), std::optional<bool>(false));

        type(parameter(sheet, "program"), "tool");
        type(parameter(sheet, "path"), "/no/such/folder");
        QCOMPARE(schedule->text(), QString("Runs when /no/such/folder changes."));
        QVERIFY2(issues().contains("The program is a relative path") && issues().contains("A watched path does not exist"),
                 qPrintable(issues()));
    }

    void anIntervalLaunchdIgnoresIsMarkedAndBlocksCreate() {
        test::SandboxRoot root;
        FakeRouter router;
        NewJobView sheet(router.operations(), {});
        sheet.show();
        sheet.findChild<TemplateChip*>("chip:interval")->click();
        type(sheet.labelField(), "com.example.tick");
        type(parameter(sheet, "program"), "/bin/true");
        QLineEdit* every = parameter(sheet, "seconds");
        auto* reason = every->parentWidget()->findChild<QLabel*>("invalidReason");
        QVERIFY(reason);
        QVERIFY(sheet.createButton()->isEnabled());
        QVERIFY(reason->isHidden());

        type(every, "0");
        QVERIFY(!sheet.createButton()->isEnabled());
        QVERIFY(!reason->isHidden());
        QCOMPARE(reason->text(), QString("Must be 1 or more: launchd ignores this value."));
        QCOMPARE(every->parentWidget()->findChild<QLabel*>("invalidMark")->accessibleName(), reason->text());
        type(every, "30");
        QVERIFY(sheet.createButton()->isEnabled());
        QVERIFY(reason->isHidden());
    }

    void switchingTemplatesKeepsTheProgramAndOnlyBootIsLocked() {
        test::SandboxRoot root;
        FakeRouter router;
        NewJobView sheet(router.operations(), {});
        sheet.show();
        type(parameter(sheet, "program"), "/bin/echo");
        sheet.findChild<TemplateChip*>("chip:interval")->click();
        QCOMPARE(parameter(sheet, "program")->text(), QString("/bin/echo"));
        QCOMPARE(parameter(sheet, "seconds")->text(), QString("3600"));
        QVERIFY(sheet.preview()->toPlainText().contains("<key>StartInterval</key>\n\t<integer>3600</integer>"));
        sheet.findChild<TemplateChip*>("chip:login")->click();
        QVERIFY(!parameter(sheet, "seconds"));
        QVERIFY(!sheet.draft().values.contains("seconds"));

        for (const JobTemplate& t : JobTemplate::all()) {
            auto* chip = sheet.findChild<TemplateChip*>(QString::fromStdString("chip:" + t.id()));
            QCOMPARE(bool(chip->findChild<QLabel*>("lock")), t.id() == "boot");
            chip->click();
            QCOMPARE(sheet.findChild<QWidget*>("administratorNote")->isVisible(), t.id() == "boot");
        }
    }

    // Tab goes down the form before the preview, whichever template built its rows, and a screen reader
    // hears each field by the title beside it.
    void tabFollowsTheFormAndEveryFieldIsNamed() {
        test::SandboxRoot root;
        FakeRouter router;
        NewJobView sheet(router.operations(), {});
        sheet.show();
        QVERIFY(QTest::qWaitForWindowActive(&sheet));
        for (const char* chip : {"chip:login", "chip:watch"}) {
            sheet.findChild<TemplateChip*>(chip)->click();
            QTRY_VERIFY(parameter(sheet, "program")->isVisible());
            sheet.labelField()->setFocus();
            QTest::keyClick(sheet.labelField(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), parameter(sheet, "program"));
            QCOMPARE(parameter(sheet, "program")->accessibleName(), QString("Program or script"));
        }
        QCOMPARE(parameter(sheet, "path")->accessibleName(), QString("Folder to watch"));
        QCOMPARE(sheet.preview()->accessibleName(), QString("This will write"));
    }

    void createWritesTheFileLoadsItAndHandsOverTheLabel() {
        test::SandboxRoot root;
        FakeRouter router;
        QString created;
        NewJobView sheet(router.operations(), [&](const QString& label) {
            created = label;
            return QtFuture::makeReadyFuture();
        });
        sheet.open();
        type(sheet.labelField(), "com.example.hello");
        type(parameter(sheet, "program"), "/bin/echo");
        type(parameter(sheet, "arguments"), "hello  world");
        QTest::keyClick(sheet.labelField(), Qt::Key_Return);
        QTRY_COMPARE(created, QString("com.example.hello"));
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
        QCOMPARE(router.loaded, std::vector<std::string>{"com.example.hello"});
        const std::string bytes = test::readFile(root.paths().userLaunchAgents() / "com.example.hello.plist");
        QVERIFY(bytes.find("<string>/bin/echo</string>\n\t\t<string>hello</string>\n\t\t<string>world</string>") != std::string::npos);
    }

    void aFailedLoadKeepsTheSheetOpenWithItsReasonAndACancelledPromptSaysNothing() {
        test::SandboxRoot root;
        FakeRouter router;
        router.loadFails = std::make_exception_ptr(std::runtime_error("Bootstrap failed: 5: Input/output error"));
        bool created = false;
        NewJobView sheet(router.operations(), [&](const QString&) {
            created = true;
            return QtFuture::makeReadyFuture();
        });
        sheet.show();
        type(sheet.labelField(), "com.example.once");
        type(parameter(sheet, "program"), "/bin/true");
        sheet.createButton()->click();
        QTRY_VERIFY(!sheet.isBusy());
        QCOMPARE(sheet.findChild<QLabel*>("failure")->text(), QString("Bootstrap failed: 5: Input/output error"));
        QVERIFY(sheet.isVisible() && !created);
        QVERIFY(sheet.findChild<QLabel*>("duplicateNotice")->isVisible());
        QVERIFY(!sheet.createButton()->isEnabled());

        router.loadFails = std::make_exception_ptr(Cancelled());
        sheet.loadToggle()->click();  // off: nothing to load
        type(sheet.labelField(), "com.example.twice");
        sheet.loadToggle()->click();
        sheet.createButton()->click();
        QTRY_VERIFY(!sheet.isBusy());
        QVERIFY(!sheet.failure());
        QVERIFY(!sheet.findChild<QLabel*>("failure")->isVisible());
    }

    void cardsAndTheFailureAreShownWhole() {
        test::SandboxRoot root;
        FakeRouter router;
        router.loadFails = std::make_exception_ptr(std::runtime_error(
            "Bootstrap failed: 5: Input/output error. The helper tool refused the request because the file is owned by "
            "another user, and a second attempt was refused for the same reason. Repair the permissions, then try again."));
        NewJobView sheet(router.operations(), {});
        sheet.resize(820, 560);
        sheet.show();
        const QRect inside = sheet.rect();
        for (auto* chip : sheet.findChildren<TemplateChip*>()) {
            QTRY_VERIFY(inside.contains(QRect(chip->mapTo(&sheet, QPoint()), chip->size())));
            for (auto* text : chip->findChildren<QLabel*>()) QTRY_VERIFY2(showsWhole(text), qPrintable(text->text()));
        }
        type(sheet.labelField(), "com.example.wordy");
        type(parameter(sheet, "program"), "/bin/true");
        sheet.createButton()->click();
        QTRY_VERIFY(!sheet.isBusy());
        auto* failure = sheet.findChild<QLabel*>("failure");
        QTRY_VERIFY(failure->isVisible() && failure->heightForWidth(failure->width()) > 2 * failure->fontMetrics().lineSpacing());
        QTRY_VERIFY(showsWhole(failure));
    }

    void cancelClosesTheSheetButACreateThatStartedStillLoads() {
        test::SandboxRoot root;
        FakeRouter router;
        router.slowCreate = std::make_shared<QPromise<void>>();
        QWidget presenter;
        QString created;
        QPointer<NewJobView> sheet = new NewJobView(router.operations(), [&](const QString& label) {
            created = label;
            return QtFuture::makeReadyFuture();
        }, &presenter);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        presenter.show();
        sheet->open();
        type(sheet->labelField(), "com.example.slow");
        type(parameter(*sheet, "program"), "/bin/true");
        sheet->createButton()->click();
        QVERIFY(sheet->isBusy());
        sheet->findChild<QPushButton*>("cancelButton")->click();
        QTRY_VERIFY(!sheet);

        router.slowCreate->finish();
        QTRY_COMPARE(router.loaded, std::vector<std::string>{"com.example.slow"});
        QTRY_COMPARE(created, QString("com.example.slow"));
    }
};

QTEST_MAIN(NewJobViewTest)
#include "NewJobViewTest.moc"
