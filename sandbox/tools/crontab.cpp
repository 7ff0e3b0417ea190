// The stand-in `crontab`: lists and replaces the user's crontab under the machine root, with the checks
// and messages of Debian's crontab. A refused text leaves the stored crontab as it was.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "LinkedRoot.h"
#include "helperkit/SystemPaths.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view usageText =
    "usage:\tcrontab [-u user] [-n] file\n"
    "\tcrontab [ -u user ] [ -i ] { -e | -l | -r }\n"
    "\n"
    "\t-h\t(displays this help message)\n"
    "\n"
    "\tfile\t(default operation is replace, per 1003.2)\n"
    "\t-n\t(dry run: checks the syntax, then bails out)\n"
    "\t-u user\t(choose the user whose crontab is touched)\n"
    "\n"
    "\t-e\t(edit user's crontab)\n"
    "\t-l\t(list user's crontab)\n"
    "\t-r\t(delete user's crontab)\n"
    "\n"
    "\t-i\t(prompt before deleting user's crontab)\n";

int usage(std::string_view problem)
{
    std::cerr << "crontab: usage error: " << problem << '\n' << usageText;
    return 1;
}

// cron's own limits: a command of 999 characters or more, and a table of more than 10000 lines, are
// refused; longer words and settings are cut where cron cuts them.
constexpr std::size_t kCommandSize = 1000;
constexpr std::size_t kSettingSize = 999;
constexpr std::size_t kWordSize = 100;
constexpr std::size_t kMostLines = 10000;

constexpr int kEnd = -1;

bool isDigit(int c) { return c >= '0' && c <= '9'; }
bool isLetter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The text read as cron reads it, a character at a time, counting the line feeds it has taken. An error
// names its line by that count, so a fault found before its line's end names the line before (the first
// line is 0) and one found at the line feed names its own line, as cron's messages do.
class CronReader {
public:
    struct Mark {
        std::size_t at;
        int lines;
    };

    explicit CronReader(std::string_view text) : text_(text) {}

    int get()
    {
        if (at_ >= text_.size())
            return kEnd;
        const auto c = static_cast<unsigned char>(text_[at_++]);
        if (c == '\n')
            ++lines_;
        return c;
    }
    void unget(int c)
    {
        if (c == kEnd)
            return;
        --at_;
        if (c == '\n')
            --lines_;
    }
    Mark mark() const { return {at_, lines_}; }
    void reset(Mark mark)
    {
        at_ = mark.at;
        lines_ = mark.lines;
    }
    int lines() const { return lines_; }

    // Past blank lines, comments and the blanks that open the next line.
    void skipComments()
    {
        int c = kEnd;
        while ((c = get()) != kEnd) {
            while (c == ' ' || c == '\t')
                c = get();
            if (c == kEnd)
                break;
            if (c != '\n' && c != '#')
                break;
            while (c != '\n' && c != kEnd)
                c = get();
        }
        unget(c);
    }

