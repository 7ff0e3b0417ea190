// Diagnostics::FileFacts: what the job checks need to know about the file system, gathered before the
// checks run so that the checks themselves touch nothing. Modes and owners are read through symbolic
// links: what counts is the file launchd ends up reading.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Quillwick/launchd/Job.h"

namespace qw::Diagnostics {

// How launchd finds a program named by a first argument without a "/" when there is no Program: it
// searches the folders of the job's own PATH, or else of the PATH it gives every job.
struct ProgramSearch {
    std::string name;
    std::vector<std::string> folders;  // as written, empty entries left out
    bool jobsOwnPath = false;          // EnvironmentVariables sets PATH
};
// Nothing when launchd starts the program without a search.
std::optional<ProgramSearch> programSearch(const JobDefinition& definition);

// The PATH launchd gives a job that sets none.
inline constexpr std::string_view launchdPath = "/usr/bin:/bin:/usr/sbin:/sbin";
// A PATH value's folders in order, empty entries left out.
std::vector<std::string> pathFolders(std::string_view path);

// Where a program named by an absolute path is run from. In a sandbox the stand-ins run programs on the
// host, the machine's own files being under its root: the root's file when it has one, else the host's
// when it has one, else the root's (to name in messages). A path already under the root stays as it is.
std::string programFile(const std::string& path);

// A PATH search as execvp and sh make it, each candidate placed by programFile: the first file of that
// name that anyone may run, else the first one found (which then cannot be run); nothing when no folder
// has one. Folders that are not absolute are passed over, being relative to a folder we cannot know.
struct FoundProgram {
    std::string path;
    bool runnable = false;
};
std::optional<FoundProgram> searchPath(std::string_view name, const std::vector<std::string>& folders);

struct FileFacts {
    bool plistExists = false;
    bool plistIsReadable = false;
    bool plistIsLooselyPermissioned = false;  // group or others may write it
    bool plistIsWronglyOwned = false;         // not owned by root where it has to be
    bool executableExists = false;
    bool executableIsExecutable = false;
    std::vector<std::string> missingLogDirectories;  // each folder once
    std::vector<std::string> missingWatchPaths;
    // The file launchd's PATH search finds for a first argument without a "/" (there is no Program);
    // the two executable facts are about it. Nothing when no search is made or it finds nothing.
    std::optional<std::string> executableOnPath;

    FileFacts() = default;  // nothing known: every flag false, both lists empty
    // Looks at the disk: the job file, then the program, then the output folders and watched paths.
    explicit FileFacts(const Job& job);

    std::size_t hash() const;
    bool operator==(const FileFacts&) const = default;

private:
    void inspectPlistFile(const Job& job);
    void inspectExecutable(const Job& job);
    void inspectPaths(const Job& job);
};

}  // namespace qw::Diagnostics

template <>
struct std::hash<qw::Diagnostics::FileFacts> {
    std::size_t operator()(const qw::Diagnostics::FileFacts& f) const noexcept { return f.hash(); }
};
