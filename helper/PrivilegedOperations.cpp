#include "helper/PrivilegedOperations.h"

#include <fmt/format.h>

#include "helper/HelperInfo.h"
#include "helper/JobFolder.h"
#include "helperkit/JobDirectory.h"
#include "helperkit/JobLocation.h"
#include "helperkit/LaunchdDomain.h"
#include "helperkit/Logger.h"
#include "helperkit/PlistFile.h"
#include "helperkit/Subprocess.h"
#include "helperkit/SystemPaths.h"

namespace qw::PrivilegedOperations {

namespace fs = std::filesystem;

namespace {

constexpr mode_t jobFileMode = 0644;

const Logger& logger() {
    static const Logger instance(std::string(HelperService::machServiceName), "privileged");
    return instance;
}

// The folder of any of the five launchd folders a path lies in, links in the folder resolved; the file
// itself is never followed.
JobLocation readableLocation(const std::string& path) {
    const fs::path standardized = fs::path(path).lexically_normal();
    if (standardized.extension() != ".plist" || !standardized.has_stem())
        throw JobLocation::ValidationError::notAPlist(path);
    if (!standardized.is_absolute() || path.find('\0') != std::string::npos)
        throw JobLocation::ValidationError::outsidePermittedDirectories(path);
    const fs::path parent = JobLocation::resolvedFolder(standardized.parent_path());
    const SystemPaths& paths = SystemPaths::current();
    for (JobDirectory directory : JobDirectory::all()) {
        // The user agents are those of whoever runs the helper (root's own, as root).
        const fs::path folder = directory == JobDirectory::userAgents ? paths.userLaunchAgents() : directory.url();
        if (JobLocation::resolvedFolder(folder).native() == parent.native())
            return JobLocation(directory, parent / standardized.filename());
    }
    throw JobLocation::ValidationError::outsidePermittedDirectories(path);
}

void checkLabel(std::string_view contents, const std::string& name) {
    const PlistFile file = PlistFile::fromData(contents, fs::path(name + ".plist"));
    const PlistValue* label = file.find("Label");
    const std::string* text = label ? label->stringPointer() : nullptr;
    if (text == nullptr) throw JobLocation::ValidationError::invalidLabel("");
    if (*text != name) throw JobLocation::ValidationError::labelDoesNotMatchFilename(*text, name);
}

// Text of a request that holds a NUL, escaped so that a message quoting it is not cut short there.
std::string shownWhole(const std::string& text) {
    return text.find('\0') == std::string::npos ? text : escapedForLog(text);
}

// A path with a NUL names one file to us and another to the kernel; refused, and shown with the NUL
// visible (a message cut at it would name yet another path).
const std::string& withoutNul(const std::string& path) {
    if (path.find('\0') != std::string::npos)
        throw JobLocation::ValidationError::outsidePermittedDirectories(shownWhole(path));
    return path;
}

std::string fileName(const JobLocation& location) { return location.url.filename().string(); }

// The application leaves macOS's own jobs alone; the helper is where that has to hold.
void refuseMacOSJob(const std::string& label) {
    if (ServiceTarget::isAppleLabel(label)) throw OperationError::partOfMacOS(label);
}

// The label a job file declares, when it reads as a job here (launchd loads nothing from one that does not).
std::optional<std::string> declaredLabel(std::string_view bytes) {
    try {
        const PlistFile file = PlistFile::fromData(bytes, "job.plist");
        if (const PlistValue* label = file.find("Label"))
            if (const std::string* text = label->stringPointer()) return *text;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

// A job file stands for the label it declares, whatever it is called. Gives the bytes it judged, when
// there is a file the helper may read; what is not one is left to the operation to refuse or replace.
std::optional<std::string> refuseMacOSFile(const JobFolder& folder, const JobLocation& location) {
    refuseMacOSJob(location.url.stem().string());
    if (!folder.holds(fileName(location))) return std::nullopt;
    std::string bytes;
    try {
        bytes = folder.read(fileName(location));
    } catch (const FileError&) {
        return std::nullopt;
    }
    if (const auto label = declaredLabel(bytes)) refuseMacOSJob(*label);
    return bytes;
}

void logLine(Logger::Level level, std::string_view verb, std::string_view subject, const std::string& reason) {
    logger().log(level, fmt::format("{} {} — {}", verb, escapedForLog(subject), escapedForLog(reason)));
}

bool isLoaded(const std::string& label) {
    const std::vector<std::string> arguments{"print", ServiceTarget{LaunchdDomain::system(), label}.description()};
    return Subprocess::run(SystemPaths::current().launchctl().string(), arguments).exitStatus == 0;
}

// Enabling or starting a job that is not loaded has launchd read the file its label names, so that file
// must be one launchd accepts; a loaded job's file is not read again.
void requireLoadableUnlessLoaded(const std::string& label) {
    const JobLocation location = JobLocation::forLabel(JobDirectory::globalDaemons, label);
    std::optional<JobFolder> folder;
    try {
        folder.emplace(location.url.parent_path());
        if (!folder->holds(fileName(location))) return;
    } catch (const FileError&) {
        return;  // no folder, or a name too long for one: no file there for launchd to read
    }
    try {
        folder->readLoadable(fileName(location), FileOwner::system().uid);
    } catch (const FileError&) {
        if (!isLoaded(label)) throw;
    }
}

HelperResponse runLaunchctl(const HelperRequest::Launchctl& operation, const std::string& reason) {
    const auto domain = LaunchdDomain::parse(operation.domain);
    if (!domain || operation.domain.find('\0') != std::string::npos)
        throw OperationError::unknownDomain(operation.domain);
    // Root acting in a user's session is no road to leave open; the application only ever asks for this one.
    if (domain->kind() != LaunchdDomain::Kind::system) throw OperationError::foreignDomain(operation.domain);

    std::vector<std::string> arguments{std::string(operation.verb.rawValue())};
    if (operation.verb.needsPlistPath()) {
        if (!operation.path) throw OperationError::missingPath(operation.verb);
        const JobLocation location = JobLocation::validatingPath(withoutNul(*operation.path));
        refuseMacOSJob(location.url.stem().string());
        // launchctl opens the path itself: it must name the folder's own file, as for the file operations,
        // and one launchd would load.
        const std::string bytes =
            JobFolder(location.url.parent_path()).readLoadable(fileName(location), FileOwner::system().uid);
        if (const auto label = declaredLabel(bytes)) refuseMacOSJob(*label);
        arguments.push_back(domain->description());
        arguments.push_back(location.url.string());
    } else {
        const std::string label = operation.label.value_or("");
        if (!ServiceTarget::isValidLabel(label)) throw OperationError::invalidLabel(label);
        if (operation.path) throw OperationError::unexpectedPath(operation.verb);
        refuseMacOSJob(label);
        if (operation.verb == PrivilegedVerb::enable || operation.verb == PrivilegedVerb::kickstart)
            requireLoadableUnlessLoaded(label);
        if (operation.verb == PrivilegedVerb::kickstart) arguments.push_back("-k");
        if (operation.verb == PrivilegedVerb::kill) arguments.push_back("TERM");
        arguments.push_back(ServiceTarget{*domain, label}.description());
    }

    std::string joined;
    for (const auto& argument : arguments) joined += (joined.empty() ? "" : " ") + argument;
    logLine(Logger::Level::notice, "launchctl", joined, reason);

    const Subprocess::Result result = Subprocess::run(SystemPaths::current().launchctl().string(), arguments);
    HelperResponse reply;
    reply.succeeded = result.exitStatus == 0;
    reply.exitStatus = result.exitStatus;
    reply.standardOutput = result.standardOutput;
    reply.standardError = result.standardError;
    if (!reply.succeeded) reply.message = result.standardError;
    return reply;
}

struct Performer {
    const std::string reason;  // the client's reason, then who sent the request
    const std::string sentBy;

    HelperResponse operator()(const HelperRequest::Version&) const {
        logger().info("version requested" + escapedForLog(sentBy));
        HelperResponse reply;
        reply.succeeded = true;
        reply.helperVersion = helperVersion();
        return reply;
    }

    HelperResponse operator()(const HelperRequest::Read& operation) const {
        const JobLocation location = readableLocation(withoutNul(operation.path));
        logLine(Logger::Level::info, "read", location.url.string(), reason);
        const std::string bytes = JobFolder(location.url.parent_path()).read(fileName(location));
        HelperResponse reply;
        reply.succeeded = true;
        reply.contents = Bytes(bytes.begin(), bytes.end());
        return reply;
    }

    HelperResponse operator()(const HelperRequest::Write& operation) const {
        const JobLocation location = JobLocation::validatingPath(withoutNul(operation.path));
        const JobFolder folder(location.url.parent_path());
        refuseMacOSFile(folder, location);
        const std::string_view contents(reinterpret_cast<const char*>(operation.contents.data()),
                                        operation.contents.size());
        checkLabel(contents, location.url.stem().string());
        folder.replace(fileName(location), contents, FileOwner::system(), jobFileMode);
        logLine(Logger::Level::notice, "wrote", location.url.string(), reason);
        return succeeded(fmt::format("Saved {}.", fileName(location)));
    }

    HelperResponse operator()(const HelperRequest::Delete& operation) const {
        const JobLocation location = JobLocation::validatingPath(withoutNul(operation.path));
        const JobFolder folder(location.url.parent_path());
        refuseMacOSFile(folder, location);
        folder.remove(fileName(location));
        logLine(Logger::Level::notice, "deleted", location.url.string(), reason);
        return succeeded(fmt::format("Deleted {}.", fileName(location)));
    }

    HelperResponse operator()(const HelperRequest::RepairPermissions& operation) const {
        const JobLocation location = JobLocation::validatingPath(withoutNul(operation.path));
        // A fresh copy in place of the file: whoever opened it while it was theirs keeps a descriptor of a
        // file that is no longer the job's. The copy holds the bytes judged, whatever they write meanwhile.
        const JobFolder folder(location.url.parent_path());
        const auto judged = refuseMacOSFile(folder, location);
        const std::string bytes = judged ? *judged : folder.read(fileName(location));  // says why there is none
        folder.replace(fileName(location), bytes, FileOwner::system(), jobFileMode);
        logLine(Logger::Level::notice, "repaired", location.url.string(), reason);
        return succeeded(fmt::format("Set {} to root:wheel, mode 644.", fileName(location)));
    }

    HelperResponse operator()(const HelperRequest::Launchctl& operation) const {
        return runLaunchctl(operation, reason);
    }

    static HelperResponse succeeded(std::string message) {
        HelperResponse reply;
        reply.succeeded = true;
        reply.message = std::move(message);
        return reply;
    }
};

}  // namespace

OperationError OperationError::unknownDomain(const std::string& domain) {
    return {Kind::unknownDomain, fmt::format("“{}” is not a launchd domain.", shownWhole(domain))};
}
OperationError OperationError::missingPath(PrivilegedVerb verb) {
    return {Kind::missingPath, fmt::format("{} needs the job's plist path.", verb.rawValue())};
}
OperationError OperationError::unexpectedPath(PrivilegedVerb verb) {
    return {Kind::unexpectedPath, fmt::format("{} does not take a path.", verb.rawValue())};
}
OperationError OperationError::invalidLabel(const std::string& label) {
    return {Kind::invalidLabel, fmt::format("“{}” is not a usable launchd label.", shownWhole(label))};
}
OperationError OperationError::foreignDomain(const std::string& domain) {
    return {Kind::foreignDomain,
            fmt::format("The helper acts only in the system domain, not in “{}”.", shownWhole(domain))};
}

OperationError OperationError::partOfMacOS(const std::string& label) {
    return {Kind::partOfMacOS,
            fmt::format("“{}” is part of macOS. Quillwick shows these jobs but never changes them.", shownWhole(label))};
}

std::string helperVersion() {
    try {
        const PlistFile info = PlistFile::fromData(HelperInfo::infoPlist(), "Info.plist");
        if (const PlistValue* version = info.find("CFBundleShortVersionString"))
            if (const std::string* text = version->stringPointer()) return *text;
    } catch (const std::exception&) {
        // An unreadable embedded list counts as a missing entry.
    }
    return "0";
}

std::string escapedForLog(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = [&](std::size_t at) { return at < text.size() ? static_cast<unsigned char>(text[at]) : 0u; };
        const unsigned c = byte(i);
        if (c < 0x20 || c == 0x7F) {
            out += fmt::format("\\x{:02x}", c);
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == 0xC2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F) {
            // C1 controls, U+0085 (next line) among them.
            out += fmt::format("\\u{:04x}", byte(i + 1));
            i += 1;
        } else if (c == 0xE2 && ((byte(i + 1) == 0x80 && byte(i + 2) >= 0xA8 && byte(i + 2) <= 0xAE) ||
                                 (byte(i + 1) == 0x81 && byte(i + 2) >= 0xA6 && byte(i + 2) <= 0xA9))) {
            // Line and paragraph separators, bidirectional embeddings, overrides and isolates: each can make
            // a line read other than it is.
            out += fmt::format("\\u{:04x}", 0x2000u | ((byte(i + 1) & 0x3Fu) << 6) | (byte(i + 2) & 0x3Fu));
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

HelperResponse perform(const HelperRequest& request, std::string_view sender) noexcept {
    if (request.version != supportedVersion)
        return HelperResponse::failure(fmt::format(
            "This helper speaks request version 1 but was sent version {}. Quit Quillwick and open it again, or "
            "reinstall the helper in Settings.",
            request.version));
    try {
        try {
            // Named by the helper, after the client's own words, which could claim anything.
            const std::string sentBy = sender.empty() ? std::string() : fmt::format(" (sent by {})", sender);
            return std::visit(Performer{request.reason + sentBy, sentBy}, request.operation);
        } catch (const std::exception& error) {
            logger().error(fmt::format("refused: {}", escapedForLog(error.what())));
            return HelperResponse::failure(error.what());
        }
    } catch (...) {
        // Even a failing log or an allocation failure must come back as a reply.
        return HelperResponse::failure("The helper could not carry out that request.");
    }
}

}  // namespace qw::PrivilegedOperations
