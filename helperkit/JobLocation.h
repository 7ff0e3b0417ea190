// JobLocation: one job file and the folder it belongs to, and the helper tool's check of a path it is
// asked to change (only /Library/LaunchAgents and /Library/LaunchDaemons, the folders themselves).
#pragma once

#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

#include "helperkit/JobDirectory.h"

namespace qw {

struct JobLocation {
    class ValidationError;

    JobDirectory directory = JobDirectory::userAgents;
    std::filesystem::path url;

    JobLocation(JobDirectory directory, std::filesystem::path url) : directory(directory), url(std::move(url)) {}
    // The folder's url with "<label>.plist" appended; the label is not checked.
    static JobLocation forLabel(JobDirectory directory, std::string_view label);
    // The helper tool's check of a path it is asked to change or load; throws ValidationError.
    static JobLocation validatingPath(const std::string& path);
    // A folder with every symbolic link resolved in the part of it that exists; the rest as written.
    static std::filesystem::path resolvedFolder(const std::filesystem::path& folder);

    bool operator==(const JobLocation&) const = default;
};

class JobLocation::ValidationError : public std::exception {
public:
    enum class Kind { notAPlist, outsidePermittedDirectories, invalidLabel, labelDoesNotMatchFilename };

    static ValidationError notAPlist(std::string path);
    static ValidationError outsidePermittedDirectories(std::string path);
    static ValidationError invalidLabel(std::string label);
    static ValidationError labelDoesNotMatchFilename(std::string label, std::string filename);

    Kind kind() const { return kind_; }
    const std::string& subject() const { return subject_; }    // the path or the label as given
    const std::string& filename() const { return filename_; }  // labelDoesNotMatchFilename only
    const char* what() const noexcept override { return message_.c_str(); }

    bool operator==(const ValidationError& o) const {
        return kind_ == o.kind_ && subject_ == o.subject_ && filename_ == o.filename_;
    }

private:
    ValidationError(Kind kind, std::string subject, std::string filename);
    Kind kind_;
    std::string subject_;
    std::string filename_;
    std::string message_;
};

}  // namespace qw

template <>
struct std::hash<qw::JobLocation> {
    std::size_t operator()(const qw::JobLocation& l) const noexcept {
        return std::hash<std::string_view>()(l.directory.rawValue()) * 31 + std::filesystem::hash_value(l.url);
    }
};
