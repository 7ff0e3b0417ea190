// The Configure tab over a job file in a sandbox: what it shows, which controls it offers, and what a
// save hands over — down to the written file.
#include <malloc.h>

#include <thread>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPromise>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpontaneKeyEvent>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "Quillwick/editing/JobConfigureView.h"
#include "Quillwick/editing/KeyEditor.h"
#include "Quillwick/ui/EmptyStateView.h"
#include "support/SandboxRoot.h"

using namespace qw;

namespace {

struct Cancelled : std::exception {};

Job fileJob(PlistDictionary root, JobDirectory directory = JobDirectory::userAgents) {
    Job job;
    job.label = "com.example.tab";
    job.directory = directory;
    job.definition = JobDefinition(PlistFile(std::move(root), PlistFormat::xml), JobLocation::forLabel(directory, job.label));
    return job;
}

// Writes the way the router writes a user agent, or fails as told.
struct FakeRouter {
    std::optional<std::exception_ptr> failWith;
    int saves = 0;

    JobConfigureView::Operations operations() {
        return {[](const Job& job) { return job.directory && (*job.directory == JobDirectory::systemAgents || *job.directory == JobDirectory::systemDaemons); },
                [](const Job& job) { return job.directory && *job.directory == JobDirectory::globalDaemons; },
                [this](const JobDefinition& d, const Job&, const JobDefinition&) {
                    ++saves;
                    if (failWith) return QtFuture::makeExceptionalFuture(*failWith);
                    std::filesystem::create_directories(d.location->url.parent_path());
                    d.file.write(d.location->url);
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

QStringList sectionTitles(const QWidget& view) {
    QStringList titles;
    for (auto* group : view.findChildren<QGroupBox*>()) {
        if (group->isVisibleTo(&view)) titles << group->title();
    }
    return titles;
}

QAction* menuEntry(QMenu* menu, const QString& key) {
    for (QAction* section : menu->actions()) {
        if (!section->menu()) continue;
        for (QAction* a : section->menu()->actions())
            if (a->objectName() == key) return a;
    }
    return nullptr;
}

}  // namespace

class JobConfigureViewTest : public QObject {
    Q_OBJECT
private slots:
    void jobsWithNothingToEditShowWhy() {
        Job runtime;
        runtime.label = "com.app.registered";
        FakeRouter router;
        JobConfigureView noFile(runtime, router.operations(), {});
        noFile.show();
        QCOMPARE(noFile.findChild<EmptyStateView*>()->title(), QString("Nothing to Configure"));
        QVERIFY(!noFile.findChild<QWidget*>("saveBar")->isVisible());

        Job broken = fileJob({});
        broken.definition->loadFailure = "Could not read com.example.tab.plist: not a property list";
        JobConfigureView unreadable(broken, router.operations(), {});
        unreadable.show();
        QCOMPARE(unreadable.findChild<EmptyStateView*>()->title(), QString("Can’t Edit This File"));
        QVERIFY(unreadable.findChild<EmptyStateView*>()->description().startsWith("Could not read"));
        QVERIFY(!unreadable.saveButton()->isVisible());
    }

    void addingAKeyShowsItsSectionAndSaveWritesTheFile() {
        test::SandboxRoot root;
        FakeRouter router;
        Job job = fileJob({{"Label", "com.example.tab"}, {"Program", "/bin/true"}});
        int reloads = 0;
        JobConfigureView view(job, router.operations(), [&] {
            ++reloads;
            return QtFuture::makeReadyFuture();
        });
        view.show();
        QCOMPARE(sectionTitles(view), QStringList({"Identity", "What Runs"}));
        QVERIFY(!view.saveButton()->isEnabled());

        QAction* runAtLoad = menuEntry(view.addKeyMenu(), "RunAtLoad");
        QVERIFY(runAtLoad);
        runAtLoad->trigger();
        QCOMPARE(sectionTitles(view), QStringList({"Identity", "What Runs", "When It Runs"}));
        QVERIFY(!menuEntry(view.addKeyMenu(), "RunAtLoad"));
        QVERIFY(view.saveButton()->isEnabled() && view.revertButton()->isEnabled());

        // Leaving the tab and coming back keeps the edit.
        view.hide();
        view.show();
        QVERIFY(view.draft().draft()->find("RunAtLoad"));

        view.saveButton()->click();
        QTRY_COMPARE(reloads, 1);
        QTRY_VERIFY(!view.isBusy());
        const std::string bytes = test::readFile(job.definition->location->url);
        QVERIFY(bytes.find("<key>RunAtLoad</key>\n\t<true/>") != std::string::npos);
        QVERIFY(bytes.find("<key>Program</key>\n\t<string>/bin/true</string>") != std::string::npos);

        Job reloaded = job;
        reloaded.definition = JobDefinition::fromLocation(*job.definition->location);
        view.setJob(reloaded);
        QVERIFY(!view.saveButton()->isEnabled());
    }

    void changingAValueBackDisablesSaveAndRevertRestoresTheFile() {
        FakeRouter router;
        JobConfigureView view(fileJob({{"Label", "com.example.tab"}, {"RunAtLoad", true}}), router.operations(), {});
        view.show();
        auto* toggle = view.findChild<KeyEditor*>("key:RunAtLoad")->findChild<QAbstractButton*>("toggle");
        toggle->click();
        QVERIFY(view.saveButton()->isEnabled());
        toggle->click();
        QVERIFY(!view.saveButton()->isEnabled() && !view.revertButton()->isEnabled());

        view.findChild<KeyEditor*>("key:RunAtLoad")->findChild<QToolButton*>("removeKeyButton")->click();
        QCOMPARE(sectionTitles(view), QStringList({"Identity"}));
        view.revert();
        QCOMPARE(sectionTitles(view), QStringList({"Identity", "When It Runs"}));
    }

    void typedNumbersCountWithoutReturn() {
        test::SandboxRoot root;
        FakeRouter router;
        Job job = fileJob({{"Label", "com.example.tab"},
                           {"RunAtLoad", true},
                           {"StartInterval", 3600},
                           {"StartCalendarInterval", PlistValue::dictionary({{"Hour", 9}, {"Minute", 0}})}});
        JobConfigureView view(job, router.operations(), {});
        view.show();
        auto* interval = view.findChild<KeyEditor*>("key:StartInterval")->findChild<QLineEdit*>("integerEdit");
        interval->selectAll();
        QTest::keyClicks(interval, "60");
        QVERIFY(view.saveButton()->isEnabled());
        view.findChild<KeyEditor*>("key:RunAtLoad")->findChild<QAbstractButton*>("toggle")->click();
        auto* hour = view.findChild<KeyEditor*>("key:StartCalendarInterval")->findChild<QLineEdit*>("Hour");
        hour->selectAll();
        QTest::keyClicks(hour, "07");
        QCOMPARE(hour->text(), QString("07"));  // not rewritten while typed

        view.saveButton()->click();
        QTRY_VERIFY(!view.isBusy());
        const PlistFile written = PlistFile::read(job.definition->location->url);
        QCOMPARE(written.root.find("StartInterval")->intValue(), std::optional<std::int64_t>(60));
        QCOMPARE(*written.root.find("StartCalendarInterval"), PlistValue::dictionary({{"Hour", 7}, {"Minute", 0}}));
        QCOMPARE(interval->text(), QString("60"));

        // Text that does not read leaves, once typing ends, the value from before it began.
        QTest::keyClick(hour, Qt::Key_Return);
        QCOMPARE(hour->text(), QString("7"));
        hour->selectAll();
        QTest::keyClicks(hour, "3x");
        QTest::keyClick(hour, Qt::Key_Return);
        QCOMPARE(hour->text(), QString("7"));
        QCOMPARE(view.draft().draft()->startCalendarInterval().front().hour, std::optional<std::int64_t>(7));
    }

    void theWheelScrollsTheFormPastAPicker() {
        FakeRouter router;
        JobConfigureView view(fileJob({{"Label", "com.example.tab"},
                                       {"ProcessType", "Background"},
                                       {"ProgramArguments", PlistValue::array({"/bin/sleep", "1", "2", "3", "4"})},
                                       {"EnvironmentVariables", PlistValue::dictionary({{"A", "1"}, {"B", "2"}})}}),
                              router.operations(), {});
        view.resize(500, 240);
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.findChild<KeyEditor*>("key:Label")->findChild<QLineEdit*>()->setFocus();
        auto* picker = view.findChild<KeyEditor*>("key:ProcessType")->findChild<QComboBox*>();
        auto* scrolled = view.findChild<QScrollArea*>()->verticalScrollBar();

        const QPointF at(picker->width() / 2.0, picker->height() / 2.0);
        QWheelEvent notch(at, picker->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&notch);
        qApp->notify(picker, &notch);  // as the window system delivers it
        QCOMPARE(picker->currentText(), QString("Background"));
        QVERIFY(!view.saveButton()->isEnabled());
        QVERIFY(scrolled->value() > 0);
    }

    void rebuildingRowsKeepsTheFocusWhereTheUserWas() {
        FakeRouter router;
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* search = new QLineEdit(&window);  // first in the window's focus chain, as the job search is
        layout->addWidget(search);
        auto* view = new JobConfigureView(fileJob({{"Label", "com.example.tab"},
                                                   {"RunAtLoad", true},
                                                   {"EnvironmentVariables", PlistValue::dictionary({{"A", "1"}})}}),
                                          router.operations(), {}, &window);
        layout->addWidget(view);
        window.resize(600, 700);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        auto environment = [&] { return view->findChild<KeyEditor*>("key:EnvironmentVariables"); };
        environment()->findChild<QToolButton*>("addButton")->click();
        QCOMPARE(QApplication::focusWidget(), environment()->findChild<QWidget*>("row:NEW_KEY")->findChild<QLineEdit*>("keyEdit"));
        QTest::keyClicks(QApplication::focusWidget(), "PATH");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), environment()->findChild<QWidget*>("row:PATH")->findChild<QLineEdit*>("valueEdit"));
        QTest::keyClicks(QApplication::focusWidget(), "/bin");
        QCOMPARE(*view->draft().draft()->find("EnvironmentVariables"), PlistValue::dictionary({{"A", "1"}, {"PATH", "/bin"}}));

        // Removing another key rebuilds every row; the focused field's counterpart takes over.
        view->findChild<KeyEditor*>("key:RunAtLoad")->findChild<QToolButton*>("removeKeyButton")->click();
        QCOMPARE(QApplication::focusWidget(), environment()->findChild<QWidget*>("row:PATH")->findChild<QLineEdit*>("valueEdit"));

        menuEntry(view->addKeyMenu(), "WorkingDirectory")->trigger();
        QVERIFY(view->findChild<KeyEditor*>("key:WorkingDirectory")->isAncestorOf(QApplication::focusWidget()));
        QTest::keyClicks(QApplication::focusWidget(), "/tmp");
        QCOMPARE(*view->draft().draft()->workingDirectory(), std::string("/tmp"));
        QVERIFY(search->text().isEmpty());
    }

    void resourceLimitsGainEntriesAndKeepRowsThatAreNotNumbers() {
        FakeRouter router;
        JobConfigureView view(fileJob({{"Label", "com.example.tab"},
                                       {"SoftResourceLimits", PlistValue::dictionary({{"NumberOfFiles", 256}})}}),
                              router.operations(), {});
        view.show();
        auto limits = [&] { return view.findChild<KeyEditor*>("key:SoftResourceLimits"); };
        auto row = [&](const QString& key) { return limits()->findChild<QWidget*>("row:" + key); };
        limits()->findChild<QToolButton*>("addButton")->click();
        QVERIFY(row("NEW_KEY"));
        QVERIFY(!row("NEW_KEY")->findChild<QLabel*>("invalidMark")->isHidden());
        auto* name = row("NEW_KEY")->findChild<QLineEdit*>("keyEdit");
        name->selectAll();
        QTest::keyClicks(name, "NumberOfProcesses");
        QTest::keyClick(name, Qt::Key_Return);
        QTest::keyClicks(row("NumberOfProcesses")->findChild<QLineEdit*>("valueEdit"), "100");
        QVERIFY(row("NumberOfProcesses")->findChild<QLabel*>("invalidMark")->isHidden());
        QCOMPARE(*view.draft().draft()->find("SoftResourceLimits"),
                 PlistValue::dictionary({{"NumberOfFiles", 256}, {"NumberOfProcesses", 100}}));

        // Cleared, the value is left out of the file, but its row stays, marked.
        auto* files = row("NumberOfFiles")->findChild<QLineEdit*>("valueEdit");
        files->selectAll();
        QTest::keyClick(files, Qt::Key_Backspace);
        QVERIFY(row("NumberOfFiles"));
        QVERIFY(!row("NumberOfFiles")->findChild<QLabel*>("invalidMark")->isHidden());
        QCOMPARE(*view.draft().draft()->find("SoftResourceLimits"), PlistValue::dictionary({{"NumberOfProcesses", 100}}));
        QTest::keyClicks(files, "512");
        QCOMPARE(*view.draft().draft()->find("SoftResourceLimits"),
                 PlistValue::dictionary({{"NumberOfProcesses", 100}, {"NumberOfFiles", 512}}));

        view.revert();  // fresh rows, the file's
        QVERIFY(!row("NumberOfProcesses"));
        QCOMPARE(row("NumberOfFiles")->findChild<QLineEdit*>("valueEdit")->text(), QString("256"));
    }

    void untickingTheLastKeepAliveConditionKeepsItsRow() {
        FakeRouter router;
        JobConfigureView view(fileJob({{"Label", "com.example.tab"}, {"KeepAlive", PlistValue::dictionary({{"Crashed", true}})}}),
                              router.operations(), {});
        view.show();
        view.findChild<KeyEditor*>("key:KeepAlive")->findChild<QCheckBox*>("condition2")->click();
        auto* row = view.findChild<KeyEditor*>("key:KeepAlive");
        QVERIFY(row && row->isVisibleTo(&view));
        QVERIFY(row->findChild<QToolButton*>("mode2")->isChecked());
        QCOMPARE(*view.draft().draft()->find("KeepAlive"), PlistValue(PlistDictionary{}));
    }

    void aTabDestroyedWithItsReloadQueuedRunsNothingOfIt() {
        FakeRouter router;
        QPromise<void> reloaded;
        reloaded.start();
        auto* view = new JobConfigureView(fileJob({{"Label", "com.example.tab"}}), router.operations(),
                                          [&reloaded] { return reloaded.future(); });
        view->show();
        menuEntry(view->addKeyMenu(), "RunAtLoad")->trigger();
        view->saveButton()->click();
        QCOMPARE(router.saves, 1);

        // Freed memory reads as garbage, so a continuation run on the remains crashes every time.
        mallopt(M_PERTURB, 0x5a);
        std::thread([&reloaded] { reloaded.finish(); }).join();
        delete view;
        QCoreApplication::sendPostedEvents();
        mallopt(M_PERTURB, 0);
    }

    void aSystemJobOffersNoChange() {
        FakeRouter router;
        JobConfigureView view(fileJob({{"Label", "com.apple.x"}, {"RunAtLoad", true}, {"_Extra", 1}}, JobDirectory::systemDaemons),
                              router.operations(), {});
        view.show();
        QVERIFY(!view.findChild<QToolButton*>("addKeyButton")->isEnabled());
        QVERIFY(!view.findChild<QToolButton*>("removeKeyButton"));
        QVERIFY(!view.findChild<QToolButton*>("removeButton"));
        QVERIFY(!view.saveButton()->isEnabled());
        view.save();
        QCOMPARE(router.saves, 0);
    }

    void unknownKeysAreMarkedAndLeaveWithTheirLastRow() {
        FakeRouter router;
        JobConfigureView view(fileJob({{"Label", "com.example.tab"}, {"_Private", 1}, {"Keepalive", true}}), router.operations(), {});
        view.show();
        QVERIFY(sectionTitles(view).contains("Other Keys"));
        QCOMPARE(view.findChild<QWidget*>("unknown:Keepalive")->findChild<QLabel*>("typoHint")->text(),
                 QString("did you mean KeepAlive?"));
        bool badge = false;
        for (auto* label : view.findChild<QWidget*>("unknown:_Private")->findChildren<QLabel*>()) badge |= label->text() == "private";
        QVERIFY(badge);
        view.findChild<QWidget*>("unknown:_Private")->findChild<QToolButton*>("removeButton")->click();
        view.findChild<QWidget*>("unknown:Keepalive")->findChild<QToolButton*>("removeButton")->click();
        QVERIFY(!sectionTitles(view).contains("Other Keys"));
    }

    void aCancelledPromptShowsNothingWhileOtherFailuresAlert() {
        FakeRouter router;
        router.failWith = std::make_exception_ptr(Cancelled());
        JobConfigureView view(fileJob({{"Label", "com.example.tab"}}, JobDirectory::globalDaemons), router.operations(), {});
        view.resize(420, 500);
        view.show();
        QVERIFY(view.findChild<QWidget*>("administratorNote")->isVisible());
        // In a narrow pane the note wraps rather than being squeezed to nothing.
        QLabel* note = nullptr;
        for (auto* label : view.findChild<QWidget*>("administratorNote")->findChildren<QLabel*>())
            if (!label->text().isEmpty()) note = label;
        QCOMPARE(note->text(), QString("Saving asks for an administrator password."));
        QTRY_VERIFY(note->width() > 4 * note->fontMetrics().averageCharWidth() &&
                    note->height() >= note->heightForWidth(note->width()));
        menuEntry(view.addKeyMenu(), "RunAtLoad")->trigger();
        view.save();
        QTRY_VERIFY(!view.isBusy());
        QVERIFY(!view.failure());
        QVERIFY(!view.findChild<QMessageBox*>());
        QVERIFY(view.saveButton()->isEnabled());

        router.failWith = std::make_exception_ptr(std::runtime_error("The disk is full."));
        view.save();
        QTRY_VERIFY(view.findChild<QMessageBox*>());
        QCOMPARE(*view.failure(), QString("The disk is full."));
        view.findChild<QMessageBox*>()->reject();
        QTRY_VERIFY(!view.failure());
        QVERIFY(view.draft().draft()->find("RunAtLoad"));
    }
};

QTEST_MAIN(JobConfigureViewTest)
#include "JobConfigureViewTest.moc"
