// JobFilter: the sidebar's ways of narrowing the job list — one per launchd folder and twelve views over
// every job — each with its identifier, title, symbol and help text. Plain C++, no state.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Quillwick/launchd/Job.h"
#include "helperkit/JobDirectory.h"

namespace qw {

class JobFilter {
public:
    // Declaration order is the hashing order.
    enum class Kind {
        installed, all, running, failed, disabled, notLoaded, problems,
        scheduled, watching, onDemand, directory, cron, runtimeOnly
    };

    // Any kind but `directory`, which needs its folder.
    constexpr JobFilter(Kind kind) : kind_(kind == Kind::directory ? Kind::all : kind) {}
    static constexpr JobFilter directory(JobDirectory folder) { return JobFilter(folder); }

    // The five folders, then runtimeOnly: the sidebar's location rows.
    static const std::vector<JobFilter>& locations();

    Kind kind() const { return kind_; }
    std::optional<JobDirectory> folder() const { return folder_; }

    std::string id() const;           // "installed", "directory.userAgents", ...
    std::string title() const;
    std::string systemImage() const;  // a system symbol name
    std::string help() const;
    // `problems` and `cron` match nothing here: the browser decides those itself.
    bool matches(const Job& job) const;

    std::size_t hash() const;
    bool operator==(const JobFilter&) const = default;

private:
    constexpr explicit JobFilter(JobDirectory folder) : kind_(Kind::directory), folder_(folder) {}
    Kind kind_;
    std::optional<JobDirectory> folder_;
};

}  // namespace qw

template <>
struct std::hash<qw::JobFilter> {
    std::size_t operator()(const qw::JobFilter& f) const noexcept { return f.hash(); }
};
