#include <QSignalSpy>
#include <QtTest>

#include <optional>

#include "Quillwick/cron/CrontabStore.h"
#include "sandbox/ToolRun.h"
#include "support/HeldThreadPool.h"
#include "support/SandboxRoot.h"

namespace qw::test {

class CrontabStoreTest : public QObject {
    Q_OBJECT

    std::optional<SandboxRoot> root;

    std::string installed() {
        return readFile(root->resolve("/private/var/at/tabs") / SystemPaths::loginName());
    }
    void install(const std::string& text) { QCOMPARE(runTool(root->paths().crontab(), {"-"}, text).exitStatus, 0); }
    void reload(CrontabStore& store) {
        bool done = false;
        store.reload([&] { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, 60000);
    }
    std::optional<QString> save(CrontabStore& store, const Crontab& edited) {
        bool done = false;
        std::optional<QString> failure;
        store.save(edited, [&](const std::optional<QString>& f) {
            failure = f;
            done = true;
        });
        [&] { QTRY_VERIFY_WITH_TIMEOUT(done, 60000); }();
        return failure;
    }

private slots:
    void init() { root.emplace(); }
    void cleanup() {
        qunsetenv("QUILLWICK_CRONTAB");
        root.reset();
    }

    void noCrontabIsAnEmptyStateNotAnError() {
        CrontabStore store;
        QVERIFY(store.isEmpty());
        QVERIFY(!store.isLoading());
        QSignalSpy loading(&store, &CrontabStore::isLoadingChanged);
        reload(store);
        QVERIFY(store.crontab().lines.empty());
        QVERIFY(store.isEmpty());
        QVERIFY(!store.lastError());
        QVERIFY(!store.needsFullDiskAccess());
        QCOMPARE(loading.count(), 2);

        install("MAILTO=\"\"\n");
        QSignalSpy changed(&store, &CrontabStore::crontabChanged);
        reload(store);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(store.crontab().lines.size(), 1u);
        QVERIFY(store.isEmpty());
        reload(store);
        QCOMPARE(changed.count(), 1);  // the same crontab again is no change
    }

    void deniedAccessKeepsWhatWasReadAndRefusesToSave() {
        install("0 9 * * * /bin/x\n");
        CrontabStore store;
        reload(store);
        QCOMPARE(store.crontab().jobs().size(), 1u);

        qputenv("QUILLWICK_CRONTAB", "denied");
        QSignalSpy access(&store, &CrontabStore::needsFullDiskAccessChanged);
        reload(store);
        QVERIFY(store.needsFullDiskAccess());
        QCOMPARE(access.count(), 1);
        QCOMPARE(store.crontab().jobs().size(), 1u);
        QVERIFY(!store.isEmpty());
        QVERIFY(!store.lastError());

        Crontab edited = store.crontab();
        edited.removing(edited.jobs().front());
        QCOMPARE(save(store, edited),
                 std::optional<QString>("macOS will not let Quillwick change your crontab until it has Full Disk Access."));
        qunsetenv("QUILLWICK_CRONTAB");
        QCOMPARE(installed(), std::string("0 9 * * * /bin/x\n"));
        reload(store);
        QVERIFY(!store.needsFullDiskAccess());
    }

    void aSaveInstallsTheWholeTextAndReadsItBack() {
        install("# mine\n#0 9 * * * /bin/x\n@daily /bin/y\n");
        CrontabStore store;
        reload(store);
        Crontab edited = store.crontab();
        CronJob job = edited.jobs().front();
        job.isDisabled = false;
        edited.replacing(job);
        QSignalSpy saving(&store, &CrontabStore::isSavingChanged);
        QTest::ignoreMessage(QtInfoMsg, "wrote the user crontab (2 jobs)");
        QCOMPARE(save(store, edited), std::nullopt);
        QCOMPARE(installed(), std::string("# mine\n0 9 * * * /bin/x\n@daily /bin/y\n"));
        QCOMPARE(store.crontab(), Crontab::parsing(installed()));
        QCOMPARE(saving.count(), 2);
    }

    // A line the checks know cron refuses is named with their reason; any other refusal is crontab's.
    void aRefusedTextIsReportedByItsLineOrInCrontabsOwnWords() {
        install("0 9 * * * /bin/x\n");
        CrontabStore store;
        reload(store);
        Crontab edited = store.crontab();
        CronJob bad;
        bad.schedule = CronSchedule::fields({"60", "*", "*", "*", "*"});
        bad.command = "/bin/y";
        edited.adding(bad);
        QCOMPARE(save(store, edited), std::optional<QString>("crontab refused the file: cron refuses line 2, “60 * * * * "
                                                             "/bin/y”: “60” is not a minute: cron takes 0–59."));
        QCOMPARE(installed(), std::string("0 9 * * * /bin/x\n"));
        QCOMPARE(store.crontab(), Crontab::parsing("0 9 * * * /bin/x\n"));

        edited = store.crontab();
        edited.lines.push_back(Crontab::Line::parsing("every day at nine", 1));
        QCOMPARE(save(store, edited), std::optional<QString>("crontab refused the file: \"-\":1: bad minute\n"
                                                             "errors in crontab file, can't install."));
        // A line of a CRLF crontab, put there past crontab's checks, is quoted without its carriage return.
        root->writeFile("/private/var/at/tabs/" + SystemPaths::loginName(), "0 9 * * * /bin/x\r\n61 * * * * /bin/z\r\n");
        reload(store);
        edited = store.crontab();
        edited.lines.erase(edited.lines.begin());
        QCOMPARE(save(store, edited), std::optional<QString>("crontab refused the file: cron refuses line 1, “61 * * * * "
                                                             "/bin/z”: “61” is not a minute: cron takes 0–59."));
    }

    void nothingIsSavedBeforeARead() {
        install("0 9 * * * /bin/precious\n");
        CrontabStore store;
        Crontab edited;
        CronJob job;
        job.command = "/bin/new";
        edited.adding(job);
        const auto failure = save(store, edited);
        QVERIFY(failure && failure->contains("has not read your crontab"));
        QCOMPARE(installed(), std::string("0 9 * * * /bin/precious\n"));
    }

    void anOutsideChangeIsNeverOverwritten() {
        install("0 9 * * * /bin/x\n");
        CrontabStore store;
        reload(store);
        Crontab edited = store.crontab();
        edited.removing(edited.jobs().front());
        install("0 9 * * * /bin/x\n0 10 * * * /bin/from-crontab-e\n");
        const auto failure = save(store, edited);
        QVERIFY(failure && failure->startsWith("Your crontab changed outside Quillwick"));
        QCOMPARE(installed(), std::string("0 9 * * * /bin/x\n0 10 * * * /bin/from-crontab-e\n"));
        QCOMPARE(store.crontab().jobs().size(), 2u);  // reloaded

        // A crontab that appeared since "no crontab" was read is an outside change too.
        SandboxRoot fresh;
        CrontabStore empty;
        reload(empty);
        QCOMPARE(runTool(fresh.paths().crontab(), {"-"}, "@hourly /bin/z\n").exitStatus, 0);
        QVERIFY(save(empty, edited));
        QCOMPARE(runTool(fresh.paths().crontab(), {"-l"}).standardOutput, std::string("@hourly /bin/z\n"));
    }

    void bytesThatAreNotUtf8SurviveAnEdit() {
        install("# caf\xe9\n0 9 * * * /bin/echo \xff\n0 10 * * * /bin/other\r\n");
        CrontabStore store;
        reload(store);
        Crontab edited = store.crontab();
        for (CronJob job : edited.jobs()) {
            job.isDisabled = true;
            edited.replacing(job);
        }
        QCOMPARE(save(store, edited), std::nullopt);
        QCOMPARE(installed(), std::string("# caf\xe9\n#0 9 * * * /bin/echo \xff\n#0 10 * * * /bin/other\r\n"));
    }

    void aCommandThatWouldWriteHiddenLinesIsRefused() {
        install("0 9 * * * /bin/x\n");
        CrontabStore store;
        reload(store);
        for (const std::string& command : std::vector<std::string>{"/bin/y\n* * * * * /bin/evil", std::string("/bin/y\0z", 8), "/bin/y\rz", "  "}) {
            Crontab edited = store.crontab();
            CronJob job;
            job.command = command;
            edited.adding(job);
            const auto failure = save(store, edited);
            QVERIFY(failure && failure->startsWith("Nothing was saved"));
        }
        QCOMPARE(installed(), std::string("0 9 * * * /bin/x\n"));
    }

    void aMissingCrontabProgramIsAnErrorNotAnEmptyCrontab() {
        install("0 9 * * * /bin/x\n");
        CrontabStore store;
        reload(store);
        std::filesystem::remove(root->paths().crontab());
        reload(store);
        QCOMPARE(store.lastError(), std::optional<QString>(QString::fromStdString("Could not run " + root->paths().crontab().string() + ".")));
        QCOMPARE(store.crontab().jobs().size(), 1u);
        const auto failure = save(store, store.crontab());
        QVERIFY(failure && failure->startsWith("Could not run "));
    }

    void anOlderReadNeverReplacesANewerOne() {
        install("0 1 * * * /bin/old\n");
        CrontabStore store;
        int done = 0;
        store.reload([&] { ++done; });
        install("0 2 * * * /bin/new\n");
        {
            HeldThreadPool held;
            store.reload([&] { ++done; });
            QVERIFY(store.isLoading());
        }
        QTRY_VERIFY_WITH_TIMEOUT(done == 2, 60000);
        QVERIFY(!store.isLoading());
        QCOMPARE(store.crontab(), Crontab::parsing("0 2 * * * /bin/new\n"));
    }
};

}  // namespace qw::test

QTEST_MAIN(qw::test::CrontabStoreTest)
#include "CrontabStoreTest.moc"
