// The Source tab over real job files in a sandbox, written through a real router: what reaches the
// disk (and in which format), what is refused before writing, and when the editor's text is replaced.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPromise>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <malloc.h>

#include <fstream>
#include <memory>
#include <thread>

#include "Quillwick/detail/JobSourceView.h"
#include "Quillwick/store/JobIndex.h"
#include "Quillwick/store/OperationRouter.h"
#include "Quillwick/store/PrivilegedError.h"
#include "Quillwick/ui/EmptyStateView.h"
#include "support/SandboxRoot.h"

using namespace qw;
namespace fs = std::filesystem;

namespace {

const std::string label = "com.example.src";

// Writes a job file and takes the job as the folder scan reads it, load failure included.
Job jobFile(JobDirectory folder, const std::string& bytes, const std::string& name = label) {
    const fs::path url = folder.url() / (name + ".plist");
    fs::create_directories(url.parent_path());
    std::ofstream(url, std::ios::binary | std::ios::trunc) << bytes;
    Job job;
    job.label = name;
    job.directory = folder;
    for (const auto& [scanned, byLabel] : JobIndex::scanDirectories().definitions)
        if (scanned == folder && byLabel.count(name)) job.definition = byLabel.at(name);
    return job;
}

std::string xml(PlistDictionary root) { return PlistFile(std::move(root), PlistFormat::xml).xmlText(); }
QString xmlText(PlistDictionary root) { return QString::fromStdString(xml(std::move(root))); }

PlistDictionary plainJob() { return {{"Label", label}, {"Program", "/bin/true"}}; }

// Stands for the privileged helper: a read answers at once with the file, any other request waits on
// a promise the test settles; or each fails at once.
struct Helper {
    std::vector<HelperRequest> requests;
    std::shared_ptr<QPromise<HelperResponse>> pending;
    std::optional<std::exception_ptr> failWith;

    OperationRouter::Perform perform() {
        return [this](const HelperRequest& request) {
            requests.push_back(request);
            if (failWith) return QtFuture::makeExceptionalFuture<HelperResponse>(*failWith);
            if (const auto* read = std::get_if<HelperRequest::Read>(&request.operation)) {
                HelperResponse reply;
                reply.succeeded = true;
                const std::string bytes = test::readFile(read->path);
                reply.contents = Bytes(bytes.begin(), bytes.end());
                return QtFuture::makeReadyFuture(reply);
            }
            pending = std::make_shared<QPromise<HelperResponse>>();
            pending->start();
            return pending->future();
        };
    }
    void succeed() {
        HelperResponse reply;
        reply.succeeded = true;
        pending->addResult(reply);
        pending->finish();
    }
};

void edit(JobSourceView& view, const QString& text) { view.editor()->setPlainText(text); }

}  // namespace

class JobSourceViewTest : public QObject {
    Q_OBJECT
private slots:
    void savesWriteTheEditBackInTheFilesOwnFormat() {
        test::SandboxRoot root;
        Helper helper;
        OperationRouter router(helper.perform());
        PlistDictionary edited = plainJob();
        edited.set("RunAtLoad", true);
        // A non-breaking space must survive the round trip through the editor.
        edited.set("WorkingDirectory", "/Users/me/My\u00a0Folder");

        for (const PlistFormat format : {PlistFormat::xml, PlistFormat::binary}) {
            const bool binary = format == PlistFormat::binary;
            Job job = jobFile(JobDirectory::userAgents, binary ? PlistCodec::writeBinary(plainJob()) : xml(plainJob()));
            int saved = 0;
            JobSourceView view(job, router, [&] {
                ++saved;
                return QtFuture::makeReadyFuture();
            });
            view.show();
            QCOMPARE(view.text(), xmlText(plainJob()));
            QCOMPARE(view.notice(), binary ? QString("This file is a binary plist. It is shown as XML and saved back as binary.") : QString());
            QVERIFY(!view.saveButton()->isEnabled() && !view.revertButton()->isEnabled());

            // Laid out by hand: once saved, the editor shows the file as written.
            edit(view, xmlText(edited).replace("\t", "  ").replace("<dict>", "<dict> <!-- mine -->"));
            QVERIFY(view.saveButton()->isEnabled());
            if (binary) {
                QVERIFY(QTest::qWaitForWindowActive(&view));
                QTest::keyClick(view.editor(), Qt::Key_S, Qt::ControlModifier);
            } else {
                view.saveButton()->click();
            }
            QTRY_VERIFY(!view.isBusy());
            QCOMPARE(saved, 1);
            const std::string bytes = test::readFile(job.definition->location->url);
            QCOMPARE(bytes.rfind("bplist00", 0) == 0, binary);
            const PlistFile written = PlistFile::fromData(bytes, job.definition->location->url);
            QCOMPARE(written.format, format);
            QVERIFY(written.root == edited);
            QCOMPARE(view.text(), xmlText(edited));
            QVERIFY(!view.hasChanges() && !view.saveButton()->isEnabled());
        }
        QVERIFY(helper.requests.empty());
    }

