// DirectoryWatcher: watches one folder's entries (files added, removed or moved in or out, the folder
// itself deleted or moved) through inotify, and calls its action once a burst of changes has been quiet
// for 250 ms. Edits inside an existing file are not seen: the store's poll picks those up.
// Main thread only; the descriptor is closed when the watcher is destroyed.
#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace qw {

class DirectoryWatcher : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds debounce{250};

    // Nothing when the folder cannot be watched (it does not exist, or is not a folder).
    static std::unique_ptr<DirectoryWatcher> create(const std::filesystem::path& folder, std::function<void()> onChange);
    ~DirectoryWatcher() override;

    const std::filesystem::path& folder() const { return folder_; }

private:
    DirectoryWatcher(int descriptor, std::filesystem::path folder, std::function<void()> onChange);
    void handleEvent();

    int descriptor_;
    std::filesystem::path folder_;
    std::function<void()> onChange_;
    QSocketNotifier* notifier_;
    QTimer pending_;
};

}  // namespace qw
