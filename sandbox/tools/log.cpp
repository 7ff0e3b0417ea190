// The stand-in `log`: answers the one query the application makes of the unified log, from the stand-in
// launchd's own log file (one line per event: "YYYY-MM-DD HH:MM:SS[.ffffff][±ZZZZ] launchd[1]: <text>").
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "LinkedRoot.h"
#include "helperkit/SystemPaths.h"

namespace {

constexpr std::string_view usage =
    "usage: log show --last <n>m --style compact --predicate 'process == \"launchd\"'";
constexpr std::string_view predicate = "process == \"launchd\"";

struct Entry {
    std::int64_t micros;  // since the epoch
    std::string message;
};

bool digits(std::string_view text, std::size_t at, std::size_t count)
{
    if (at + count > text.size())
        return false;
    for (std::size_t i = at; i < at + count; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

int number(std::string_view text, std::size_t at, std::size_t count)
{
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i)
        value = value * 10 + (text[i] - '0');
    return value;
}

// Lenient: "T" or a space between date and time, any number of fraction digits, a zone of "Z", "±HHMM"
// or "±HH:MM", or none (local time). Anything else is not an entry.
std::optional<Entry> parseLine(std::string_view line)
{
    if (!digits(line, 0, 4) || line[4] != '-' || !digits(line, 5, 2) || line[7] != '-' || !digits(line, 8, 2)
        || (line[10] != ' ' && line[10] != 'T') || !digits(line, 11, 2) || line[13] != ':' || !digits(line, 14, 2)
        || line[16] != ':' || !digits(line, 17, 2))
        return std::nullopt;
    std::tm fields{};
    fields.tm_year = number(line, 0, 4) - 1900;
    fields.tm_mon = number(line, 5, 2) - 1;
    fields.tm_mday = number(line, 8, 2);
    fields.tm_hour = number(line, 11, 2);
    fields.tm_min = number(line, 14, 2);
    fields.tm_sec = number(line, 17, 2);
    std::size_t at = 19;
    std::int64_t fraction = 0;
    if (at < line.size() && line[at] == '.') {
        ++at;
        std::int64_t scale = 100000;
        while (at < line.size() && line[at] >= '0' && line[at] <= '9') {
            fraction += (line[at] - '0') * scale;
            scale /= 10;
            ++at;
        }
    }
    std::optional<int> offsetSeconds;
    if (at < line.size() && line[at] == 'Z') {
        offsetSeconds = 0;
        ++at;
    } else if (at < line.size() && (line[at] == '+' || line[at] == '-')) {
        const int sign = line[at] == '-' ? -1 : 1;
        if (digits(line, at + 1, 4)) {
            offsetSeconds = sign * (number(line, at + 1, 2) * 3600 + number(line, at + 3, 2) * 60);
            at += 5;
        } else if (digits(line, at + 1, 2) && at + 3 < line.size() && line[at + 3] == ':' && digits(line, at + 4, 2)) {
            offsetSeconds = sign * (number(line, at + 1, 2) * 3600 + number(line, at + 4, 2) * 60);
            at += 6;
        } else {
            return std::nullopt;
        }
    }
    std::time_t seconds;
    if (offsetSeconds) {
        seconds = ::timegm(&fields) - *offsetSeconds;
    } else {
        fields.tm_isdst = -1;
        seconds = std::mktime(&fields);
    }
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
        ++at;
    return Entry{static_cast<std::int64_t>(seconds) * 1000000 + fraction, std::string(line.substr(at))};
}

// The file's lines name their process ("launchd[1]: …"); the compact style prints it in its own column.
std::string_view withoutProcess(std::string_view message)
{
    constexpr std::string_view process = "launchd[";
    if (message.substr(0, process.size()) != process)
        return message;
    const auto end = message.find("]: ");
    if (end == std::string_view::npos)
        return message;
    for (char c : message.substr(process.size(), end - process.size()))
        if (c < '0' || c > '9')
            return message;
    return message.substr(end + 3);
}

// The compact style: local time to the millisecond, the type, the process and the message.
std::string compactLine(const Entry& entry)
{
    const std::time_t seconds = static_cast<std::time_t>(entry.micros / 1000000);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[40];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03d", static_cast<int>(entry.micros % 1000000 / 1000));
    return std::string(stamp) + millis + " Df launchd[1:1a4] " + std::string(withoutProcess(entry.message));
}

std::optional<long> minutesArgument(std::string_view text)
{
    if (text.size() < 2 || text.size() > 8 || text.back() != 'm')
        return std::nullopt;
    long minutes = 0;
    for (char c : text.substr(0, text.size() - 1)) {
        if (c < '0' || c > '9')
            return std::nullopt;
        minutes = minutes * 10 + (c - '0');
    }
    return minutes;
}

}  // namespace

int main(int argc, char** argv)
{
    qw::adoptLinkedRoot(argv[0], "/usr/bin/log");
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    std::optional<long> minutes;
    if (arguments.size() == 7 && arguments[0] == "show" && arguments[1] == "--last" && arguments[3] == "--style"
        && arguments[4] == "compact" && arguments[5] == "--predicate" && arguments[6] == predicate)
        minutes = minutesArgument(arguments[2]);
    if (!minutes) {
        std::cerr << usage << '\n';
        return 64;
    }

    std::timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t cutoff = (static_cast<std::int64_t>(now.tv_sec) - *minutes * 60) * 1000000;

    std::cout << "Filtering the log data using \"" << predicate << "\"\n";
    std::cout << "Timestamp               Ty Process[PID:TID]\n";
    std::ifstream file(qw::SystemPaths::current().resolve("/private/var/log/launchd.log"));
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto entry = parseLine(line);
        if (entry && entry->micros >= cutoff)
            std::cout << compactLine(*entry) << '\n';
    }
    return 0;
}
