#include "Quillwick/launchd/FileFacts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "helperkit/PeerRequirement.h"
#include "helperkit/SystemPaths.h"

namespace qw::Diagnostics {

namespace {

void combine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

// The path with its last component removed, as a folder: "/tmp/a/out.log" → "/tmp/a", "/out" → "/".
std::string parentFolder(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    path = path.substr(0, slash);
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return path.empty() ? std::string("/") : std::string(path);
}

// Something execve could be handed: a file, not a folder, and whether anyone may run it.
std::optional<bool> runnableFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return std::nullopt;
    return (info.st_mode & 0111) != 0;
}

}  // namespace

std::vector<std::string> pathFolders(std::string_view path) {
    std::vector<std::string> folders;
    while (!path.empty()) {
        const auto colon = path.find(':');
        if (const auto folder = path.substr(0, colon); !folder.empty()) folders.emplace_back(folder);
        if (colon == std::string_view::npos) break;
        path.remove_prefix(colon + 1);
    }
    return folders;
}

std::string programFile(const std::string& path) {
    const std::string onMachine = SystemPaths::current().machinePath(path);
    struct stat info {};
    if (onMachine == path || ::stat(onMachine.c_str(), &info) == 0 || ::stat(path.c_str(), &info) != 0) return onMachine;
    return path;
}

std::optional<FoundProgram> searchPath(std::string_view name, const std::vector<std::string>& folders) {
    std::optional<FoundProgram> found;
    for (const auto& folder : folders) {
        if (!folder.starts_with('/')) continue;
        const std::string candidate = programFile((std::filesystem::path(folder) / std::string(name)).string());
        const auto runnable = runnableFile(candidate);
        if (!runnable) continue;
        if (*runnable) return FoundProgram{candidate, true};
        if (!found) found = FoundProgram{candidate, false};
    }
    return found;
}

std::optional<ProgramSearch> programSearch(const JobDefinition& definition) {
    if (definition.program()) return std::nullopt;
    const auto arguments = definition.programArguments();
    if (arguments.empty() || arguments.front().empty() || arguments.front().find('/') != std::string::npos)
        return std::nullopt;
    ProgramSearch search{arguments.front(), {}, false};
    std::string_view path = launchdPath;
    const auto environment = definition.environmentVariables();
    if (const auto own = environment.find("PATH"); own != environment.end()) {
        path = own->second;
        search.jobsOwnPath = true;
    }
    search.folders = pathFolders(path);
    return search;
}

FileFacts::FileFacts(const Job& job) {
    inspectPlistFile(job);
    inspectExecutable(job);
    inspectPaths(job);
}

void FileFacts::inspectPlistFile(const Job& job) {
    if (!job.definition || !job.definition->location) return;
    const std::string path = job.definition->location->url.string();
    struct stat info {};
    const bool found = ::stat(path.c_str(), &info) == 0;
    plistExists = found;
    plistIsReadable = found && ::access(path.c_str(), R_OK) == 0;
    if (!found) return;
    plistIsLooselyPermissioned = (info.st_mode & 022) != 0;
    const JobDirectory folder = job.directory.value_or(job.definition->location->directory);
    // In a sandbox its root's owner stands in for root, as its launchd takes them to.
    if (folder != JobDirectory::userAgents) plistIsWronglyOwned = !HelperSocket::isSystemOwner(info.st_uid);
}

void FileFacts::inspectExecutable(const Job& job) {
    if (!job.definition) return;
    const auto path = job.definition->executablePath();
    if (!path) return;
    if (const auto search = programSearch(*job.definition)) {
        // Finding nothing leaves only the relative-path warning.
        executableExists = true;
        const auto found = searchPath(search->name, search->folders);
        executableIsExecutable = !found || found->runnable;
        if (found) executableOnPath = found->path;
        return;
    }
    // A relative program cannot be checked from here; the checks warn about it on their own.
    if (!path->starts_with('/')) {
        executableExists = true;
        executableIsExecutable = true;
        return;
    }
    struct stat info {};
    executableExists = ::stat(programFile(*path).c_str(), &info) == 0;
    executableIsExecutable = executableExists && (info.st_mode & 0111) != 0;
}

void FileFacts::inspectPaths(const Job& job) {
    if (!job.definition) return;
    const SystemPaths& machine = SystemPaths::current();
    auto note = [](std::vector<std::string>& list, std::string path) {
        if (std::find(list.begin(), list.end(), path) == list.end()) list.push_back(std::move(path));
    };
    for (const char* key : {"StandardOutPath", "StandardErrorPath"}) {
        const auto* value = job.definition->find(key);
        const std::string* path = value ? value->stringPointer() : nullptr;
        // A relative output path has no folder we could name or create.
        if (!path || !path->starts_with('/')) continue;
        const std::string file = machine.machinePath(*path);
        if (file == "/dev/null" || file == "/dev/console") continue;
        const auto folder = parentFolder(file);
        struct stat info {};
        if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) note(missingLogDirectories, folder);
    }
    for (const auto& path : job.definition->watchPaths()) {
        const std::string onMachine = machine.machinePath(path);
        struct stat info {};
        if (::stat(onMachine.c_str(), &info) != 0) note(missingWatchPaths, onMachine);
    }
}

std::size_t FileFacts::hash() const {
    std::size_t seed = 0;
    for (bool b : {plistExists, plistIsReadable, plistIsLooselyPermissioned, plistIsWronglyOwned, executableExists,
                   executableIsExecutable})
        combine(seed, b);
    for (const auto* list : {&missingLogDirectories, &missingWatchPaths}) {
        combine(seed, list->size());
        for (const auto& s : *list) combine(seed, std::hash<std::string>()(s));
    }
    combine(seed, executableOnPath ? std::hash<std::string>()(*executableOnPath) * 2 + 1 : 0);
    return seed;
}

}  // namespace qw::Diagnostics
