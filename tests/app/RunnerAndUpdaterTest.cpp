// The action runner's one-at-a-time rule and its outcomes, and the updater's decision to start.
#include <QSignalSpy>
#include <QTest>

#include "Quillwick/actions/JobActionRunner.h"
#include "Quillwick/app/UpdaterControls.h"
#include "Quillwick/app/Updater.h"
#include "helperkit/Base64.h"

using namespace qw;

namespace {

struct Calls {
    std::vector<JobAction> performed;
    int reloads = 0;
    JobActionRunner::Done pending;
    std::function<void()> pendingReload;
};

std::unique_ptr<JobActionRunner> runner(Calls& calls) {
    return std::make_unique<JobActionRunner>(
        [&calls](JobAction a, const Job&, JobActionRunner::Done done) {
            calls.performed.push_back(a);
            calls.pending = std::move(done);
        },
        [&calls](std::function<void()> then) {
            ++calls.reloads;
            calls.pendingReload = std::move(then);
        });
}

class FakeBackend : public UpdaterBackend {
public:
    bool canCheck = false;
    bool automatic = true;
    int checks = 0;
    bool canCheckForUpdates() const override { return canCheck; }
    bool automaticallyChecksForUpdates() const override { return automatic; }
    void setAutomaticallyChecksForUpdates(bool on) override { automatic = on; }
    void checkForUpdates() override { ++checks; }
};

PlistDictionary infoWithKeyOf(std::size_t bytes, bool lineBreak = false) {
    std::string key = Base64::encode(std::vector<std::uint8_t>(bytes, 7));
    if (lineBreak)
        key = key.substr(0, 10) + "\n" + key.substr(10);
    return PlistDictionary{{"SUPublicEDKey", key}};
}

}  // namespace

class RunnerAndUpdaterTest : public QObject {
    Q_OBJECT
private slots:
    void aSecondRunWhileBusyIsDroppedAndBusyClearsAfterReloadAndCompletion() {
        Calls calls;
        auto r = runner(calls);
        Job job;
        bool completed = false;
        r->run(JobAction::restart, job, [&] {
            completed = true;
            QCOMPARE(r->busy(), std::optional<QString>("Restart"));
        });
        r->run(JobAction::stop, job);
        QCOMPARE(calls.performed, std::vector<JobAction>{JobAction::restart});
        QCOMPARE(r->busy(), std::optional<QString>("Restart"));
        calls.pending({});
        QCOMPARE(calls.reloads, 1);
        QVERIFY(r->busy());
        calls.pendingReload();
        QVERIFY(completed);
        QVERIFY(!r->busy());
    }

    void aCancelledPromptSaysNothingAndAFailureKeepsItsMessageThroughLaterSuccesses() {
        Calls calls;
        auto r = runner(calls);
        QSignalSpy failures(r.get(), &JobActionRunner::failureChanged);
        bool completed = false;
        r->run(JobAction::load, {}, [&] { completed = true; });
        calls.pending({JobActionRunner::Outcome::Kind::cancelled, {}});
        QVERIFY(!r->busy() && !r->failure());
        QCOMPARE(failures.count(), 0);

        r->run(JobAction::unload, {}, [&] { completed = true; });
        calls.pending({JobActionRunner::Outcome::Kind::failed, "Could not unload “x”."});
        QCOMPARE(r->failure(), std::optional<QString>("Could not unload “x”."));
        QCOMPARE(calls.reloads, 0);
        QVERIFY(!completed && !r->busy());

        r->run(JobAction::enable, {});
        calls.pending({});
        calls.pendingReload();
        QCOMPARE(r->failure(), std::optional<QString>("Could not unload “x”."));
        r->setFailure(std::nullopt);
        QCOMPARE(failures.count(), 2);
    }

    void theUpdaterStartsOnlyWithA32ByteKeyOutsideTests() {
        int made = 0;
        auto factory = [&made] {
            ++made;
            return std::make_unique<FakeBackend>();
        };
        const std::vector<std::pair<PlistDictionary, bool>> cases{
            {infoWithKeyOf(32), true}, {infoWithKeyOf(31), false}, {infoWithKeyOf(33), false},
            {infoWithKeyOf(32, true), false}, {PlistDictionary{{"SUPublicEDKey", 5}}, false}, {{}, false}};
        for (const auto& [info, starts] : cases) {
            Updater updater(info, false, factory);
            QCOMPARE(updater.controller() != nullptr, starts);
            CheckForUpdatesButton button(updater);
            QCOMPARE(button.isVisibleTo(nullptr), starts);
        }
        Updater inTest(infoWithKeyOf(32), true, factory);
        QVERIFY(!inTest.controller());
        QCOMPARE(made, 1);
    }

    void theControlsFollowAndWriteTheFramework() {
        FakeBackend* backend = nullptr;
        Updater updater(infoWithKeyOf(32), false, [&] {
            auto b = std::make_unique<FakeBackend>();
            backend = b.get();
            return b;
        });
        CheckForUpdatesButton button(updater);
        AutomaticUpdatesToggle toggle(updater);
        QVERIFY(!button.isEnabled());
        QVERIFY(toggle.isChecked());
        emit backend->canCheckForUpdatesChanged(true);
        QVERIFY(button.isEnabled());
        button.click();
        QCOMPARE(backend->checks, 1);
        toggle.click();
        QVERIFY(!backend->automatic);
        QVERIFY(!updater.automaticallyChecksForUpdates());
    }
};

QTEST_MAIN(RunnerAndUpdaterTest)
#include "RunnerAndUpdaterTest.moc"
