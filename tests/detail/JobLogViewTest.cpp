// The Log tab over real files in a sandbox: which sources it offers, what it follows as files grow or a
// save moves them, launchd's log when there is no file, and the filter.
#include <QAbstractButton>
#include <QAccessible>
#include <QButtonGroup>
#include <QDateTime>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QThreadPool>

#include <fstream>

#include "Quillwick/detail/JobLogView.h"
#include "Quillwick/detail/LogLines.h"
#include "Quillwick/store/LaunchdActivityLog.h"
#include "Quillwick/store/LogTail.h"
#include "Quillwick/ui/EmptyStateView.h"
#include "support/HeldThreadPool.h"
#include "support/SandboxRoot.h"

using namespace qw;
using Source = JobLogView::Source;

namespace {

const QString label = "com.example.logs";

Job fileJob(std::optional<std::string> out, std::optional<std::string> err) {
    PlistDictionary root{{"Label", label.toStdString()}, {"Program", "/bin/true"}};
    if (out) root.set("StandardOutPath", *out);
    if (err) root.set("StandardErrorPath", *err);
    Job job;
    job.label = label.toStdString();
    job.directory = JobDirectory::userAgents;
    job.definition = JobDefinition(PlistFile(std::move(root), PlistFormat::xml),
                                   JobLocation::forLabel(JobDirectory::userAgents, job.label));
    return job;
}

RuntimeState runtimeWith(std::optional<std::string> out, std::optional<std::string> err) {
    RuntimeState state;
    state.standardOutPath = std::move(out);
    state.standardErrorPath = std::move(err);
    return state;
}

// As shown: the accessible name is the text without mnemonic markers.
QStringList pickerTitles(const JobLogView& view) {
    QStringList titles;
    for (QAbstractButton* b : view.findChild<QButtonGroup*>()->buttons())
        titles << QAccessible::queryAccessibleInterface(b)->text(QAccessible::Name);
    return titles;
}

QString numbered(int from, int to) {
    QString text;
    for (int i = from; i <= to; ++i) text += QString("line %1\n").arg(i);
    return text;
}

void append(const std::filesystem::path& file, const QString& text) {
    std::ofstream(file, std::ios::app) << text.toStdString();
}

void writeLaunchdLog(const test::SandboxRoot& root, const QString& message) {
    const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss.zzz000t");
    root.writeFile("/private/var/log/launchd.log", (now + " Df launchd[1]: " + message + "\n").toStdString());
}

}  // namespace

class JobLogViewTest : public QObject {
    Q_OBJECT
private slots:
    void aShownLogFollowsItsFileAsItGrows() {
        test::SandboxRoot root;
        const std::string file = root.writeFile("/Users/Shared/logs/both.log", numbered(1, 200).toStdString());
        JobLogView view(fileJob(file, file), std::nullopt);
        view.resize(600, 400);
        view.show();
        QCOMPARE(pickerTitles(view), QStringList({"Output & Errors", "launchd Activity"}));
        QCOMPARE(view.source(), Source::file(QString::fromStdString(file)));
        QCOMPARE(view.footerPath(), QString::fromStdString(file));
        QCOMPARE(view.lines()->filteredLines().size(), 200);
        QScrollBar* bar = view.lines()->textView()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->minimum());  // no jump when first shown

        append(file, "line 201\nhalf a line");
        view.tail(QString::fromStdString(file))->poll();
        QCOMPARE(view.lines()->filteredLines().size(), 201);
        QCOMPARE(view.lines()->filteredLines().back(), QString("line 201"));
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(view.lines()->textView()->toPlainText().endsWith("line 201"));