    void refusedTextWritesNothingAndRevertRestores() {
        test::SandboxRoot root;
        Helper helper;
        OperationRouter router(helper.perform());
        Job job = jobFile(JobDirectory::userAgents, xml(plainJob()));
        const std::string before = test::readFile(job.definition->location->url);
        JobSourceView view(job, router, {});
        view.show();

        const QString array = QString::fromStdString(PlistCodec::writeXml(PlistValue(PlistArray{PlistValue("a")})));
        PlistDictionary renamed = plainJob();
        renamed.set("Label", "com.other");
        // The file's own text with `line` put in as line `n` (or added to its end).
        const auto withLine = [](int n, const QString& line, bool append = false) {
            QStringList lines = xmlText(plainJob()).split('\n');
            if (append) lines[n - 1] += line;
            else lines.insert(n - 1, line);
            return lines.join('\n');
        };
        const QList<std::pair<QString, QString>> cases = {
            {withLine(7, "junk"), "Line 7: “junk” is not part of the property list."},
            {withLine(6, "&bad", true), "Line 6: “&bad” is not part of the property list."},
            {withLine(5, "<oops>"), "Line 5: <oops> is never closed."},
            {withLine(5, "<x/>"), "Line 5: A dictionary holds <x> where a <key> belongs."},
            {"not a plist", "Line 1: “not a plist” is not a property list."},
            {"<plist>\n<dict>\n  <string>x</strin>\n</dict></plist>", "Line 3: “<string>x</strin>” is not a property list (start-end tags mismatch)."},
            {"{\n  Label = x;\n", "Line 3: the property list ends too early."},
            {array, "com.example.src.plist is a property list, but not a dictionary. A launchd job has to be a dictionary of keys at the top level."},
            {xmlText(renamed), "The Label is “com.other” but the file is named “com.example.src.plist”. They have to match."},
        };
        for (const auto& [text, reason] : cases) {
            edit(view, text);
            view.save();
            QVERIFY2(view.problem() && view.problem()->startsWith(reason), qPrintable(view.problem().value_or("none")));
            QCOMPARE(view.notice(), *view.problem());
            QCOMPARE(view.findChild<QLabel*>("notice")->accessibleDescription(), *view.problem());
            QVERIFY(!view.isBusy() && view.saveButton()->isEnabled());
            QCOMPARE(test::readFile(job.definition->location->url), before);
        }
        view.revertButton()->click();
        QVERIFY(!view.problem() && view.notice().isEmpty());
        QCOMPARE(view.text(), xmlText(plainJob()));
        QVERIFY(!view.revertButton()->isEnabled());
    }

