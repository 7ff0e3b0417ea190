#include "Quillwick/store/DirectoryWatcher.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qw {

std::unique_ptr<DirectoryWatcher> DirectoryWatcher::create(const std::filesystem::path& folder,
                                                           std::function<void()> onChange) {
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return nullptr;
    constexpr std::uint32_t events =
        IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    if (::inotify_add_watch(fd, folder.c_str(), events) < 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<DirectoryWatcher>(new DirectoryWatcher(fd, folder, std::move(onChange)));
}

DirectoryWatcher::DirectoryWatcher(int descriptor, std::filesystem::path folder, std::function<void()> onChange)
    : descriptor_(descriptor),
      folder_(std::move(folder)),
      onChange_(std::move(onChange)),
      notifier_(new QSocketNotifier(descriptor, QSocketNotifier::Read, this)) {
    pending_.setSingleShot(true);
    pending_.setInterval(debounce);
    connect(&pending_, &QTimer::timeout, this, [this] { onChange_(); });
    connect(notifier_, &QSocketNotifier::activated, this, &DirectoryWatcher::handleEvent);
}

DirectoryWatcher::~DirectoryWatcher() {
    pending_.stop();
    notifier_->setEnabled(false);
    ::close(descriptor_);
}

void DirectoryWatcher::handleEvent() {
    // Drain the batch; only its arrival matters, and each one restarts the quiet period.
    alignas(inotify_event) char buffer[4096];
    while (::read(descriptor_, buffer, sizeof buffer) > 0) {
    }
    pending_.start();
}

}  // namespace qw
