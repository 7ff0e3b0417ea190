#include "helperkit/Logger.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <set>

#include <fmt/format.h>

#include "helperkit/Utf8.h"

namespace qw {

namespace {

int priority(Logger::Level level) {
    switch (level) {
    case Logger::Level::debug: return LOG_DEBUG;
    case Logger::Level::info: return LOG_INFO;
    case Logger::Level::notice: return LOG_NOTICE;
    case Logger::Level::error: return LOG_ERR;
    case Logger::Level::fault: break;
    }
    return LOG_CRIT;
}

[[maybe_unused]] const char* levelName(Logger::Level level) {
    switch (level) {
    case Logger::Level::debug: return "debug";
    case Logger::Level::info: return "info";
    case Logger::Level::notice: return "notice";
    case Logger::Level::error: return "error";
    case Logger::Level::fault: break;
    }
    return "fault";
}

// One message stays one line: a label or command output with line breaks cannot forge further lines.
std::string oneLine(std::string_view message) {
    std::string text = Utf8::sanitized(message);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\0')
            out += "\\0";
        else
            out += c;
    }
    return out;
}

[[maybe_unused]] std::string isoNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    return fmt::format("{}.{:03}Z", text, millis);
}

// openlog keeps the ident pointer and is process-wide, so idents live for the process and every
// message is sent under one lock with its own subsystem's ident.
std::mutex syslogLock;
std::set<std::string> idents;
const std::string* openIdent = nullptr;

}  // namespace

Logger::Logger(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

void Logger::log(Level level, std::string_view message) const {
    const std::string text = oneLine(message);
    {
        std::lock_guard lock(syslogLock);
        const std::string& ident = *idents.insert(subsystem_).first;
        if (openIdent != &ident) {
            ::openlog(ident.c_str(), LOG_PID, LOG_USER);
            openIdent = &ident;
        }
        ::syslog(priority(level), "[%s] %s", category_.c_str(), text.c_str());
    }
#ifdef QUILLWICK_SANDBOX
    const char* file = std::getenv("QUILLWICK_LOG_FILE");
    if (file == nullptr || *file == '\0') return;
    // One write per line on an O_APPEND descriptor: concurrent processes never interleave within a line.
    const std::string line =
        fmt::format("{} {} [{}] {}: {}\n", isoNow(), subsystem_, category_, levelName(level), text);
    const int fd = ::open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    ssize_t ignored = ::write(fd, line.data(), line.size());
    (void)ignored;
    ::close(fd);
#endif
}

}  // namespace qw
