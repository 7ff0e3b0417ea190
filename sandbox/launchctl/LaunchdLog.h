// LaunchdLog: the stand-in launchd's own log, private/var/log/launchd.log, which the stand-in `log`
// reads. One event per line, appended with a single write:
//
//   <local time "YYYY-MM-DD HH:MM:SS.uuuuuu+hhmm"> launchd[1]: [<domain>/<label> [<pid>]:] <text>
//   <local time "YYYY-MM-DD HH:MM:SS.uuuuuu+hhmm"> launchd[1]: [<domain>/<label>:] <text>
//
// e.g. "2026-12-09 05:40:01.123456+0000 launchd[1]: [gui/0/com.example.job [1234]:] exited with exit
// code: 78". The bracketed prefix names the service (with the pid when there is a process); the text
// never holds a line feed.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qw {

class LaunchdLog {
public:
    explicit LaunchdLog(std::filesystem::path file);

    void service(std::string_view target, std::optional<int> pid, std::string_view text) const;

    // The line as written, without the line feed.
    static std::string line(std::string_view target, std::optional<int> pid, std::string_view text);

private:
    std::filesystem::path file_;
};

}  // namespace qw
