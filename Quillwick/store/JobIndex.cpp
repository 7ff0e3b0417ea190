#include "Quillwick/store/JobIndex.h"

#include <algorithm>
#include <filesystem>
#include <unordered_map>

#include "Quillwick/launchd/Launchctl.h"
#include "Quillwick/store/RegularFile.h"
#include "helperkit/PlistFile.h"
#include "helperkit/Subprocess.h"
#include "helperkit/SystemPaths.h"
#include "helperkit/Text.h"

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

JobDefinition readDefinition(JobDirectory folder, const fs::path& url) {
    JobLocation location(folder, url);
    try {
        std::string bytes;
        try {
            bytes = RegularFile::readWhole(url, JobIndex::largestJobFile);
        } catch (const std::runtime_error& e) {
            throw PlistFile::ReadError(PlistFile::ReadError::Kind::unreadable, url, e.what());
        }
        return JobDefinition(PlistFile::fromData(bytes, url), std::move(location));
    } catch (const PlistFile::ReadError& e) {
        return JobDefinition(PlistFile(), std::move(location), std::string(e.what()));
    }
}

template <typename Call>
auto lenient(Call call) -> decltype(call()) {
    try {
        return call();
    } catch (const Subprocess::Failure&) {
        return {};
    }
}

// The services block of "launchctl print system": one "pid status label" row each, a pid of 0 meaning
// not running and a "-" status never exited.
std::vector<LaunchctlListEntry> systemServices() {
    const auto result = lenient([] {
        return std::optional(Subprocess::run(SystemPaths::current().launchctl().string(), {"print", "system"}));
    });
    if (!result || result->exitStatus != 0) return {};
    std::vector<LaunchctlListEntry> entries;
    std::string_view text = result->standardOutput;
    bool inside = false;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const auto trimmed = Text::trimmed(line, " \t\r");
        if (!inside) {
            inside = trimmed == "services = {";
            continue;
        }
        if (trimmed == "}") break;
        std::vector<std::string_view> fields;
        for (std::size_t i = 0; i < trimmed.size();) {
            const auto start = trimmed.find_first_not_of(" \t", i);
            if (start == std::string_view::npos) break;
            if (fields.size() == 2) {
                fields.push_back(trimmed.substr(start));
                break;
            }
            const auto stop = trimmed.find_first_of(" \t", start);
            fields.push_back(trimmed.substr(start, stop == std::string_view::npos ? stop : stop - start));
            i = stop == std::string_view::npos ? trimmed.size() : stop;
        }
        if (fields.size() != 3) continue;
        const auto rows = LaunchctlListEntry::parse(std::string(fields[0]) + "\t" + std::string(fields[1]) + "\t" +
                                                    std::string(fields[2]));
        if (rows.empty()) continue;
        LaunchctlListEntry entry = rows.front();
        if (entry.pid == 0) entry.pid.reset();
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
unsigned char folded(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

}  // namespace

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
            JobDefinition definition = readDefinition(folder, file);
            std::string label = definition.loadFailure ? file.stem().string() : definition.label();
            if (label.empty()) label = file.stem().string();
            byLabel.insert_or_assign(std::move(label), std::move(definition));
        }
        scan.definitions.emplace_back(folder, std::move(byLabel));
    }
    return scan;
}

JobIndex JobIndex::build() {
    DirectoryScan scan = scanDirectories();
    const Launchctl launchctl;

    std::unordered_map<std::string, LaunchctlListEntry> listed;
    for (auto& entry : lenient([&] { return launchctl.list(); })) listed.insert_or_assign(entry.label, std::move(entry));

    std::set<std::string> disabled;
    for (const LaunchdDomain& domain : {LaunchdDomain::currentGUI(), LaunchdDomain::system()}) {
        const auto overrides = lenient([&] { return launchctl.printDisabled(domain); });
        for (const auto& [label, isDisabled] : overrides.entries)
            if (isDisabled) disabled.insert(label);
    }

    // "list" run as a user shows only the gui domain: the daemons' status comes from the system domain.
    std::unordered_map<std::string, LaunchctlListEntry> systemListed;
    const bool anyDaemonFiles = std::any_of(scan.definitions.begin(), scan.definitions.end(), [](const auto& entry) {
        return entry.first.isDaemon() && !entry.second.empty();
    });
    if (anyDaemonFiles)
        for (auto& entry : systemServices()) systemListed.insert_or_assign(entry.label, std::move(entry));

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

}  // namespace qw
