#include "Quillwick/store/JobFilter.h"

namespace qw {

const std::vector<JobFilter>& JobFilter::locations() {
    static const std::vector<JobFilter> list = {
        directory(JobDirectory::userAgents),   directory(JobDirectory::globalAgents),
        directory(JobDirectory::globalDaemons), directory(JobDirectory::systemAgents),
        directory(JobDirectory::systemDaemons), JobFilter(Kind::runtimeOnly),
    };
    return list;
}

std::string JobFilter::id() const {
    switch (kind_) {
    case Kind::installed: return "installed";
    case Kind::all: return "all";
    case Kind::running: return "running";
    case Kind::failed: return "failed";
    case Kind::disabled: return "disabled";
    case Kind::notLoaded: return "notLoaded";
    case Kind::problems: return "problems";
    case Kind::scheduled: return "scheduled";
    case Kind::watching: return "watching";
    case Kind::onDemand: return "onDemand";
    case Kind::directory: return "directory." + std::string(folder_->rawValue());
    case Kind::cron: return "cron";
    case Kind::runtimeOnly: return "runtimeOnly";
    }
    return {};
}

std::string JobFilter::title() const {
    switch (kind_) {
    case Kind::installed: return "Installed";
    case Kind::all: return "All Jobs";
    case Kind::running: return "Running";
    case Kind::failed: return "Failed";
    case Kind::disabled: return "Disabled";
    case Kind::notLoaded: return "Not Loaded";
    case Kind::problems: return "Problems";
    case Kind::scheduled: return "Scheduled";
    case Kind::watching: return "Watching Folders";
    case Kind::onDemand: return "On Demand";
    case Kind::directory: return std::string(folder_->title());
    case Kind::cron: return "Cron Jobs";
    case Kind::runtimeOnly: return "Registered by Apps";
    }
    return {};
}

std::string JobFilter::systemImage() const {
    switch (kind_) {
    case Kind::installed: return "shippingbox";
    case Kind::all: return "square.grid.2x2";
    case Kind::running: return "play.circle";
    case Kind::failed: return "exclamationmark.triangle";
    case Kind::disabled: return "pause.circle";
    case Kind::notLoaded: return "circle.dashed";
    case Kind::problems: return "stethoscope";
    case Kind::scheduled: return "calendar.badge.clock";
    case Kind::watching: return "folder.badge.gearshape";
    case Kind::onDemand: return "bolt.horizontal";
    case Kind::directory: return folder_->isDaemon() ? "gearshape.2" : "person";
    case Kind::cron: return "clock.badge.questionmark";
    case Kind::runtimeOnly: return "app.badge";
    }
    return {};
}

std::string JobFilter::help() const {
    switch (kind_) {
    case Kind::installed:
        return "What somebody put on this Mac: everything except Apple's own jobs and the records launchd keeps for "
               "running apps. Apple's are still listed under System Agents and System Daemons.";
    case Kind::all:
        return "Every job on this Mac: the plists in the five launchd folders, plus everything launchd is running "
               "that has no file.";
    case Kind::running: return "Has a process right now.";
    case Kind::failed:
        return "Not running, and the last exit was a real failure — a non-zero code or a crash. Being killed while "
               "idle does not count; that is how launchd reaps on-demand jobs.";
    case Kind::disabled:
        return "launchd has a record saying not to load these. It is kept separately from the job's file and "
               "outlives it.";
    case Kind::notLoaded:
        return "There is a plist, but launchd has not been told about it, so nothing will start it.";
    case Kind::problems:
        return "Jobs Quillwick found something wrong with — a missing program, permissions launchd refuses, a crash "
               "loop, a job nothing can start.";
    case Kind::scheduled:
        return "Runs on a clock — a repeating interval or a calendar entry. These are the launchd equivalent of cron "
               "jobs, and unlike cron they catch up after the Mac has been asleep.";
    case Kind::watching: return "Runs when a watched file or folder changes, or while a queue folder is not empty.";
    case Kind::onDemand:
        return "Runs only when something asks for it — a socket connection, a Mach service lookup or a system event. "
               "This is why so many of Apple's jobs sit loaded and idle rather than being broken.";
    case Kind::directory: return std::string(folder_->blurb());
    case Kind::cron:
        return "The classic Unix scheduler. Still installed and still works, but it is a separate system from "
               "launchd — no labels, no domains, and its own ways of going wrong.";
    case Kind::runtimeOnly:
        return "Registered directly with the system by an app through SMAppService, so there is no plist to edit. "
               "macOS lists these in Login Items.";
    }
    return {};
}

bool JobFilter::matches(const Job& job) const {
    switch (kind_) {
    case Kind::installed: return job.isInstalled();
    case Kind::all: return true;
    case Kind::running: return job.isRunning();
    case Kind::failed: return job.health() == Job::Health::failed;
    case Kind::disabled: return job.isDisabled;
    case Kind::notLoaded: return !job.status;
    case Kind::problems: return false;
    case Kind::scheduled: return job.definition && job.definition->isScheduled();
    case Kind::watching: return job.definition && job.definition->isWatching();
    case Kind::onDemand: return job.definition && job.definition->hasOnDemandTriggers();
    case Kind::directory: return job.directory && *job.directory == *folder_;
    case Kind::cron: return false;
    case Kind::runtimeOnly: return !job.definition;
    }
    return false;
}

std::size_t JobFilter::hash() const {
    std::size_t seed = static_cast<std::size_t>(kind_);
    if (folder_) seed = seed * 31 + std::hash<std::string_view>()(folder_->rawValue());
    return seed;
}

}  // namespace qw
