#include "Quillwick/store/JobIndex.h"

#include <algorithm>
#include <filesystem>
#include <future>
#include <unordered_map>

#include "Quillwick/launchd/Launchctl.h"
#include "Quillwick/store/RegularFile.h"
#include "helperkit/PlistFile.h"
#include "helperkit/Subprocess.h"

namespace qw {
namespace fs = std::filesystem;

namespace {

// Names of the folder's visible "*.plist" entries in name order; nothing when it cannot be listed.
std::optional<std::vector<fs::path>> listJobFiles(const fs::path& folder) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return std::nullopt;
    std::vector<fs::path> files;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) return std::nullopt;
        const fs::path& path = it->path();
        const std::string name = path.filename().string();
        if (name.starts_with('.') || path.extension() != ".plist") continue;
        files.push_back(path);
    }
    if (ec) return std::nullopt;
    std::sort(files.begin(), files.end());
    return files;
}

template <typename Call>
auto lenient(Call call) -> decltype(call()) {
    try {
        return call();
    } catch (const Subprocess::Failure&) {
        return {};
    }
}

bool samePath(const fs::path& a, const fs::path& b) {
    if (a.lexically_normal() == b.lexically_normal()) return true;
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

// Of several files declaring one loaded label in one domain, only the one launchd loaded keeps the
// status; when launchd does not say which (or names none of them), all keep it.
void keepStatusWithLoadedFile(std::vector<Job>& jobs, const std::string& label, const Launchctl& launchctl) {
    std::map<std::string, std::vector<Job*>> byDomain;
    for (Job& job : jobs)
        if (job.label == label && job.status && job.definition && job.definition->location)
            byDomain[job.domain().description()].push_back(&job);
    for (auto& [domain, group] : byDomain) {
        if (group.size() < 2) continue;
        std::optional<RuntimeState> state;
        try {
            state = launchctl.print(group.front()->serviceTarget());
        } catch (const Subprocess::Failure&) {
        }
        if (!state || !state->path) continue;
        const auto loaded = std::find_if(group.begin(), group.end(), [&](const Job* job) {
            return samePath(job->definition->location->url, *state->path);
        });
        if (loaded == group.end()) continue;
        for (Job* job : group)
            if (job != *loaded) job->status.reset();
    }
}

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
unsigned char folded(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

}  // namespace

JobDefinition JobIndex::readDefinition(const JobLocation& location) {
    std::string bytes;
    try {
        bytes = RegularFile::readWhole(location.url, largestJobFile);
    } catch (const std::runtime_error& e) {
        const PlistFile::ReadError error(PlistFile::ReadError::Kind::unreadable, location.url, e.what());
        return JobDefinition(PlistFile(), location, std::string(error.what()));
    }
    return definitionFrom(location, bytes);
}

JobDefinition JobIndex::definitionFrom(const JobLocation& location, std::string_view bytes) {
    try {
        return JobDefinition(PlistFile::fromData(bytes, location.url), location);
    } catch (const PlistFile::ReadError& e) {
        return JobDefinition(PlistFile(), location, std::string(e.what()));
    }
}

int JobIndex::compareLabels(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[j]);
        if (isDigit(ca) && isDigit(cb)) {
            const std::size_t si = i, sj = j;
            while (i < a.size() && isDigit(static_cast<unsigned char>(a[i]))) ++i;
            while (j < b.size() && isDigit(static_cast<unsigned char>(b[j]))) ++j;
            auto da = a.substr(si, i - si), db = b.substr(sj, j - sj);
            da.remove_prefix(std::min(da.find_first_not_of('0'), da.size()));
            db.remove_prefix(std::min(db.find_first_not_of('0'), db.size()));
            if (da.size() != db.size()) return da.size() < db.size() ? -1 : 1;
            if (const int c = da.compare(db)) return c < 0 ? -1 : 1;
            continue;
        }
        if (folded(ca) != folded(cb)) return folded(ca) < folded(cb) ? -1 : 1;
        ++i;
        ++j;
    }
    const std::size_t ra = a.size() - i, rb = b.size() - j;
    return ra == rb ? 0 : (ra < rb ? -1 : 1);
}