        // A file that is not there yet says so, and shows its lines once it appears.
        const std::string later = (root.path() / "later.log").string();
        JobLogView missing(fileJob(later, std::nullopt), std::nullopt);
        missing.show();
        auto* noLog = missing.findChild<EmptyStateView*>("noLog");
        QVERIFY(noLog->isVisible());
        QVERIFY(noLog->description().contains("does not exist yet"));
        append(later, "hello\n");
        missing.tail(QString::fromStdString(later))->poll();
        QVERIFY(!noLog->isVisible());
        QCOMPARE(missing.lines()->filteredLines(), QStringList({"hello"}));
    }

    void aMacPathIsReadOnTheMachineNotTheHost() {
        test::SandboxRoot root;
        const std::string file = root.writeFile("/Library/Logs/mac.log", "from the machine\n");
        JobLogView view(fileJob("/Library/Logs/mac.log", std::nullopt), std::nullopt);
        view.show();
        QCOMPARE(view.footerPath(), QString::fromStdString(file));
        QCOMPARE(view.lines()->filteredLines(), QStringList({"from the machine"}));
    }

    void titlesCountAPathAsEitherSourceNamesIt() {
        JobLogView split(fileJob("/tmp/out.log", "/tmp/err.log"), runtimeWith("/tmp/err.log", "/tmp/other.log"));
        QCOMPARE(split.logPaths(), QStringList({"/tmp/out.log", "/tmp/err.log"}));
        QCOMPARE(pickerTitles(split), QStringList({"Output", "Output & Errors", "launchd Activity"}));
        QCOMPARE(split.title("/var/log/x/strange.log"), QString("strange.log"));

        Job runtimeOnly;
        runtimeOnly.label = label.toStdString();
        JobLogView fromLaunchd(runtimeOnly, runtimeWith("/dev/null", "/tmp/err.log"));
        QCOMPARE(pickerTitles(fromLaunchd), QStringList({"Errors", "launchd Activity"}));
    }

    void aJobWithoutLogFilesReadsLaunchdAtOnce() {
        test::SandboxRoot root;
        writeLaunchdLog(root, "[gui/501/" + label + " [11]:] service inactive");
        JobLogView view(fileJob("/dev/null", "/dev/console"), std::nullopt);
        {
            test::HeldThreadPool held;
            view.show();
            QCOMPARE(pickerTitles(view), QStringList({"launchd Activity"}));
            QCOMPARE(view.source(), Source::launchd());
            QVERIFY(view.activity().isLoading());
            QVERIFY(view.findChild<QWidget*>("logProgress")->isVisible());
        }
        QTRY_COMPARE(view.lines()->filteredLines().size(), 1);
        QVERIFY(view.findChild<QWidget*>("noLogNotice")->isVisible());
        QVERIFY(view.footerPath().isEmpty());
        QVERIFY(view.findChild<QPushButton*>("reloadButton")->isVisible());
    }

    void theFilterKeepsMatchesAndQuotesWhatWasTyped() {
        const QStringList lines{"Started job", "exit code 1", "STARTED again"};
        QCOMPARE(LogLines::filteredLines(lines, "\t started "), QStringList({"Started job", "STARTED again"}));
        QCOMPARE(LogLines::filteredLines(lines, "  "), lines);
        QCOMPARE(LogLines::filteredLines(lines, "code\n"), QStringList());  // a line break is no blank

        LogLines list;
        list.setContent({}, "  ", "empty");
        QCOMPARE(list.placeholder()->title(), QString("No Matches"));
        QCOMPARE(list.placeholder()->description(), QString("No lines contain “  ”."));
        list.setContent({}, "", "This log is empty so far.");
        QCOMPARE(list.placeholder()->title(), QString("Nothing Yet"));
        QCOMPARE(list.placeholder()->description(), QString("This log is empty so far."));

        test::SandboxRoot root;
        const std::string file = root.writeFile("/Users/Shared/out.log", "alpha\nbeta\n");
        JobLogView view(fileJob(file, std::nullopt), std::nullopt);
        view.show();
        QTest::keyClicks(view.findChild<QLineEdit*>("logFilter"), "Gamma ");
        QVERIFY(view.lines()->placeholder()->isVisible());
        QCOMPARE(view.lines()->placeholder()->description(), QString("No lines contain “Gamma ”."));
        view.findChild<QLineEdit*>("logFilter")->setText(" BETA");
        QCOMPARE(view.lines()->filteredLines(), QStringList({"beta"}));
    }

    void aSaveThatMovesTheLogsIsFollowed() {
        test::SandboxRoot root;
        const std::string before = root.writeFile("/Users/Shared/before.log", "old\n");
        const std::string after = root.writeFile("/Users/Shared/after.log", "new\n");
        JobLogView view(fileJob(before, std::nullopt), std::nullopt);
        view.show();
        view.setJob(fileJob(after, std::nullopt));
        QVERIFY(!view.tail(QString::fromStdString(before)));
        QVERIFY(view.tail(QString::fromStdString(after))->isRunning());
        QCOMPARE(view.lines()->filteredLines(), QStringList({"new"}));

        // Without a job file the run-time state names the files.
        Job runtimeOnly;
        runtimeOnly.label = label.toStdString();
        JobLogView fromLaunchd(runtimeOnly, runtimeWith(before, std::nullopt));
        fromLaunchd.show();
        fromLaunchd.setRuntime(runtimeWith(after, after));
        QVERIFY(!fromLaunchd.tail(QString::fromStdString(before)));
        QCOMPARE(pickerTitles(fromLaunchd), QStringList({"Output & Errors", "launchd Activity"}));
        QCOMPARE(fromLaunchd.lines()->filteredLines(), QStringList({"new"}));
    }

    void launchdsLogIsReadWhenFirstPickedAndOnlyForTheJobShown() {
        test::SandboxRoot root;
        writeLaunchdLog(root, "[gui/501/" + label + " [11]:] spawned");
        const std::string file = root.writeFile("/Users/Shared/out.log", "x\n");
        JobLogView view(fileJob(file, std::nullopt), std::nullopt);
        view.show();
        QVERIFY(!view.activity().isLoading());
        view.findChild<QButtonGroup*>()->buttons().back()->click();
        QCOMPARE(view.source(), Source::launchd());
        QTRY_COMPARE(view.lines()->filteredLines().size(), 1);
        QVERIFY(!view.findChild<QWidget*>("noLogNotice")->isVisible());
        QVERIFY(view.footerPath().isEmpty());

        // A query still running for the former job never lands under the next one.
        JobLogView switching(fileJob("/dev/null", std::nullopt), std::nullopt);
        {
            test::HeldThreadPool held;
            switching.show();
            QVERIFY(switching.activity().isLoading());
        }
        Job other = fileJob(file, std::nullopt);
        other.directory = JobDirectory::globalAgents;
        switching.setJob(other);
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QVERIFY(switching.activity().lines().isEmpty());
        QVERIFY(!switching.activity().isLoading());
        QCOMPARE(switching.source(), Source::file(QString::fromStdString(file)));
    }
};

QTEST_MAIN(JobLogViewTest)
#include "JobLogViewTest.moc"
