// For Qt tests: keeps every thread of the global pool waiting while it lives, so that work started
// meanwhile (a save, a query) is still in progress when the test looks. On a busy machine such work may
// otherwise end, and its result be delivered, within the call that started it.
#pragma once

#include <QSemaphore>
#include <QThreadPool>

#include <memory>

namespace qw::test {

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

}  // namespace qw::test