JobIndex::DirectoryScan JobIndex::scanDirectories() {
    DirectoryScan scan;
    for (const JobDirectory folder : JobDirectory::all()) {
        const fs::path url = folder.url();
        const auto files = listJobFiles(url);
        if (!files) {
            std::error_code ec;
            if (fs::symlink_status(url, ec).type() != fs::file_type::not_found && !ec) scan.unreadable.push_back(folder);
            continue;
        }
        std::map<std::string, JobDefinition> byLabel;
        for (const fs::path& file : *files) {
            JobDefinition definition = readDefinition(JobLocation(folder, file));
            std::string label = definition.loadFailure ? file.stem().string() : definition.label();
            if (label.empty()) label = file.stem().string();
            byLabel.insert_or_assign(std::move(label), std::move(definition));
        }
        scan.definitions.emplace_back(folder, std::move(byLabel));
    }
    return scan;
}

JobIndex JobIndex::build() {
    // The four launchctl runs wait on child processes, not on us: they go while the folders are read.
    const Launchctl launchctl;
    auto listing = std::async(std::launch::async, [&] { return lenient([&] { return launchctl.list(); }); });
    auto guiDisabled = std::async(std::launch::async, [&] {
        return lenient([&] { return launchctl.printDisabled(LaunchdDomain::currentGUI()); });
    });
    auto systemDisabled = std::async(std::launch::async, [&] {
        return lenient([&] { return launchctl.printDisabled(LaunchdDomain::system()); });
    });
    // "list" run as a user shows only the gui domain: the daemons' status comes from the system domain.
    auto systemServices = std::async(std::launch::async, [&] {
        return lenient([&] { return launchctl.printDomainServices(LaunchdDomain::system()); });
    });
    DirectoryScan scan = scanDirectories();

    std::unordered_map<std::string, LaunchctlListEntry> listed;
    for (auto& entry : listing.get()) listed.insert_or_assign(entry.label, std::move(entry));
    std::set<std::string> disabled;
    for (const DisabledOverrides& overrides : {guiDisabled.get(), systemDisabled.get()})
        for (const auto& [label, isDisabled] : overrides.entries)
            if (isDisabled) disabled.insert(label);
    std::unordered_map<std::string, LaunchctlListEntry> systemListed;
    for (auto& entry : systemServices.get()) systemListed.insert_or_assign(entry.label, std::move(entry));

    JobIndex index;
    std::unordered_map<std::string, int> folderCounts;
    for (auto& [folder, byLabel] : scan.definitions) {
        const auto& statuses = folder.isDaemon() ? systemListed : listed;
        for (auto& [label, definition] : byLabel) {
            std::optional<LaunchctlListEntry> status;
            if (const auto found = statuses.find(label); found != statuses.end()) status = found->second;
            index.jobs.push_back(Job{label, std::move(definition), std::move(status), disabled.contains(label), folder});
            ++folderCounts[label];
        }
    }
    for (const auto& [label, count] : folderCounts)
        if (count > 1) keepStatusWithLoadedFile(index.jobs, label, launchctl);
    std::vector<const LaunchctlListEntry*> runtimeOnly;
    for (const auto& [label, entry] : listed)
        if (!folderCounts.contains(label)) runtimeOnly.push_back(&entry);
    // The map's order is not stable between runs; labels compare equal only when they differ in case.
    std::sort(runtimeOnly.begin(), runtimeOnly.end(), [](auto* a, auto* b) { return a->label < b->label; });
    for (const LaunchctlListEntry* entry : runtimeOnly)
        index.jobs.push_back(Job{entry->label, std::nullopt, *entry, disabled.contains(entry->label), std::nullopt});

    std::stable_sort(index.jobs.begin(), index.jobs.end(),
                     [](const Job& a, const Job& b) { return compareLabels(a.label, b.label) < 0; });

    for (const auto& [label, count] : folderCounts)
        if (count > 1) index.duplicatedLabels.insert(label);
    index.unreadableDirectories = std::move(scan.unreadable);
    return index;
}

std::vector<std::string> JobIndex::otherFiles(const std::vector<Job>& jobs, const Job& job) {
    const JobDefinition* own = job.definition ? &*job.definition : nullptr;
    std::vector<std::string> paths;
    for (const Job& other : jobs) {
        if (other.label != job.label || !other.definition || !other.definition->location) continue;
        const fs::path& url = other.definition->location->url;
        if (own && own->location && own->location->url == url) continue;
        paths.push_back(url.string());
    }
    return paths;
}

}  // namespace qw
