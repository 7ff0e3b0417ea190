// Crontab: the user's crontab as an ordered list of lines, so that a saved edit changes only the lines
// that were edited. Job lines are parsed into CronJob records; comments, variables, blank lines and
// lines that fit no rule are held too. Text is kept as bytes: nothing need be valid UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Quillwick/cron/CronJob.h"

namespace qw {

class Crontab {
public:
    class Line {
    public:
        enum class Kind { blank, comment, variable, job, unparsed };

        // The raw line as read: its blanks come back as they were.
        static Line blank(std::string raw = {}) { return Line(Kind::blank, std::move(raw), {}, {}); }
        // The whole raw line as read, untrimmed.
        static Line comment(std::string raw) { return Line(Kind::comment, std::move(raw), {}, {}); }
        static Line variable(std::string name, std::string value) {
            return Line(Kind::variable, std::move(name), std::move(value), {});
        }
        // A job line written anew from its fields.
        static Line job(CronJob job) { return Line(Kind::job, {}, {}, std::move(job)); }
        static Line unparsed(std::string raw) { return Line(Kind::unparsed, std::move(raw), {}, {}); }

        // One line (without its line feed); `number` becomes the job's `line`. Never fails.
        static Line parsing(std::string_view line, std::int64_t number);

        Kind kind() const { return kind_; }
        // The raw line of a blank, comment or unparsed line; the name of a variable.
        const std::string& rawText() const { return text_; }
        const std::string& variableName() const { return text_; }
        const std::string& variableValue() const { return value_; }
        // Meaningful only for a job line.
        const CronJob& cronJob() const { return job_; }

        // The line as the crontab writes it: a parsed line as it was read, an edited one from its fields.
        std::string text() const;

        std::size_t hash() const;
        bool operator==(const Line&) const = default;

    private:
        Line(Kind kind, std::string text, std::string value, CronJob job)
            : kind_(kind), text_(std::move(text)), value_(std::move(value)), job_(std::move(job)) {}
        Kind kind_;
        std::string text_;
        std::string value_;
        CronJob job_;
        // A job or variable line as read: unedited lines are written back byte for byte.
        std::optional<std::string> read_;
    };

    std::vector<Line> lines;

    Crontab() = default;
    explicit Crontab(std::vector<Line> lines) : lines(std::move(lines)) {}
    // Never fails: a line that fits no rule is kept as it was.
    static Crontab parsing(std::string_view text);

    // The file as it will be installed: the lines joined by line feeds, with one after the last.
    std::string text() const;
    // The job lines in file order, commented-out ones included.
    std::vector<CronJob> jobs() const;
    // One entry per variable line; a later line wins.
    std::map<std::string, std::string> environment() const;

    // The first job line with the job's `line` takes all of the job's fields; none, nothing changes.
    void replacing(const CronJob& job);
    // Every job line with the job's `line` goes.
    void removing(const CronJob& job);
    // Appended as the last line, numbered one past the highest job number (0 with no jobs).
    void adding(CronJob job);

    std::size_t hash() const;
    bool operator==(const Crontab&) const = default;
};

}  // namespace qw

template <>
struct std::hash<qw::Crontab> {
    std::size_t operator()(const qw::Crontab& c) const noexcept { return c.hash(); }
};
template <>
struct std::hash<qw::Crontab::Line> {
    std::size_t operator()(const qw::Crontab::Line& l) const noexcept { return l.hash(); }
};
