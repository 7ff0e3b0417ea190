// Shared by the cron widget tests: a sandbox root with a crontab, and a store that has read it.
#pragma once

#include <QDir>
#include <QTest>
#include <QWidget>

#include <optional>
#include <string>

#include "Quillwick/cron/CrontabStore.h"
#include "sandbox/ToolRun.h"
#include "support/HeldThreadPool.h"
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

// With QUILLWICK_SCREENSHOTS set to a folder, a picture of the widget for a person to look at.
inline void keepScreenshot(QWidget& widget, const QString& name) {
    const QString folder = qEnvironmentVariable("QUILLWICK_SCREENSHOTS");
    if (!folder.isEmpty()) widget.grab().save(QDir(folder).filePath(name + ".png"));
}

}  // namespace qw::test
