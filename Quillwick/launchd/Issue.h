// Issue: one problem found in a job or a crontab entry — how bad it is, a title, a plain explanation and,
// where one exists, a Fix that the job operations can carry out. Fix names the repair; the operation
// router performs it.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qw {

class Fix {
public:
    enum class Kind { setLabelToFilename, createDirectory, repairPermissions, load, enable };

    static Fix setLabelToFilename(std::string name) { return Fix(Kind::setLabelToFilename, std::move(name)); }
    static Fix createDirectory(std::string path) { return Fix(Kind::createDirectory, std::move(path)); }
    static Fix repairPermissions() { return Fix(Kind::repairPermissions, {}); }
    static Fix load() { return Fix(Kind::load, {}); }
    static Fix enable() { return Fix(Kind::enable, {}); }

    Kind kind() const { return kind_; }
    // The file name without ".plist" (setLabelToFilename) or the folder (createDirectory); else "".
    const std::string& payload() const { return payload_; }
    // The title of the button that offers it.
    std::string title() const;

    std::size_t hash() const;
    bool operator==(const Fix&) const = default;

private:
    Fix(Kind kind, std::string payload) : kind_(kind), payload_(std::move(payload)) {}
    Kind kind_;
    std::string payload_;
};

struct Issue {
    // Ordered by raw value: error > warning > note.
    enum class Severity { error = 2, warning = 1, note = 0 };
    // Nothing for any integer but 0, 1 and 2.
    static std::optional<Severity> severityFromRawValue(int raw);

    Severity severity = Severity::note;
    std::string title;
    std::string explanation;
    std::optional<Fix> fix;

    // The severity's raw value, ":" and the title; issues of equal severity and title share it.
    std::string id() const;

    std::size_t hash() const;
    bool operator==(const Issue&) const = default;
};

// Errors first, then warnings, then notes; issues of one severity keep their order.
void sortBySeverity(std::vector<Issue>& issues);

}  // namespace qw

template <>
struct std::hash<qw::Fix> {
    std::size_t operator()(const qw::Fix& f) const noexcept { return f.hash(); }
};
template <>
struct std::hash<qw::Issue> {
    std::size_t operator()(const qw::Issue& i) const noexcept { return i.hash(); }
};
