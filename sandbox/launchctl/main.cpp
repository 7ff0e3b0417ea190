// The stand-in launchctl: a tiny launchd that keeps its state under $QUILLWICK_ROOT and really runs
// the jobs it is given. It refuses to run without a sandbox root (QUILLWICK_ROOT, or the root whose
// bin/launchctl link it was run through): it must never touch the real machine.
#include <sys/stat.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "helperkit/SystemPaths.h"
#include "LaunchctlFailure.h"
#include "LinkedRoot.h"
#include "Launchd.h"
#include "Supervisor.h"

int main(int argc, char** argv)
{
    qw::adoptLinkedRoot(argv[0], "/bin/launchctl");
    const char* rootVariable = std::getenv("QUILLWICK_ROOT");
    if (!rootVariable || !*rootVariable || rootVariable[0] != '/') {
        std::cerr << "launchctl: QUILLWICK_ROOT is not set to an absolute folder, and this is no machine root's "
                     "bin/launchctl. This stand-in launchd runs only inside a sandbox machine root and never "
                     "touches the real machine.\n";
        return 64;
    }
    const qw::SystemPaths& paths = qw::SystemPaths::current();
    struct stat info {};
    if (!paths.isSandboxed() || ::stat(paths.root().c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        std::cerr << "launchctl: the sandbox root " << rootVariable << " is not a folder.\n";
        return 64;
    }

    std::vector<std::string> arguments(argv + 1, argv + argc);
    qw::Launchd launchd(paths.root());
    try {
        if (!arguments.empty() && arguments.front() == qw::Supervisor::modeArgument)
            return launchd.supervise({arguments.begin() + 1, arguments.end()});
        const int status = launchd.run(arguments, std::cout);
        std::cout.flush();
        return status;
    } catch (const qw::LaunchctlFailure& failure) {
        std::cout.flush();
        std::cerr << failure.what() << "\n";
        return failure.status();
    } catch (const std::exception& error) {
        std::cerr << "launchctl: " << error.what() << "\n";
        return 1;
    }
}
