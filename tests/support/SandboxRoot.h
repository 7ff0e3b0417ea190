// Test support: a temporary folder, and a sandbox machine root of the test's own, laid by
// sandbox/make-root with the stand-in tools linked in. While a SandboxRoot lives, SystemPaths::current()
// and QUILLWICK_ROOT point at it; when it goes, every process its stand-in launchd started is stopped
// and the folder is removed.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "helperkit/Subprocess.h"
#include "helperkit/SystemPaths.h"

namespace qw::test {

// A whole file as bytes; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);

class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

class SandboxRoot {
public:
    struct Options {
        bool demo = false;  // fill it with the demo machine
    };
    SandboxRoot();
    explicit SandboxRoot(Options options);
    ~SandboxRoot();
    SandboxRoot(const SandboxRoot&) = delete;
    SandboxRoot& operator=(const SandboxRoot&) = delete;

    const std::filesystem::path& path() const { return folder_.path(); }
    const SystemPaths& paths() const { return paths_; }
    std::filesystem::path resolve(std::string_view macPath) const { return paths_.resolve(macPath); }

    // Runs the root's own stand-in launchctl.
    Subprocess::Result launchctl(const std::vector<std::string>& arguments) const;
    // Writes a file (creating its folders) at a macOS path under the root; returns the real path.
    std::filesystem::path writeFile(std::string_view macPath, std::string_view contents, unsigned mode = 0644) const;
    // Stops every process the root's stand-in launchd supervises (also done on destruction).
    void haltLaunchd() const;

    // Where the built stand-in programs are, and the make-root script.
    static std::filesystem::path toolsDirectory();
    static std::filesystem::path makeRootScript();

private:
    TemporaryFolder folder_;
    SystemPaths paths_;
    std::optional<SystemPaths::Override> override_;
};

}  // namespace qw::test
