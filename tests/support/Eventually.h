// Waits for a condition rather than for a time: polls it until it holds or the deadline passes.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace qw::test {

inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace qw::test
