// SystemPaths: the one answer to "where is X on this Mac". In a sandbox build (QUILLWICK_SANDBOX) the
// environment variable QUILLWICK_ROOT, read once per process, is the machine's root: every absolute
// macOS path resolves under it and the user's home folder is $QUILLWICK_ROOT/Users/<login name>.
// Without it the root is "/" and the home folder is the passwd home of the effective uid. A build
// without QUILLWICK_SANDBOX ignores the variable, so a root process can never be steered by it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qw {

class SystemPaths {
public:
    SystemPaths(std::filesystem::path root, std::filesystem::path home);

    // The process's paths. Built on first use from the environment.
    static const SystemPaths& current();

    // Replaces current() for the lifetime of the object, and sets QUILLWICK_ROOT for child processes
    // (tests only: each test gets a machine of its own). Not thread-safe; nest at most in LIFO order.
    class Override {
    public:
        explicit Override(SystemPaths paths);
        ~Override();
        Override(const Override&) = delete;
        Override& operator=(const Override&) = delete;

    private:
        const SystemPaths* previous_;
        std::optional<std::string> previousEnv_;
        SystemPaths* installed_;
    };

    // Sandbox paths for a root folder: home = root/Users/<login name of the effective uid>.
    static SystemPaths forRoot(const std::filesystem::path& root);

    const std::filesystem::path& root() const { return root_; }
    bool isSandboxed() const { return root_ != "/"; }
    // "/Library/LaunchDaemons" → <root>/Library/LaunchDaemons. `macPath` must be absolute.
    std::filesystem::path resolve(std::string_view macPath) const;
    // A path a job names (an output file, a working or watched folder), as this machine holds it: made
    // normal ("//Users/a/../b/" is "/Users/b"), then placed under the root unless it already lies inside
    // it. Devices stay the host's, a root having none; a relative path is returned as it stands.
    std::string machinePath(std::string_view namedPath) const;

    const std::filesystem::path& home() const { return home_; }
    std::filesystem::path userLaunchAgents() const;     // ~/Library/LaunchAgents
    std::filesystem::path applicationSupport() const;   // ~/Library/Application Support
    std::filesystem::path userLogs() const;             // ~/Library/Logs

    std::filesystem::path launchctl() const { return resolve("/bin/launchctl"); }
    std::filesystem::path logTool() const { return resolve("/usr/bin/log"); }
    std::filesystem::path osascript() const { return resolve("/usr/bin/osascript"); }
    std::filesystem::path crontab() const { return resolve("/usr/bin/crontab"); }
    std::filesystem::path libraryLogs() const { return resolve("/Library/Logs"); }
    std::filesystem::path helperSocket() const { return resolve("/var/run/com.tarnmoor.quillwick.helper.sock"); }

    // The application bundle the running program lies in (<bundle>/Contents/MacOS/<program>), found from
    // the executable's own path, never under the root; nothing when it runs from anywhere else.
    static std::optional<std::filesystem::path> applicationBundle();
    static std::optional<std::filesystem::path> bundleContaining(const std::filesystem::path& executable);

    // The login name of the effective uid ("root" when passwd has no entry for it).
    static std::string loginName();

private:
    std::filesystem::path root_;
    std::filesystem::path home_;
};

}  // namespace qw
