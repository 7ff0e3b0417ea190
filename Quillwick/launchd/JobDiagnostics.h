// The problem checker for one launchd job: from the job, the file facts gathered beforehand and the
// labels that more than one job file declares, the list of issues, most severe first. Pure: it does
// no I/O and keeps no state, so any thread may run it.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "Quillwick/launchd/FileFacts.h"
#include "Quillwick/launchd/Issue.h"
#include "Quillwick/launchd/Job.h"

namespace qw::Diagnostics {

// `otherFiles`: the paths of the other job files that declare this job's label, which the
// duplicate-label problem names.
std::vector<Issue> issues(const Job& job, const FileFacts& facts,
                          const std::unordered_set<std::string>& duplicateLabels,
                          const std::vector<std::string>& otherFiles = {});

}  // namespace qw::Diagnostics
