#include "Quillwick/store/JobStore.h"

#include <QLoggingCategory>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

namespace qw {
namespace {

Q_LOGGING_CATEGORY(jobstoreLog, "com.tarnmoor.quillwick.jobstore")

template <typename T>
bool store(T& field, T&& value) {
    if (field == value) return false;
    field = std::move(value);
    return true;
}

}  // namespace

JobStore::JobStore(QObject* parent) : JobStore(&JobIndex::build, parent) {}

JobStore::JobStore(Scanner scanner, QObject* parent) : QObject(parent), scanner_(std::move(scanner)) {
    // Scans are background work the user is not waiting on second by second.
    pool_.setThreadPriority(QThread::LowPriority);
    pool_.setMaxThreadCount(std::max(2, QThread::idealThreadCount() / 2));
    pollTimer_.setSingleShot(true);
    pollTimer_.setTimerType(Qt::PreciseTimer);
    connect(&pollTimer_, &QTimer::timeout, this, [this] { pollPass(pollGeneration_); });
}

JobStore::~JobStore() {
    stopWatching();
    // Scans still running finish here; their results are dropped with the store.
    pool_.waitForDone();
}

QFuture<void> JobStore::refresh() {
    if (++loadingCount_ == 1) emit isLoadingChanged(true);
    return scanThenApply(true).then(this, [this] {
        if (--loadingCount_ == 0) emit isLoadingChanged(false);
    });
}

QFuture<void> JobStore::reload() { return scanThenApply(true); }

QFuture<void> JobStore::scanThenApply(bool announce) {
    return QtConcurrent::run(&pool_, [scanner = scanner_] { return scanner(); })
        .then(this, [this, announce](QFuture<JobIndex> done) {
            try {
                apply(done.takeResult());
            } catch (const std::exception& e) {
                // The scan absorbs every error of the machine; this is one of its own, and it must not
                // leave a refresh loading for ever.
                qCWarning(jobstoreLog) << "scan failed:" << e.what();
            }
            if (announce) emit reloaded();
        });
}

void JobStore::apply(JobIndex index) {
    if (store(jobs_, std::move(index.jobs))) emit jobsChanged();
    if (store(duplicatedLabels_, std::move(index.duplicatedLabels))) emit duplicatedLabelsChanged();
    if (store(unreadableDirectories_, std::move(index.unreadableDirectories))) emit unreadableDirectoriesChanged();

    std::optional<std::string> error;
    if (!unreadableDirectories_.empty()) {
        std::string text = "Could not read ";
        for (std::size_t i = 0; i < unreadableDirectories_.size(); ++i) {
            if (i) text += ", ";
            text += unreadableDirectories_[i].title();
        }
        error = std::move(text);
    }
    if (store(lastError_, std::move(error))) emit lastErrorChanged();
}

void JobStore::startWatching(std::chrono::milliseconds interval) {
    stopWatching();
    for (const JobDirectory folder : JobDirectory::all()) {
        if (auto watcher = DirectoryWatcher::create(folder.url(), [this] { reload(); }))
            watchers_.push_back(std::move(watcher));
    }
    pollInterval_ = interval;
    watching_ = true;
    ++pollGeneration_;
    pollTimer_.start(pollInterval_);
    emit watchingChanged(true);
}

void JobStore::stopWatching() {
    watchers_.clear();
    if (!watching_) return;
    watching_ = false;
    ++pollGeneration_;
    pollTimer_.stop();
    emit watchingChanged(false);
}

void JobStore::pollPass(std::uint64_t generation) {
    // The next deadline is taken once this pass is applied, so passes never overlap.
    scanThenApply(false).then(this, [this, generation] {
        if (watching_ && generation == pollGeneration_) pollTimer_.start(pollInterval_);
    });
}

}  // namespace qw
