// The Overview tab over job values as the store and the pane hand them over: which sections and rows
// it shows, in which order, and what they say.
#include <QGridLayout>
#include <QLabel>
#include <QTest>

#include "Quillwick/detail/JobOverviewView.h"
#include "Quillwick/ui/Hint.h"
#include "Quillwick/ui/Style.h"

using namespace qw;

namespace {

Job fileJob(PlistDictionary root, JobDirectory directory = JobDirectory::userAgents) {
    Job job;
    job.label = "com.example.overview";
    job.directory = directory;
    root.set("Label", PlistValue(job.label));
    job.definition = JobDefinition(PlistFile(std::move(root), PlistFormat::xml), JobLocation::forLabel(directory, job.label));
    return job;
}

QStringList sections(const JobOverviewView& view) {
    QStringList titles;
    for (auto* title : view.findChildren<QLabel*>("sectionTitle")) titles << title->text();
    return titles;
}

QString textOf(const JobOverviewView& view, const char* name) {
    auto* label = view.findChild<QLabel*>(name);
    return label ? label->text() : QString();
}

// Each row as "label: value", with " [hint title]" when it has a hint.
QStringList rows(const JobOverviewView& view, const char* gridName = "detailsGrid") {
    QStringList result;
    auto* owner = view.findChild<QWidget*>(gridName);
    if (!owner) return result;
    auto* grid = qobject_cast<QGridLayout*>(owner->layout());
    for (int r = 0; r < grid->count() / 2; ++r) {
        QWidget* cell = grid->itemAtPosition(r, 0)->widget();
        auto* name = qobject_cast<QLabel*>(cell) ? qobject_cast<QLabel*>(cell) : cell->findChild<QLabel*>("detailLabel");
        QString line = name->text() + ": " + qobject_cast<QLabel*>(grid->itemAtPosition(r, 1)->widget())->text();
        if (auto* hint = cell->findChild<Hint*>()) line += " [" + hint->title() + "]";
        result << line;
    }
    return result;
}

}  // namespace

class JobOverviewViewTest : public QObject {
    Q_OBJECT
private slots:
    void jobWithoutFileShowsItsFallbacks() {
        Job job;
        job.label = "application.com.example.helper";
        JobOverviewView view(job, std::nullopt);
        QCOMPARE(sections(view), QStringList({"Command", "Details"}));
        QCOMPARE(textOf(view, "commandText"), QString("This job has no command — nothing would run."));
        QCOMPARE(rows(view), QStringList({QString("Domain: gui/%1/application.com.example.helper [Domains]").arg(currentUserID()),
                                          "File: None — an app registered this job with the system. [Jobs with no file]",
                                          "Log: None — this job's output is discarded. [Where a job's output goes]"}));
    }

    void commandLineComesFromTheFileOrElseFromLaunchd() {
        Job runtimeOnly;
        runtimeOnly.label = "application.com.example.helper";
        RuntimeState named;
        named.program = "/usr/libexec/helperd";
        RuntimeState withArguments = named;
        withArguments.arguments = {"/usr/libexec/helperd", "--serve", "two words"};
        const QString none = "This job has no command — nothing would run.";
        const struct {
            Job job;
            std::optional<RuntimeState> runtime;
            QString expected;
        } cases[] = {
            {fileJob({{"ProgramArguments", PlistValue::array({"/usr/bin/say", "hello world"})}}), std::nullopt, "/usr/bin/say hello world"},
            {fileJob({{"Program", "/bin/date"}}), std::nullopt, "/bin/date"},
            {fileJob({}), named, none},
            {runtimeOnly, withArguments, "/usr/libexec/helperd --serve two words"},
            {runtimeOnly, named, "/usr/libexec/helperd"},
        };
        for (const auto& c : cases) {
            JobOverviewView view(c.job, c.runtime);
            QCOMPARE(textOf(view, "commandText"), c.expected);
            QVERIFY(c.expected == none || view.findChild<QLabel*>("commandText")->font() == monospaceFont());
        }
    }

