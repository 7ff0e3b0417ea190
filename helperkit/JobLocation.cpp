#include "helperkit/JobLocation.h"

#include <system_error>

namespace qw {

namespace fs = std::filesystem;

fs::path JobLocation::resolvedFolder(const fs::path& folder) {
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(folder, ec);
    if (ec) resolved = folder;
    resolved = resolved.lexically_normal();
    if (resolved.has_relative_path() && !resolved.has_filename()) resolved = resolved.parent_path();
    return resolved;
}

JobLocation JobLocation::forLabel(JobDirectory directory, std::string_view label) {
    return JobLocation(directory, directory.url() / (std::string(label) + ".plist"));
}

JobLocation JobLocation::validatingPath(const std::string& path) {
    const fs::path standardized = fs::path(path).lexically_normal();
    if (standardized.extension() != ".plist") throw ValidationError::notAPlist(path);
    // A relative path would be judged against whatever folder the helper happens to run in; an
    // embedded NUL would name one file here and another to the system calls.
    if (!standardized.is_absolute() || path.find('\0') != std::string::npos)
        throw ValidationError::outsidePermittedDirectories(path);

    const fs::path parent = resolvedFolder(standardized.parent_path());
    for (JobDirectory directory : JobDirectory::helperWritable()) {
        if (resolvedFolder(directory.url()).native() != parent.native()) continue;
        fs::path url = parent / standardized.filename();
        const std::string label = url.stem().string();
        if (!ServiceTarget::isValidLabel(label)) throw ValidationError::invalidLabel(label);
        return JobLocation(directory, std::move(url));
    }
    throw ValidationError::outsidePermittedDirectories(path);
}

JobLocation::ValidationError::ValidationError(Kind kind, std::string subject, std::string filename)
    : kind_(kind), subject_(std::move(subject)), filename_(std::move(filename)) {
    switch (kind_) {
    case Kind::notAPlist: message_ = subject_ + " is not a .plist file."; break;
    case Kind::outsidePermittedDirectories:
        message_ = subject_ +
                   " is not in /Library/LaunchAgents or /Library/LaunchDaemons. Quillwick will not write anywhere "
                   "else as root.";
        break;
    case Kind::invalidLabel: message_ = "“" + subject_ + "” is not a usable launchd label."; break;
    case Kind::labelDoesNotMatchFilename:
        message_ = "The job's Label is “" + subject_ + "” but the file is named “" + filename_ +
                   ".plist”. They have to match.";
        break;
    }
}

JobLocation::ValidationError JobLocation::ValidationError::notAPlist(std::string path) {
    return ValidationError(Kind::notAPlist, std::move(path), {});
}
JobLocation::ValidationError JobLocation::ValidationError::outsidePermittedDirectories(std::string path) {
    return ValidationError(Kind::outsidePermittedDirectories, std::move(path), {});
}
JobLocation::ValidationError JobLocation::ValidationError::invalidLabel(std::string label) {
    return ValidationError(Kind::invalidLabel, std::move(label), {});
}
JobLocation::ValidationError JobLocation::ValidationError::labelDoesNotMatchFilename(std::string label,
                                                                                   std::string filename) {
    return ValidationError(Kind::labelDoesNotMatchFilename, std::move(label), std::move(filename));
}

}  // namespace qw
