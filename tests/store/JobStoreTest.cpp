#include "Quillwick/store/JobStore.h"

#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "support/SandboxRoot.h"

namespace fs = std::filesystem;
using namespace qw;

namespace {

std::string labelled(const std::string& label) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Label</key><string>" +
           label + "</string></dict></plist>\n";
}

void writeJob(const fs::path& folder, const std::string& label) {
    std::ofstream(folder / (label + ".plist")) << labelled(label);
}

JobIndex indexOf(std::initializer_list<const char*> labels) {
    JobIndex index;
    for (const char* label : labels) index.jobs.push_back(Job{label, std::nullopt, std::nullopt, false, std::nullopt});
    return index;
}

bool listed(const JobStore& store, const std::string& id) {
    for (const Job& job : store.jobs())
        if (job.id() == id) return true;
    return false;
}

std::size_t openDescriptors() {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// The real scan, counted.
struct CountingScanner {
    std::shared_ptr<std::atomic<int>> count = std::make_shared<std::atomic<int>>(0);
    JobStore::Scanner scanner() const {
        return [count = count] {
            ++*count;
            return JobIndex::build();
        };
    }
};

}  // namespace

class JobStoreTest : public QObject {
    Q_OBJECT
private slots:
    void applyNotifiesOnlyWhatChanged() {
        JobStore store([] { return JobIndex{}; });
        QSignalSpy jobs(&store, &JobStore::jobsChanged), error(&store, &JobStore::lastErrorChanged),
            unreadable(&store, &JobStore::unreadableDirectoriesChanged);

        JobIndex first = indexOf({"a", "b"});
        first.unreadableDirectories = {JobDirectory::globalDaemons, JobDirectory::systemDaemons};
        store.apply(first);
        QCOMPARE(jobs.count(), 1);
        QCOMPARE(*store.lastError(), std::string("Could not read Global Daemons, System Daemons"));

        store.apply(first);
        QCOMPARE(jobs.count(), 1);
        QCOMPARE(error.count(), 1);
        QCOMPARE(unreadable.count(), 1);

        store.apply(indexOf({"a", "b"}));
        QCOMPARE(jobs.count(), 1);
        QVERIFY(!store.lastError());
        QCOMPARE(error.count(), 2);
    }

    void overlappingRefreshesApplyInFinishingOrderAndStayLoadingUntilTheLast() {
        auto gate = std::make_shared<std::promise<void>>();
        auto calls = std::make_shared<std::atomic<int>>(0);
        std::shared_future<void> opened = gate->get_future().share();
        JobStore store([calls, opened] {
            if (++*calls == 1) {
                opened.wait();  // the first scan is slow
                return indexOf({"slow"});
            }
            return indexOf({"fast"});
        });
        QSignalSpy loading(&store, &JobStore::isLoadingChanged);

        QFuture<void> slow = store.refresh();
        QTRY_COMPARE(calls->load(), 1);
        QFuture<void> fast = store.refresh();
        QTRY_VERIFY(fast.isFinished());
        QCOMPARE(store.jobs().front().label, std::string("fast"));
        QVERIFY(store.isLoading());

        gate->set_value();
        QTRY_VERIFY(slow.isFinished());
        QCOMPARE(store.jobs().front().label, std::string("slow"));
        QVERIFY(!store.isLoading());
        QCOMPARE(loading.count(), 2);

        store.reload();
        QTRY_COMPARE(store.jobs().front().label, std::string("fast"));
        QCOMPARE(loading.count(), 2);
    }

    void aStoreDestroyedDuringAScanDropsItsResult() {
        auto store = std::make_unique<JobStore>([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return indexOf({"late"});
        });
        QFuture<void> pending = store->refresh();
        store.reset();
        QTest::qWait(50);
        QVERIFY(pending.isCanceled() || pending.isFinished());
    }

    void aBurstOfNewFilesReloadsOnceAndAMissingFolderIsPolled() {
        test::SandboxRoot root;
        const fs::path agents = JobDirectory(JobDirectory::userAgents).url();
        const fs::path globalAgents = JobDirectory(JobDirectory::globalAgents).url();
        fs::remove_all(agents);
        CountingScanner counting;
        JobStore store(counting.scanner());

        store.startWatching(std::chrono::hours(1));
        QCOMPARE(store.watcherCount(), std::size_t(4));
        for (const char* label : {"one", "two", "three"}) writeJob(globalAgents, label);
        QTRY_VERIFY(listed(store, "globalAgents:three"));
        QTest::qWait(2 * DirectoryWatcher::debounce.count());
        QCOMPARE(counting.count->load(), 1);

        // Only the poll can see the folder that was missing when watching began.
        store.startWatching(std::chrono::milliseconds(100));
        QCOMPARE(store.watcherCount(), std::size_t(4));
        fs::remove_all(agents);
        fs::create_directories(agents);
        writeJob(agents, "late");
        QTRY_VERIFY(listed(store, "userAgents:late"));
    }

    void anUnchangedMachineIsPolledSilentlyAndRestartingReleasesWatchers() {
        test::SandboxRoot root;
        writeJob(JobDirectory(JobDirectory::userAgents).url(), "steady");
        CountingScanner counting;
        JobStore store(counting.scanner());
        QFuture<void> first = store.refresh();
        QTRY_VERIFY(first.isFinished());
        QSignalSpy jobs(&store, &JobStore::jobsChanged), watching(&store, &JobStore::watchingChanged);

        store.startWatching(std::chrono::milliseconds(20));
        const std::size_t descriptors = openDescriptors();
        store.startWatching(std::chrono::milliseconds(20));
        QCOMPARE(openDescriptors(), descriptors);
        QCOMPARE(store.watcherCount(), std::size_t(5));
        QTRY_VERIFY(counting.count->load() >= 4);
        QCOMPARE(jobs.count(), 0);

        store.stopWatching();
        QVERIFY(!store.isWatching());
        QCOMPARE(store.watcherCount(), std::size_t(0));
        QCOMPARE(watching.count(), 4);  // on, off and on again, off
        const int afterStop = counting.count->load();
        QTest::qWait(100);
        QVERIFY(counting.count->load() <= afterStop + 1);  // at most the pass already under way
    }
};

QTEST_MAIN(JobStoreTest)
#include "JobStoreTest.moc"
