#include "LaunchdLog.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <ctime>

#include <fmt/format.h>

namespace qw {

LaunchdLog::LaunchdLog(std::filesystem::path file) : file_(std::move(file)) {}

std::string LaunchdLog::line(std::string_view target, std::optional<int> pid, std::string_view text)
{
    timeval now{};
    ::gettimeofday(&now, nullptr);
    std::tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char date[32];
    char zone[8];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local);
    std::string body(text);
    for (char& c : body)
        if (c == '\n' || c == '\r')
            c = ' ';
    const std::string prefix = pid ? fmt::format("[{} [{}]:]", target, *pid) : fmt::format("[{}:]", target);
    return fmt::format("{}.{:06d}{} launchd[1]: {} {}", date, static_cast<long>(now.tv_usec), zone, prefix, body);
}

void LaunchdLog::service(std::string_view target, std::optional<int> pid, std::string_view text) const
{
    std::error_code ignored;
    std::filesystem::create_directories(file_.parent_path(), ignored);
    const std::string entry = line(target, pid, text) + "\n";
    // O_APPEND and one write per line: concurrent writers never interleave within a line.
    const int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;  // a log that cannot be written must not fail the verb
    [[maybe_unused]] const auto written = ::write(fd, entry.data(), entry.size());
    ::close(fd);
}

}  // namespace qw
