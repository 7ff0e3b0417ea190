// JobStore: the one observable home of the job list. Every way of freshening it — refresh(), reload(),
// a change in one of the five job folders, the poll — runs a full JobIndex scan on the store's
// low-priority thread pool and applies the result on the main thread. Each observable field has its own
// change signal, emitted only when the value really changed, so a rescan that finds the same jobs
// redraws nothing. Scans are not serialised: each applies its result when it finishes, the last one
// wins. Main thread only; destroying the store stops its watchers and poll and drops late results.
#pragma once

#include <QFuture>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Quillwick/launchd/Job.h"
#include "Quillwick/store/DirectoryWatcher.h"
#include "Quillwick/store/JobIndex.h"

namespace qw {

class JobStore : public QObject {
    Q_OBJECT
public:
    // What one scan does; JobIndex::build unless a test needs another (a slow one, say). Runs on the
    // store's pool, never on the main thread.
    using Scanner = std::function<JobIndex()>;

    explicit JobStore(QObject* parent = nullptr);
    explicit JobStore(Scanner scanner, QObject* parent = nullptr);
    ~JobStore() override;

    // The last scan's jobs, sorted by label; empty until the first scan is applied.
    const std::vector<Job>& jobs() const { return jobs_; }
    const std::set<std::string>& duplicatedLabels() const { return duplicatedLabels_; }
    const std::vector<JobDirectory>& unreadableDirectories() const { return unreadableDirectories_; }
    // True while any refresh() is still waiting for its scan (reload() leaves it alone).
    bool isLoading() const { return loadingCount_ > 0; }
    // "Could not read " and the unreadable folders' titles joined by ", "; none when all could be read.
    const std::optional<std::string>& lastError() const { return lastError_; }
    // Whether startWatching() is in force: the poll runs and the existing folders are watched.
    bool isWatching() const { return watching_; }
    std::size_t watcherCount() const { return watchers_.size(); }

    // A scan with the loading flag set while it runs. The future finishes once the result is applied
    // (it is cancelled instead when the store goes first). Never fails.
    QFuture<void> refresh();
    // The same scan without touching the loading flag: after actions, saves, fixes and folder changes.
    QFuture<void> reload();
    // Publishes one scan's result and derives lastError.
    void apply(JobIndex index);

    // Stops any watching first, then watches each existing job folder (a change reloads the store 250 ms
    // after the last event of a burst) and polls: a full scan, then the next one `interval` after that
    // scan was applied, so passes never overlap each other. A folder missing now is seen only by the poll
    // until startWatching() runs again.
    void startWatching(std::chrono::milliseconds interval = std::chrono::seconds(5));
    void stopWatching();

signals:
    void jobsChanged();
    void duplicatedLabelsChanged();
    void unreadableDirectoriesChanged();
    void isLoadingChanged(bool isLoading);
    void lastErrorChanged();
    void watchingChanged(bool isWatching);
    // A refresh() or reload() was applied, changed or not: someone changed the machine and asked to
    // look (a fix may change a folder or a file's mode, which no job value shows). Polls do not say it.
    void reloaded();

private:
    QFuture<void> scanThenApply(bool announce);
    void pollPass(std::uint64_t generation);

    Scanner scanner_;
    std::vector<Job> jobs_;
    std::set<std::string> duplicatedLabels_;
    std::vector<JobDirectory> unreadableDirectories_;
    int loadingCount_ = 0;
    std::optional<std::string> lastError_;
    std::vector<std::unique_ptr<DirectoryWatcher>> watchers_;
    bool watching_ = false;
    std::uint64_t pollGeneration_ = 0;
    std::chrono::milliseconds pollInterval_{0};
    QTimer pollTimer_;
    // Declared last, so it is destroyed first: it waits for running scans before the state they would
    // have been applied to goes away.
    QThreadPool pool_;
};

}  // namespace qw
