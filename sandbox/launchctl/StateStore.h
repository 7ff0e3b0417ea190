// StateStore: the stand-in launchd's state, one JSON file per domain under private/var/db/launchd/.
// Every change happens under an exclusive flock of one lock file and is written aside and renamed into
// place, so a call killed halfway leaves the previous state and concurrent calls lose nothing. Readers
// take no lock: each file is replaced whole, and a lock that readers may take is one any user could
// hold against every change.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "helperkit/LaunchdDomain.h"
#include "ServiceRecord.h"

namespace qw {

class StateStore {
public:
    explicit StateStore(std::filesystem::path folder);

    class Lock {
    public:
        explicit Lock(int fd) : fd_(fd) {}
        ~Lock();
        Lock(Lock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;
        Lock& operator=(Lock&&) = delete;

    private:
        int fd_;
    };

    // The writers' lock. Waits at most `timeout`; throws LaunchctlFailure when it cannot be had.
    Lock lock(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // A domain without a file is empty. A damaged file throws LaunchctlFailure rather than being
    // overwritten.
    DomainState load(const LaunchdDomain& domain) const;
    void save(const LaunchdDomain& domain, const DomainState& state) const;
    // Every domain that has a state file.
    std::vector<LaunchdDomain> storedDomains() const;

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path fileFor(const LaunchdDomain& domain) const;

private:
    std::filesystem::path folder_;
};

}  // namespace qw