    void whyItStoppedExplainsOnlyFailures() {
        using Exit = RuntimeState::ExitStatus;
        auto state = [](std::optional<Exit> exit, std::vector<std::string> properties = {}) {
            RuntimeState s;
            s.lastExit = exit;
            s.properties = std::move(properties);
            return s;
        };
        const Job job = fileJob({{"Program", "/bin/false"}});
        Job listed = job;
        listed.status = LaunchctlListEntry{job.label, std::nullopt, Exit::code(78)};
        const QString config =
            "The program last exited with code 78. The program's configuration is wrong — check its arguments and any "
            "config file it reads.";
        const QString throttled =
            " launchd is now throttling restarts, which is what it does when a job fails repeatedly — it will keep "
            "trying, more and more slowly.";
        const struct {
            Job job;
            std::optional<RuntimeState> runtime;
            QString expected;  // empty: no section
        } cases[] = {
            {job, state(Exit::code(0)), {}},
            {job, state(Exit::signal(15)), {}},
            {listed, state(Exit::neverExited()), {}},  // launchd's own word wins over the list
            {job, state(Exit::code(1)), "The program last exited with code 1. The program reported a general failure."},
            {job, state(Exit::signal(11)), "The program last exited with killed by SIGSEGV. The program crashed."},
            {job, state(Exit::code(3), {"inferred program", "penalty box"}), "The program last exited with code 3." + throttled},
            {listed, state(std::nullopt, {"penalty box"}), config + throttled},
            {listed, std::nullopt, config},
        };
        for (const auto& c : cases) {
            JobOverviewView view(c.job, c.runtime);
            QCOMPARE(sections(view).contains("Why it stopped"), !c.expected.isEmpty());
            QCOMPARE(textOf(view, "whyItStoppedText"), c.expected);
        }
    }

    void detailsFollowTheFileAndLaunchd() {
        const Job daemon = fileJob({{"StandardOutPath", "/dev/null"}, {"StandardErrorPath", "/dev/null"}}, JobDirectory::globalDaemons);
        const QString file = QString::fromStdString(daemon.definition->location->url.string());
        const QString location = "Location: Global Daemons — Runs as root at startup, whether or not anyone is logged in.";
        JobOverviewView view(daemon, std::nullopt);
        QCOMPARE(rows(view), QStringList({"Domain: system/com.example.overview [Domains]", "File: " + file, location,
                                          "Runs as: root", "Log: None — this job's output is discarded. [Where a job's output goes]"}));

        // launchd's paths stand in when the file discards its output, taken as launchd reports them.
        RuntimeState state;
        state.pid = 4321;
        state.runs = 7;
        state.immediateReason = "speculative";
        state.workingDirectory = "/var/empty";
        state.standardOutPath = state.standardErrorPath = "/dev/null";
        view.setRuntime(state);
        QCOMPARE(rows(view).mid(3), QStringList({"Process: 4321", "Times started: 7", "Started because: speculative",
                                                 "Working directory: /var/empty", "Runs as: root", "Log: /dev/null"}));

        Job nobody = daemon;
        nobody.definition->setUserName("nobody");
        nobody.definition->setStandardOutPath("/tmp/x.log");
        nobody.definition->setStandardErrorPath("/tmp/x.log");
        view.setJob(nobody);
        QCOMPARE(rows(view).mid(7), QStringList({"Runs as: nobody", "Log: /tmp/x.log"}));
        nobody.definition->setStandardErrorPath("/tmp/x.err");
        view.setJob(nobody);
        QCOMPARE(rows(view).last(), QString("Log: /tmp/x.log\n/tmp/x.err"));

        // An agent runs as no one in particular; a definition without a file has no File row either.
        Job agent = fileJob({});
        agent.definition->location.reset();
        view.setJob(agent);
        view.setRuntime(std::nullopt);
        QCOMPARE(rows(view).mid(1), QStringList({"Location: User Agents — Runs as you, when you are logged in. Only you can see these.",
                                                 "Log: None — this job's output is discarded. [Where a job's output goes]"}));
        QCOMPARE(sections(view).first(), QString("Schedule"));
    }

    void environmentIsSortedByCharacterCode() {
        Job job = fileJob({});
        JobOverviewView view(job, std::nullopt);
        QVERIFY(!sections(view).contains("Environment"));
        job.definition->setEnvironmentVariables({{"b", "2"}, {"lang", "C"}, {"A", "1"}, {"a", "x y"}, {"PATH", "/bin"}});
        view.setJob(job);
        QCOMPARE(sections(view).last(), QString("Environment"));
        QCOMPARE(rows(view, "environmentGrid"), QStringList({"A: 1", "PATH: /bin", "a: x y", "b: 2", "lang: C"}));
    }
};

QTEST_MAIN(JobOverviewViewTest)
#include "JobOverviewViewTest.moc"
