#include "helperkit/SystemPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace qw {

namespace fs = std::filesystem;

namespace {

std::optional<passwd> passwdEntry(uid_t uid, std::vector<char>& buffer) {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    buffer.resize(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    while (true) {
        const int rc = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || result == nullptr) return std::nullopt;
        return entry;
    }
}

SystemPaths fromEnvironment() {
#ifdef QUILLWICK_SANDBOX
    if (const char* value = std::getenv("QUILLWICK_ROOT"); value != nullptr && *value != '\0') {
        // A relative root would move with the working folder; pin it once.
        fs::path root = fs::absolute(fs::path(value)).lexically_normal();
        if (root.has_relative_path() && !root.has_filename()) root = root.parent_path();
        if (root != "/") return SystemPaths::forRoot(root);
    }
#endif
    std::vector<char> buffer;
    if (auto entry = passwdEntry(geteuid(), buffer); entry && entry->pw_dir && *entry->pw_dir)
        return SystemPaths("/", entry->pw_dir);
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') return SystemPaths("/", home);
    return SystemPaths("/", "/");
}

std::atomic<const SystemPaths*> overridden{nullptr};

}  // namespace

SystemPaths::SystemPaths(fs::path root, fs::path home) : root_(std::move(root)), home_(std::move(home)) {}

const SystemPaths& SystemPaths::current() {
    if (const SystemPaths* paths = overridden.load(std::memory_order_acquire)) return *paths;
    static const SystemPaths process = fromEnvironment();
    return process;
}

SystemPaths SystemPaths::forRoot(const fs::path& root) {
    return SystemPaths(root, root / "Users" / loginName());
}

fs::path SystemPaths::resolve(std::string_view macPath) const {
    fs::path path(macPath);
    if (!path.is_absolute()) throw std::invalid_argument("SystemPaths::resolve needs an absolute path");
    if (!isSandboxed()) return path;
    return root_ / path.relative_path();
}

std::string SystemPaths::machinePath(std::string_view namedPath) const {
    const fs::path named(namedPath);
    if (!named.is_absolute()) return std::string(namedPath);
    // Normal first: "..", kept, could climb out of the root.
    std::string normal = named.lexically_normal().string();
    if (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    const std::string root = root_.string();
    if (!isSandboxed() || normal == root || normal.starts_with(root + "/") || normal == "/dev" || normal.starts_with("/dev/"))
        return normal;
    return resolve(normal).string();
}

fs::path SystemPaths::userLaunchAgents() const { return home_ / "Library" / "LaunchAgents"; }
fs::path SystemPaths::applicationSupport() const { return home_ / "Library" / "Application Support"; }
fs::path SystemPaths::userLogs() const { return home_ / "Library" / "Logs"; }

std::optional<fs::path> SystemPaths::bundleContaining(const fs::path& executable) {
    const fs::path macos = executable.lexically_normal().parent_path();
    const fs::path contents = macos.parent_path();
    const fs::path bundle = contents.parent_path();
    if (macos.filename() != "MacOS" || contents.filename() != "Contents" || !bundle.has_filename())
        return std::nullopt;
    return bundle;
}

std::optional<fs::path> SystemPaths::applicationBundle() {
    std::error_code ec;
    const fs::path executable = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return std::nullopt;
    return bundleContaining(executable);
}

std::string SystemPaths::loginName() {
    std::vector<char> buffer;
    if (auto entry = passwdEntry(geteuid(), buffer); entry && entry->pw_name && *entry->pw_name) return entry->pw_name;
    return "root";
}

SystemPaths::Override::Override(SystemPaths paths)
    : previous_(overridden.load(std::memory_order_acquire)), installed_(new SystemPaths(std::move(paths))) {
    if (const char* value = std::getenv("QUILLWICK_ROOT")) previousEnv_ = value;
    if (installed_->isSandboxed())
        ::setenv("QUILLWICK_ROOT", installed_->root().c_str(), 1);
    else
        ::unsetenv("QUILLWICK_ROOT");
    overridden.store(installed_, std::memory_order_release);
}

SystemPaths::Override::~Override() {
    overridden.store(previous_, std::memory_order_release);
    if (previousEnv_)
        ::setenv("QUILLWICK_ROOT", previousEnv_->c_str(), 1);
    else
        ::unsetenv("QUILLWICK_ROOT");
    delete installed_;
}

}  // namespace qw
