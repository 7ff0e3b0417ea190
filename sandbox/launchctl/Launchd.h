// Launchd: the stand-in launchctl's verbs over one sandbox root — list, print, print-disabled,
// bootstrap, bootout, enable, disable, kickstart, kill, error — and sandbox-halt, which stops every
// process the root's launchd supervises (tests call it when their root goes away).
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "helperkit/LaunchdDomain.h"
#include "LaunchdLog.h"
#include "StateStore.h"
#include "Supervisor.h"

namespace qw {

class Launchd {
public:
    // `root` is the machine root; state and log live under it.
    explicit Launchd(std::filesystem::path root);

    // Runs one command line (without the program name); failures throw LaunchctlFailure.
    int run(const std::vector<std::string>& arguments, std::ostream& out);

    // The hidden supervisor mode.
    int supervise(const std::vector<std::string>& arguments) const { return supervisor_.run(arguments); }

    static std::string usage();

private:
    int list(const std::vector<std::string>& arguments, std::ostream& out);
    int print(const std::vector<std::string>& arguments, std::ostream& out);
    int printDisabled(const std::vector<std::string>& arguments, std::ostream& out);
    int bootstrap(const std::vector<std::string>& arguments);
    int bootout(const std::vector<std::string>& arguments);
    int setDisabled(const std::vector<std::string>& arguments, bool disabled);
    int kickstart(const std::vector<std::string>& arguments);
    int kill(const std::vector<std::string>& arguments);
    int error(const std::vector<std::string>& arguments, std::ostream& out);
    int halt();

    // Anyone may read launchd's state, as on a Mac; only root, or the root's owner who stands in for
    // it, may change it. Throws LaunchctlFailure(EPERM) with `failure` and launchd's words otherwise.
    void requireChangeRight(const std::string& failure) const;

    // launchd runs a system job only from a file that nobody but root (here also the root's owner,
    // who stands in for it) could have written.
    bool rootMayTrust(const struct stat& file) const;
    void bootstrapOne(const LaunchdDomain& domain, const std::filesystem::path& path);
    void bootoutLabel(const LaunchdDomain& domain, const std::string& label);

    std::filesystem::path root_;
    StateStore store_;
    LaunchdLog log_;
    Supervisor supervisor_;
};

}  // namespace qw