    // Up to one of `terms`, which is taken too; keeps at most size - 1 characters. Returns the character
    // that ended it.
    int readString(std::string& into, std::size_t size, std::string_view terms)
    {
        into.clear();
        int c = kEnd;
        while ((c = get()) != kEnd && terms.find(static_cast<char>(c)) == std::string_view::npos)
            if (into.size() + 1 < size)
                into += static_cast<char>(c);
        return c;
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
    int lines_ = 0;
};

struct Field {
    const char* error;
    int low;
    int high;
    std::vector<std::string_view> names;  // names[i] stands for low + i; the first match wins
};

const Field fields[] = {
    {"bad minute", 0, 59, {}},
    {"bad hour", 0, 23, {}},
    {"bad day-of-month", 1, 31, {}},
    {"bad month", 1, 12, {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"}},
    {"bad day-of-week", 0, 7, {"sun", "mon", "tue", "wed", "thu", "fri", "sat", "sun"}},
};

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// The value of a string of digits as cron takes it: saturated at the largest long, then cut to an int.
int cronValue(std::string_view digits)
{
    constexpr long long most = std::numeric_limits<long long>::max();
    long long value = 0;
    for (char c : digits) {
        const int digit = c - '0';
        value = value > (most - digit) / 10 ? most : value * 10 + digit;
    }
    return static_cast<int>(static_cast<std::uint32_t>(value));
}

// A word of letters and digits starting at `c`: a name of the field, or a number. Returns the character
// after it, or kEnd when it is neither.
int readNumber(CronReader& in, int c, const Field* field, int& value)
{
    std::string word;
    bool digitsOnly = true;
    while (isDigit(c) || isLetter(c)) {
        if (word.size() + 1 >= kWordSize)
            return kEnd;
        word += static_cast<char>(c);
        digitsOnly = digitsOnly && isDigit(c);
        c = in.get();
    }
    if (word.empty())
        return kEnd;
    if (field) {
        for (std::size_t i = 0; i < field->names.size(); ++i) {
            if (sameName(field->names[i], word)) {
                value = field->low + static_cast<int>(i);
                return c;
            }
        }
    }
    if (!digitsOnly)
        return kEnd;
    value = cronValue(word);
    return c;
}

// One range: "*", "n" or "n-m", then an optional "/step" (a step needs a range). Both ends and every
// value it names must lie in the field, but an empty range ("5-1") is no error.
int readRange(CronReader& in, int c, const Field& field)
{
    const auto inField = [&field](long long value) { return value >= field.low && value <= field.high; };
    int low = field.low;
    int high = field.high;
    int step = 1;
    if (c == '*') {
        c = in.get();
        if (c == kEnd)
            return kEnd;
    } else {
        c = readNumber(in, c, &field, low);
        if (c == kEnd || c == '/')
            return kEnd;
        if (c != '-')
            return inField(low) ? c : kEnd;
        c = in.get();
        if (c == kEnd)
            return kEnd;
        c = readNumber(in, c, &field, high);
        if (c == kEnd)
            return kEnd;
    }
    if (c == '/') {
        c = in.get();
        if (c == kEnd)
            return kEnd;
        c = readNumber(in, c, nullptr, step);
        if (c == kEnd || step == 0)
            return kEnd;
    }
    if (!inField(low) || !inField(high))
        return kEnd;
    for (long long value = low; value <= high; value += step)
        if (!inField(value))
            return kEnd;
    return c;
}

// A field: ranges separated by commas. Whatever follows the last range up to a blank is passed over,
// as cron does, and so are the blanks after it.
int readField(CronReader& in, int c, const Field& field)
{
    for (;;) {
        c = readRange(in, c, field);
        if (c != ',')
            break;
        c = in.get();
    }
    while (c != ' ' && c != '\t' && c != '\n' && c != kEnd)
        c = in.get();
    while (c == ' ' || c == '\t')
        c = in.get();
    return c;
}

// Whether a line (without its blanks in front) sets a variable: a name, "=", a value; either may be
// quoted, the name may be empty, an unquoted value may not.
bool isSetting(std::string_view line)
{
    enum State { nameStart, name, beforeEquals, afterEquals, valueStart, value, finished, invalid };
    State state = nameStart;
    char quote = 0;
    std::size_t i = 0;
    while (state != invalid && i < line.size()) {
        const char c = line[i];
        switch (state) {
        case nameStart:
        case valueStart:
            state = state == nameStart ? name : value;
            if (c == '\'' || c == '"') {
                quote = c;
                ++i;
            }
            break;
        case name:
        case value:
            if (quote) {
                if (c == quote) {
                    state = state == name ? beforeEquals : finished;
                    ++i;
                    break;
                }
                if (state == name && c == '=') {
                    state = invalid;
                    break;
                }
            } else if (state == name) {
                if (isSpace(static_cast<unsigned char>(c))) {
                    state = beforeEquals;
                    ++i;
                    break;
                }
                if (c == '=') {
                    state = beforeEquals;
                    break;
                }
            }
            ++i;
            break;
        case beforeEquals:
            if (c == '=') {
                state = afterEquals;
                quote = 0;
            } else if (!isSpace(static_cast<unsigned char>(c))) {
                state = invalid;
            }
            ++i;
            break;
        case afterEquals:
        case finished:
            if (isSpace(static_cast<unsigned char>(c)))
                ++i;
            else
                state = state == afterEquals ? valueStart : invalid;
            break;
        case invalid:
            break;
        }
    }
    return state == finished || (state == value && !quote);
}

// The error of the job line the reader is at, or none; the reader ends past the line.
const char* readJob(CronReader& in)
{
    static const std::string_view specials[] = {"reboot", "yearly", "annually", "monthly",
                                                "weekly", "daily",  "midnight", "hourly"};
    in.skipComments();
    int c = in.get();
    if (c == kEnd)
        return nullptr;
    std::string text;
    if (c == '@') {
        c = in.readString(text, kCommandSize, " \t\n");
        if (std::find(std::begin(specials), std::end(specials), text) == std::end(specials))
            return "bad time specifier";
        while (c == ' ' || c == '\t')
            c = in.get();
    } else {
        for (const Field& field : fields) {
            c = readField(in, c, field);
            if (c == kEnd)
                return field.error;
        }
    }
    // Everything to the line's end is the command, which may be empty; one that starts with "*" is
    // taken for a sixth time field.
    if (c == '*')
        return "bad command";
    in.unget(c);
    if (in.readString(text, kCommandSize, "\n") == kEnd)
        return "bad command";
    if (text.size() >= kCommandSize - 1)
        return "command too long";
    return nullptr;
}

enum class Verdict { accepted, refused };

// Checks a whole new crontab as cron's crontab does, line by line, and says why on standard error when
// it refuses: the first bad line, a last line without its line feed, or too many lines.
Verdict check(std::string_view text, std::string_view name)
{
    CronReader in(text);
    for (;;) {
        const CronReader::Mark start = in.mark();
        in.skipComments();
        std::string line;
        if (in.readString(line, kSettingSize, "\n") == kEnd) {
            if (line.empty())
                break;
            std::cerr << "new crontab file is missing newline before EOF, can't install.\n";
            return Verdict::refused;
        }
        if (isSetting(line))
            continue;
        in.reset(start);
        if (const char* error = readJob(in)) {
            std::cerr << '"' << name << "\":" << in.lines() << ": " << error << '\n'
                      << "errors in crontab file, can't install.\n";
            return Verdict::refused;
        }
    }
    if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) > kMostLines) {
        std::cerr << "crontab is too long; maximum number of lines is " << kMostLines << ".\n";
        return Verdict::refused;
    }
    return Verdict::accepted;
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

// QUILLWICK_CRONTAB=denied answers as macOS does for a program without Full Disk Access.
bool accessDenied()
{
    const char* mode = std::getenv("QUILLWICK_CRONTAB");
    return mode && std::string_view(mode) == "denied";
}

int refuseAccess()
{
    std::cerr << "crontab: " << storedCrontab().string() << ": Operation not permitted\n";
    return 1;
}

int list()
{
    if (accessDenied())
        return refuseAccess();
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
            std::cerr << source << ": " << std::strerror(errno) << '\n';
            return 1;
        }
        text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    if (accessDenied())
        return refuseAccess();

    if (check(text, source) == Verdict::refused)
        return 1;

    if (const auto failed = install(storedCrontab(), text)) {
        std::cerr << "crontab: " << failed->string() << ": " << std::strerror(errno) << '\n';
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    qw::adoptLinkedRoot(argv[0], "/usr/bin/crontab");
    // Of crontab's uses only listing and replacing are offered; without arguments it replaces from
    // standard input, as Debian's does.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty())
        return replace("-");
    const std::string& first = arguments[0];
    if (first == "-l") {
        if (arguments.size() == 1)
            return list();
        const std::string& second = arguments[1];
        return usage(second == "-l" || second == "-e" || second == "-r" ? "only one operation permitted"
                                                                          : "no arguments permitted after this option");
    }
    if (first == "-" || first.empty() || first[0] != '-')
        return replace(first);
    if (first == "--")
        return arguments.size() > 1 ? replace(arguments[1]) : usage("file name must be specified for replace");
    return usage("unrecognized option");
}
