// JobIndex: one full look at the machine — every job file in the five launchd folders joined by label
// with launchd's loaded services and disabled records, plus the loaded jobs that have no file. Built in
// one blocking call that keeps no state; plain C++, safe on any thread.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Quillwick/launchd/Job.h"
#include "Quillwick/launchd/JobDefinition.h"
#include "Quillwick/launchd/LaunchctlListEntry.h"
#include "helperkit/JobDirectory.h"

namespace qw {

struct JobIndex {
    std::vector<Job> jobs;                           // sorted by label, ties in folder order
    std::set<std::string> duplicatedLabels;          // declared in more than one folder
    std::vector<JobDirectory> unreadableDirectories; // exist but cannot be listed, in folder order

    struct DirectoryScan {
        // The folders that could be listed, in folder order; each one's definitions by label.
        std::vector<std::pair<JobDirectory, std::map<std::string, JobDefinition>>> definitions;
        std::vector<JobDirectory> unreadable;
    };

    // Job files are read up to this size; a larger one is listed with a load failure.
    static constexpr std::size_t largestJobFile = 16u << 20;

    // The full scan: the folders, then launchctl list, print-disabled for the gui and system domains,
    // and print system for the status of the daemons. Never fails; blocks on files and child processes.
    // launchd has one job per label and domain: where files in two folders of one domain declare a
    // loaded label, only the file launchd names as loaded (print's "path") gets its status.
    static JobIndex build();
    // The folder part. Files are visited in name order, so of two files declaring one label in one
    // folder the later name wins on every scan.
    static DirectoryScan scanDirectories();

    // Finder order: case-insensitive, runs of digits by value (job2 before job10). Negative, 0, positive.
    static int compareLabels(std::string_view a, std::string_view b);

    // One job file as the scan reads it: parsed, or empty with the load failure the list shows. The
    // second form takes bytes already read (through the helper).
    static JobDefinition readDefinition(const JobLocation& location);
    static JobDefinition definitionFrom(const JobLocation& location, std::string_view bytes);

    // The paths of the other job files among `jobs` that declare `job`'s label, in list order.
    static std::vector<std::string> otherFiles(const std::vector<Job>& jobs, const Job& job);

    bool operator==(const JobIndex&) const = default;
};

}  // namespace qw
