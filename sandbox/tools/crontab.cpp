// The stand-in `crontab`: lists and replaces the user's crontab under the machine root, with the checks
// and messages of Debian's crontab. A refused text leaves the stored crontab as it was.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "helperkit/SystemPaths.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view usageText =
    "usage:\tcrontab [-u user] file\n"
    "\tcrontab [ -u user ] [ -i ] { -e | -l | -r }\n"
    "\t\t(default operation is replace, per 1003.2)\n"
    "\t-e\t(edit user's crontab)\n"
    "\t-l\t(list user's crontab)\n"
    "\t-r\t(delete user's crontab)\n"
    "\t-i\t(prompt before deleting user's crontab)\n";

int usage(std::string_view problem)
{
    std::cerr << "crontab: usage error: " << problem << '\n' << usageText;
    return 1;
}

struct Field {
    const char* error;
    int low;
    int high;
    std::vector<std::string_view> names;  // names[i] stands for low + i
};

const Field fields[] = {
    {"bad minute", 0, 59, {}},
    {"bad hour", 0, 23, {}},
    {"bad day-of-month", 1, 31, {}},
    {"bad month", 1, 12, {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"}},
    {"bad day-of-week", 0, 7, {"sun", "mon", "tue", "wed", "thu", "fri", "sat"}},
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string lower(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return result;
}

// A number in range, or a name of the field; consumes it from `text`.
bool number(std::string_view& text, const Field& field, bool allowNames, int& value)
{
    std::size_t length = 0;
    while (length < text.size() && text[length] >= '0' && text[length] <= '9')
        ++length;
    if (length > 0) {
        if (length > 4)
            return false;
        value = std::stoi(std::string(text.substr(0, length)));
        text.remove_prefix(length);
        return value >= field.low && value <= field.high;
    }
    if (!allowNames || text.size() < 3)
        return false;
    const std::string name = lower(text.substr(0, 3));
    for (std::size_t i = 0; i < field.names.size(); ++i) {
        if (field.names[i] == name) {
            value = field.low + static_cast<int>(i);
            text.remove_prefix(3);
            return true;
        }
    }
    return false;
}

// One field: ranges ("*", "n", "n-m") separated by commas, each range with an optional "/step".
bool validField(std::string_view text, const Field& field)
{
    if (text.empty())
        return false;
    while (true) {
        bool isRange = false;
        int low = 0;
        if (!text.empty() && text[0] == '*') {
            text.remove_prefix(1);
            isRange = true;
        } else {
            if (!number(text, field, true, low))
                return false;
            if (!text.empty() && text[0] == '-') {
                text.remove_prefix(1);
                int high = 0;
                if (!number(text, field, true, high) || high < low)
                    return false;
                isRange = true;
            }
        }
        if (!text.empty() && text[0] == '/') {
            if (!isRange)
                return false;
            text.remove_prefix(1);
            std::size_t length = 0;
            while (length < text.size() && text[length] >= '0' && text[length] <= '9')
                ++length;
            if (length == 0 || length > 4 || std::stoi(std::string(text.substr(0, length))) == 0)
                return false;
            text.remove_prefix(length);
        }
        if (text.empty())
            return true;
        if (text[0] != ',')
            return false;
        text.remove_prefix(1);
    }
}

// An environment setting: a name, optional blanks, "=", a value (possibly quoted, possibly empty).
bool isEnvironment(std::string_view line)
{
    std::size_t at = 0;
    while (at < line.size() && isBlank(line[at]))
        ++at;
    const std::size_t nameStart = at;
    if (at < line.size() && (line[at] == '"' || line[at] == '\'')) {
        const char quote = line[at];
        const std::size_t close = line.find(quote, at + 1);
        if (close == std::string_view::npos)
            return false;
        at = close + 1;
    } else {
        while (at < line.size() && !isBlank(line[at]) && line[at] != '=')
            ++at;
    }
    if (at == nameStart)
        return false;
    while (at < line.size() && isBlank(line[at]))
        ++at;
    return at < line.size() && line[at] == '=';
}

// The error of one crontab line, or none when cron accepts it.
const char* lineError(std::string_view line)
{
    std::size_t at = 0;
    while (at < line.size() && isBlank(line[at]))
        ++at;
    if (at == line.size() || line[at] == '#')
        return nullptr;
    if (isEnvironment(line))
        return nullptr;
    std::string_view rest = line.substr(at);
    auto word = [&rest]() {
        std::size_t end = 0;
        while (end < rest.size() && !isBlank(rest[end]))
            ++end;
        const std::string_view taken = rest.substr(0, end);
        rest.remove_prefix(end);
        while (!rest.empty() && isBlank(rest.front()))
            rest.remove_prefix(1);
        return taken;
    };
    if (rest[0] == '@') {
        static const std::string_view specials[] = {"@reboot", "@yearly", "@annually", "@monthly",
                                                    "@weekly", "@daily", "@midnight", "@hourly"};
        const std::string_view special = word();
        bool known = false;
        for (auto candidate : specials)
            known = known || candidate == special;
        if (!known)
            return "bad time specifier";
    } else {
        for (const Field& field : fields)
            if (!validField(word(), field))
                return field.error;
    }
    return rest.empty() ? "bad command" : nullptr;
}

fs::path storedCrontab()
{
    return qw::SystemPaths::current().resolve("/private/var/at/tabs") / qw::SystemPaths::loginName();
}

// Written aside in the same folder and renamed into place, so cron never reads half a crontab.
// Returns the failing path with errno set, or nothing.
std::optional<fs::path> install(const fs::path& target, std::string_view text)
{
    std::string aside = (target.parent_path() / ("tmp.XXXXXX")).string();
    const int fd = ::mkstemp(aside.data());
    if (fd < 0)
        return fs::path(aside);
    bool written = ::fchmod(fd, 0600) == 0;
    for (std::size_t done = 0; written && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        written = n > 0;
        if (written)
            done += static_cast<std::size_t>(n);
    }
    written = written && ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    if (!written || ::rename(aside.c_str(), target.c_str()) != 0) {
        const int error = written ? errno : saved;
        ::unlink(aside.c_str());
        errno = error;
        return fs::path(aside);
    }
    return std::nullopt;
}

int list()
{
    const fs::path path = storedCrontab();
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (errno == ENOENT) {
            std::cerr << "no crontab for " << qw::SystemPaths::loginName() << '\n';
        } else {
            std::cerr << "crontab: " << path.string() << ": " << std::strerror(errno) << '\n';
        }
        return 1;
    }
    std::cout << file.rdbuf();
    return 0;
}

int replace(const std::string& source)
{
    std::string text;
    if (source == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream file(source, std::ios::binary);
        if (!file) {
            std::cerr << "crontab: " << source << ": " << std::strerror(errno) << '\n';
            return 1;
        }
        text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    // Like cron, report the first bad line only.
    std::size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (const char* error = lineError(std::string_view(text).substr(start, end - start))) {
            std::cerr << '"' << source << "\":" << number << ": " << error << '\n'
                      << "errors in crontab file, can't install.\n";
            return 1;
        }
        start = end + 1;
    }
    if (!text.empty() && text.back() != '\n') {
        std::cerr << "new crontab file is missing newline before EOF, can't install.\n";
        return 1;
    }

    if (const auto failed = install(storedCrontab(), text)) {
        std::cerr << "crontab: " << failed->string() << ": " << std::strerror(errno) << '\n';
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() != 1)
        return usage(arguments.empty() ? "file name must be specified for replace" : "only one operation permitted");
    if (arguments[0] == "-l")
        return list();
    if (arguments[0].size() > 1 && arguments[0][0] == '-')
        return usage("unrecognized option");
    return replace(arguments[0]);
}
