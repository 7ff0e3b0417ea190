// JobBrowsing: what the browser shows of a job in a row (its status line) and how the search field
// narrows a list. Computed from the Job value alone.
#pragma once

#include <functional>
#include <vector>

#include <QString>

#include "Quillwick/launchd/Job.h"

namespace qw {

// The row's second line: running with its pid, disabled, failed with the exit, registered by an app,
// not loaded, else the folder's title ("Loaded" for a job without one).
QString statusLine(const Job& job);
// The help text of the row's problem marker.
QString problemMarkerHelp();
// What a screen reader says for a row: what a sighted user reads in it — the label, the status line
// and the problem marker.
QString rowAccessibleText(const Job& job, bool hasProblem);

// The search text trimmed of spaces and tabs at both ends (line breaks stay).
QString trimmedSearch(const QString& search);
// Whether the trimmed text occurs, ignoring case, in the label, the program, the file's path or the
// command line.
bool matchesSearch(const Job& job, const QString& trimmedText);

// The jobs kept by `keep`, then by the search, in the given order.
std::vector<Job> visibleJobs(const std::vector<Job>& jobs, const std::function<bool(const Job&)>& keep,
                             const QString& search);

}  // namespace qw
