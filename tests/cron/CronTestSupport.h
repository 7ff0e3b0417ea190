// Shared by the cron widget tests: a sandbox root with a crontab, and a store that has read it.
#pragma once

#include <QDir>
#include <QSemaphore>
#include <QTest>
#include <QThreadPool>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>

#include "Quillwick/cron/CrontabStore.h"
#include "sandbox/ToolRun.h"
#include "support/SandboxRoot.h"

namespace qw::test {

inline std::string installedCrontab(const SandboxRoot& root) {
    return readFile(root.resolve("/private/var/at/tabs") / SystemPaths::loginName());
}

inline bool installCrontab(const SandboxRoot& root, const std::string& text) {
    return runTool(root.paths().crontab(), {"-"}, text).exitStatus == 0;
}

// Waits for a read of the store to end; false when it did not within a minute.
inline bool reloaded(CrontabStore& store) {
    bool done = false;
    store.reload([&] { done = true; });
    return QTest::qWaitFor([&] { return done; }, 60000);
}

inline bool saved(CrontabStore& store) {
    return QTest::qWaitFor([&] { return !store.isSaving() && !store.isLoading(); }, 60000);
}

// Keeps every thread of the global pool waiting while it lives, so that a save started meanwhile is
// still in progress when the test looks: on a busy machine one may otherwise end within the click.
class HeldThreadPool {
public:
    HeldThreadPool() : count_(QThreadPool::globalInstance()->maxThreadCount()) {
        for (int i = 0; i < count_; ++i) QThreadPool::globalInstance()->start([gate = gate_] { gate->acquire(); });
    }
    ~HeldThreadPool() { gate_->release(count_); }
    HeldThreadPool(const HeldThreadPool&) = delete;
    HeldThreadPool& operator=(const HeldThreadPool&) = delete;

private:
    std::shared_ptr<QSemaphore> gate_ = std::make_shared<QSemaphore>();
    int count_;
};

// With QUILLWICK_SCREENSHOTS set to a folder, a picture of the widget for a person to look at.
inline void keepScreenshot(QWidget& widget, const QString& name) {
    const QString folder = qEnvironmentVariable("QUILLWICK_SCREENSHOTS");
    if (!folder.isEmpty()) widget.grab().save(QDir(folder).filePath(name + ".png"));
}

}  // namespace qw::test
