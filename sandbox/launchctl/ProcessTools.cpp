#include "ProcessTools.h"

#include <signal.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <thread>

namespace qw {

bool ProcessTools::isAlive(pid_t pid)
{
    if (pid <= 0)
        return false;
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text))
        return false;
    // The state follows the parenthesised command name, which may itself hold spaces or parentheses.
    const auto close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size())
        return true;
    const char state = text[close + 2];
    return state != 'Z' && state != 'X';
}

bool ProcessTools::belongsToRoot(pid_t pid, const std::filesystem::path& root)
{
    std::ifstream environ("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    const std::string prefix = "QUILLWICK_ROOT=";
    std::error_code error;
    const auto wanted = std::filesystem::weakly_canonical(root, error);
    for (std::string entry; std::getline(environ, entry, '\0');) {
        if (entry.rfind(prefix, 0) != 0)
            continue;
        std::error_code ignored;
        return std::filesystem::weakly_canonical(entry.substr(prefix.size()), ignored) == wanted;
    }
    return false;
}

bool ProcessTools::waitUntilGone(pid_t pid, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (isAlive(pid)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void ProcessTools::stop(pid_t pid, std::chrono::milliseconds grace)
{
    if (!isAlive(pid))
        return;
    ::kill(pid, SIGTERM);
    if (waitUntilGone(pid, grace))
        return;
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    waitUntilGone(pid, std::chrono::seconds(1));
}

}  // namespace qw