    // Undoing an edit back to the file's own text leaves nothing to refuse; the refusal names the line.
    void anUndoneEditClearsTheRefusal() {
        test::SandboxRoot root;
        Helper helper;
        OperationRouter router(helper.perform());
        JobSourceView view(jobFile(JobDirectory::userAgents, xml(plainJob())), router, {});
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.editor()->setFocus();
        view.editor()->moveCursor(QTextCursor::Start);
        QTest::keyClicks(view.editor(), "<<broken");
        QTest::keyClick(view.editor(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(view.notice(), QString("Line 1: “<<broken<?xml version=\"1.0\" encoding=\"U…” is not a property list."));
        for (int undo = 0; undo < 10 && view.hasChanges(); ++undo) QTest::keyClick(view.editor(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(view.text(), xmlText(plainJob()));
        QVERIFY(!view.problem() && view.notice().isEmpty());
    }

    // Someone changed the file while an edit was left unsaved: nothing is written, the edit stays
    // until the user reloads.
    void anOutsideChangeIsNeverSavedOver() {
        for (const JobDirectory folder : {JobDirectory(JobDirectory::userAgents), JobDirectory(JobDirectory::globalDaemons)}) {
            test::SandboxRoot root;
            Helper helper;
            OperationRouter router(helper.perform());
            const Job job = jobFile(folder, xml(plainJob()));
            const fs::path file = job.definition->location->url;
            std::unique_ptr<JobSourceView> view;
            view = std::make_unique<JobSourceView>(job, router, [&] {
                view->setJob(jobFile(folder, test::readFile(file)));
                return QtFuture::makeReadyFuture();
            });
            view->show();
            PlistDictionary edited = plainJob();
            edited.set("RunAtLoad", true);
            edit(*view, xmlText(edited));
            PlistDictionary outside = plainJob();
            outside.set("ExternalNote", "added by a script");
            const std::string changed = xml(outside);
            jobFile(folder, changed);

            for (const QString answer : {"Keep Editing", "Reload"}) {
                view->saveButton()->click();
                QTRY_VERIFY(view->findChild<QMessageBox*>("changedOnDiskAlert"));
                auto* alert = view->findChild<QMessageBox*>("changedOnDiskAlert");
                QVERIFY(alert->informativeText().contains("changed on disk after Quillwick read it, so nothing was saved."));
                QCOMPARE(test::readFile(file), changed);
                QCOMPARE(view->text(), xmlText(edited));
                QCOMPARE(alert->escapeButton()->text(), QString("Keep Editing"));
                (answer == "Reload" ? alert->findChild<QPushButton*>("reloadButton") : alert->escapeButton())->click();
                QTRY_VERIFY(!view->findChild<QMessageBox*>("changedOnDiskAlert"));
            }
            QTRY_COMPARE(view->text(), xmlText(outside));
            QVERIFY(!view->hasChanges() && !view->failure());
            for (const HelperRequest& request : helper.requests) QVERIFY(std::holds_alternative<HelperRequest::Read>(request.operation));
        }
    }

    void jobsThatCannotBeChangedOfferNoSave() {
        test::SandboxRoot root;
        Helper helper;
        OperationRouter router(helper.perform());

        Job registered;
        registered.label = "com.app.registered";
        JobSourceView noFile(registered, router, {});
        noFile.show();
        QCOMPARE(noFile.findChild<EmptyStateView*>("placeholder")->title(), QString("No File"));
        QVERIFY(!noFile.editor()->isVisible());

        Job system = jobFile(JobDirectory::systemDaemons, xml({{"Label", "com.apple.x"}}), "com.apple.x");
        JobSourceView view(system, router, {});
        view.show();
        QCOMPARE(view.text(), xmlText({{"Label", "com.apple.x"}}));
        QVERIFY(view.editor()->isReadOnly() && view.editor()->isEnabled());
        QCOMPARE(view.notice(), QString("Part of macOS — read only."));
        edit(view, xmlText({{"Label", "com.apple.x"}, {"RunAtLoad", true}}));
        QVERIFY(!view.saveButton()->isEnabled());
        view.save();
        QVERIFY(!view.isBusy() && helper.requests.empty());
    }

    void editsTypedDuringTheWriteStayUnsaved() {
        test::SandboxRoot root;
        Helper helper;
        OperationRouter router(helper.perform());
        JobSourceView view(jobFile(JobDirectory::globalAgents, xml(plainJob())), router, {});
        view.show();
        PlistDictionary edited = plainJob();
        edited.set("RunAtLoad", true);
        edit(view, xmlText(edited));
        view.save();
        QVERIFY(view.isBusy() && !view.saveButton()->isEnabled() && !view.revertButton()->isEnabled());
        QVERIFY(!view.editor()->isReadOnly());
        QTRY_COMPARE(helper.requests.size(), std::size_t(1));  // read again here, then written as root
        const auto& write = std::get<HelperRequest::Write>(helper.requests[0].operation);
        QVERIFY(PlistFile::fromData(std::string(write.contents.begin(), write.contents.end()), "x.plist").root == edited);

        view.editor()->appendPlainText("<!-- typed while saving -->");
        helper.succeed();
        QTRY_VERIFY(!view.isBusy());
        QCOMPARE(view.original(), xmlText(edited));
        QVERIFY(view.hasChanges() && view.saveButton()->isEnabled());
    }

    void editedTextIsKeptUntilRevertOrAnotherJob() {
        test::SandboxRoot root;
        Helper helper;
        OperationRouter router(helper.perform());
        Job job = jobFile(JobDirectory::userAgents, xml(plainJob()));
        JobSourceView view(job, router, {});
        view.show();
        edit(view, "<plist>half typed");
        view.hide();
        view.setJob(job);  // a rescan
        view.show();
        QCOMPARE(view.text(), QString("<plist>half typed"));
        QVERIFY(view.saveButton()->isEnabled());

        // With nothing unsaved, coming back shows what another tab wrote meanwhile.
        view.revertButton()->click();
        view.hide();
        PlistDictionary configured = plainJob();
        configured.set("RunAtLoad", true);
        view.setJob(jobFile(JobDirectory::userAgents, xml(configured)));
        QCOMPARE(view.text(), xmlText(plainJob()));
        view.show();
        QCOMPARE(view.text(), xmlText(configured));

        edit(view, "<plist>half typed");
        view.setJob(jobFile(JobDirectory::userAgents, xml({{"Label", "com.example.other"}}), "com.example.other"));
        QCOMPARE(view.text(), xmlText({{"Label", "com.example.other"}}));
        QVERIFY(!view.saveButton()->isEnabled());
    }

    void aBrokenFileShowsItsOwnBytesAndCannotBeSaved() {
        test::SandboxRoot root;
        Helper helper;
        OperationRouter router(helper.perform());
        const std::string broken = "<plist>\r\n<dict><key>Label</key>\xff<string>com.example.src";
        Job job = jobFile(JobDirectory::userAgents, broken);
        QVERIFY(job.definition->loadFailure);
        JobSourceView view(job, router, {});
        view.show();
        QCOMPARE(view.text(), QString("<plist>\n<dict><key>Label</key>\uFFFD<string>com.example.src"));
        QVERIFY(view.editor()->isReadOnly() && !view.isEditable());
        QCOMPARE(view.notice(), QString::fromStdString(*job.definition->loadFailure));
        QVERIFY(!view.saveButton()->isEnabled() && !view.revertButton()->isEnabled());
        view.save();
        QCOMPARE(test::readFile(job.definition->location->url), broken);

        // Mended on disk, the same job becomes editable without leaving the tab.
        view.setJob(jobFile(JobDirectory::userAgents, xml(plainJob())));
        QCOMPARE(view.text(), xmlText(plainJob()));
        QVERIFY(!view.editor()->isReadOnly() && view.notice().isEmpty());
    }

    // Save clicked with the mouse: the button that goes grey must not hand the focus out of the tab.
    // And a reload answered from another thread queues the end of the save on the tab, which then
    // goes; nothing of it may run on the remains (freed memory reads as garbage here).
    void aSaveKeepsTheFocusAndNothingOfItOutlivesTheTab() {
        test::SandboxRoot root;
        Helper helper;
        OperationRouter router(helper.perform());
        QWidget window;
        auto* outside = new QLineEdit(&window);  // what comes next in the window, as the search field does
        QPromise<void> reloaded;
        reloaded.start();
        auto* view = new JobSourceView(jobFile(JobDirectory::userAgents, xml(plainJob())), router,
                                       [&reloaded] { return reloaded.future(); }, &window);
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(view);
        layout->addWidget(outside);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        PlistDictionary edited = plainJob();
        edited.set("RunAtLoad", true);
        edit(*view, xmlText(edited));
        view->saveButton()->setFocus();
        view->saveButton()->click();
        QVERIFY(view->isBusy() && !view->saveButton()->isEnabled());
        QVERIFY(view->isAncestorOf(QApplication::focusWidget()));

        mallopt(M_PERTURB, 0x5a);
        std::thread([&reloaded] { reloaded.finish(); }).join();
        delete view;
        QCoreApplication::sendPostedEvents();
        mallopt(M_PERTURB, 0);
    }

    void aFailedWriteAlertsWhileACancelledPromptIsSilent() {
        test::SandboxRoot root;
        Helper helper;
        helper.failWith = std::make_exception_ptr(PrivilegedError::cancelled());
        OperationRouter router(helper.perform());
        int saved = 0;
        JobSourceView view(jobFile(JobDirectory::globalDaemons, xml(plainJob())), router, [&] {
            ++saved;
            return QtFuture::makeReadyFuture();
        });
        view.show();
        PlistDictionary edited = plainJob();
        edited.set("RunAtLoad", true);
        edit(view, xmlText(edited));
        view.save();
        QTRY_VERIFY(!view.isBusy());
        QVERIFY(!view.failure() && !view.findChild<QMessageBox*>());
        QVERIFY(view.hasChanges() && view.saveButton()->isEnabled());

        helper.failWith = std::make_exception_ptr(PrivilegedError::helperUnreachable("the socket is gone"));
        view.save();
        QTRY_VERIFY(view.findChild<QMessageBox*>("failureAlert"));
        QCOMPARE(*view.failure(), QString("Could not reach the privileged helper: the socket is gone"));
        QVERIFY(!view.isBusy() && view.hasChanges());
        view.findChild<QMessageBox*>("failureAlert")->reject();
        QTRY_VERIFY(!view.failure());
        QCOMPARE(saved, 0);
    }
};

QTEST_MAIN(JobSourceViewTest)
#include "JobSourceViewTest.moc"
