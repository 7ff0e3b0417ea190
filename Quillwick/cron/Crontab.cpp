#include "Quillwick/cron/Crontab.h"

#include <algorithm>

#include "Quillwick/cron/CronText.h"

namespace qw {

namespace {

void combine(std::size_t& seed, std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); }

bool isNameOfVariable(std::string_view name) {
    if (name.empty()) return false;
    for (std::size_t at = 0; at < name.size();) {
        std::size_t length = 0;
        const auto c = CronText::decode(name, at, length);
        if (!c || !CronText::isNameCharacter(*c)) return false;
        at += length;
    }
    return true;
}

bool isFieldSeparator(char c) { return c == ' ' || c == '\t'; }

// The command at the end of a line, trimmed; but a blank escaped with "\" is part of what sh runs.
std::string commandOf(std::string_view rest) {
    const std::string_view command = CronText::trimmed(rest);
    const auto start = static_cast<std::size_t>(command.data() - rest.data());
    std::size_t end = start + command.size();
    std::size_t backslashes = 0;
    while (backslashes < command.size() && command[command.size() - 1 - backslashes] == '\\') ++backslashes;
    if (backslashes % 2 == 1 && end < rest.size()) {
        std::size_t length = 0;
        CronText::decode(rest, end, length);
        end += length;
    }
    return std::string(rest.substr(start, end - start));
}

// A line that is not a comment, from its first non-blank character to its very end: a variable, an
// "@" job, a five-field job, or nothing.
std::optional<Crontab::Line> parseContent(std::string_view content, std::int64_t number) {
    const std::string_view trimmed = CronText::trimmed(content);
    // cron allows blanks around the "=" and drops them.
    if (const auto equals = trimmed.find('='); equals != std::string_view::npos) {
        const std::string_view name = CronText::trimmed(trimmed.substr(0, equals));
        if (isNameOfVariable(name))
            return Crontab::Line::variable(std::string(name), std::string(CronText::trimmedStart(trimmed.substr(equals + 1))));
    }
    if (trimmed.starts_with('@')) {
        // The word ends at a blank or a tab, as every field does.
        const auto space = trimmed.find_first_of(" \t");
        if (space == std::string_view::npos) return std::nullopt;
        CronJob job;
        job.line = number;
        // As written: cron takes "@daily" but refuses "@DAILY".
        job.schedule = CronSchedule::special(std::string(trimmed.substr(0, space)));
        job.command = commandOf(content.substr(space + 1));
        return Crontab::Line::job(std::move(job));
    }
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (int i = 0; i < 5; ++i) {
        while (at < trimmed.size() && isFieldSeparator(trimmed[at])) ++at;
        const std::size_t start = at;
        while (at < trimmed.size() && !isFieldSeparator(trimmed[at])) ++at;
        if (at == start) return std::nullopt;
        fields.emplace_back(trimmed.substr(start, at - start));
    }
    std::string command = commandOf(content.substr(at));
    if (command.empty()) return std::nullopt;
    for (int i = 0; i < 5; ++i)
        if (!CronSchedule::isValidField(fields[static_cast<std::size_t>(i)], i)) return std::nullopt;
    CronJob job;
    job.line = number;
    job.schedule = CronSchedule::fields(std::move(fields));
    job.command = std::move(command);
    return Crontab::Line::job(std::move(job));
}

}  // namespace

Crontab::Line Crontab::Line::parsing(std::string_view line, std::int64_t number) {
    if (CronText::trimmed(line).empty()) return blank(std::string(line));
    // Any number of "#" in front, each perhaps followed by blanks, comment a job out; taken in a loop
    // so that a line of a million "#" costs nothing.
    std::string_view rest = CronText::trimmedStart(line);
    bool commented = false;
    while (rest.starts_with('#')) {
        commented = true;
        rest = CronText::trimmedStart(rest.substr(1));
    }
    std::optional<Line> content;
    if (!CronText::trimmed(rest).empty()) content = parseContent(rest, number);
    if (commented) {
        // A note such as "# @author Someone" is no entry that could be switched on.
        if (content && content->kind() == Kind::job && !content->job_.refusal()) {
            content->job_.isDisabled = true;
            content->read_ = std::string(line);
            return *content;
        }
        return comment(std::string(line));
    }
    if (!content) return unparsed(std::string(line));
    content->read_ = std::string(line);
    return *content;
}

std::string Crontab::Line::text() const {
    if (read_) return *read_;
    switch (kind_) {
    case Kind::blank:
    case Kind::comment:
    case Kind::unparsed: return text_;
    case Kind::variable: return text_ + "=" + value_;
    case Kind::job: return job_.lineText();
    }
    return {};
}

std::size_t Crontab::Line::hash() const {
    std::size_t seed = static_cast<std::size_t>(kind_);
    combine(seed, std::hash<std::string>()(text_));
    combine(seed, std::hash<std::string>()(value_));
    combine(seed, job_.hash());
    combine(seed, std::hash<std::optional<std::string>>()(read_));
    return seed;
}

Crontab Crontab::parsing(std::string_view text) {
    Crontab crontab;
    std::size_t start = 0;
    std::int64_t number = 0;
    for (;;) {
        const auto feed = text.find('\n', start);
        const std::string_view piece = text.substr(start, feed == std::string_view::npos ? std::string_view::npos : feed - start);
        crontab.lines.push_back(Line::parsing(piece, number++));
        if (feed == std::string_view::npos) break;
        start = feed + 1;
    }
    // The empty piece after the final line feed is no line of its own.
    if (crontab.lines.back().kind() == Line::Kind::blank && text.ends_with('\n')) crontab.lines.pop_back();
    return crontab;
}

std::string Crontab::text() const {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) out += '\n';
        out += lines[i].text();
    }
    out += '\n';
    return out;
}

std::vector<CronJob> Crontab::jobs() const {
    std::vector<CronJob> jobs;
    for (const auto& line : lines)
        if (line.kind() == Line::Kind::job) jobs.push_back(line.cronJob());
    return jobs;
}

std::map<std::string, std::string> Crontab::environment() const {
    std::map<std::string, std::string> environment;
    for (const auto& line : lines)
        if (line.kind() == Line::Kind::variable) environment[line.variableName()] = line.variableValue();
    return environment;
}

void Crontab::replacing(const CronJob& job) {
    const auto found = std::find_if(lines.begin(), lines.end(), [&](const Line& line) {
        return line.kind() == Line::Kind::job && line.cronJob().line == job.line;
    });
    // An unchanged job keeps its line as it was written.
    if (found != lines.end() && found->cronJob() != job) *found = Line::job(job);
}

void Crontab::removing(const CronJob& job) {
    std::erase_if(lines, [&](const Line& line) { return line.kind() == Line::Kind::job && line.cronJob().line == job.line; });
}

void Crontab::adding(CronJob job) {
    std::optional<std::int64_t> highest;
    for (const auto& line : lines)
        if (line.kind() == Line::Kind::job) highest = std::max(highest.value_or(line.cronJob().line), line.cronJob().line);
    job.line = highest ? *highest + 1 : 0;
    lines.push_back(Line::job(std::move(job)));
}

std::size_t Crontab::hash() const {
    std::size_t seed = lines.size();
    for (const auto& line : lines) combine(seed, line.hash());
    return seed;
}

}  // namespace qw
