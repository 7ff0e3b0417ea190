#include "Quillwick/platform/ManagedService.h"

#include <cerrno>
#include <optional>
#include <vector>

#include "Quillwick/platform/ApplicationSupport.h"
#include "helperkit/PeerRequirement.h"
#include "helperkit/PlistFile.h"
#include "helperkit/Subprocess.h"
#include "helperkit/SystemPaths.h"

namespace qw {

namespace fs = std::filesystem;

namespace {

Subprocess::Result launchctl(const std::vector<std::string>& arguments) {
    try {
        return Subprocess::run(SystemPaths::current().launchctl().string(), arguments);
    } catch (const Subprocess::Failure& failure) {
        throw ManagedService::Error(failure.what());
    }
}

// Why root should not load this list: launchd would run the program it names as root, and that program
// serves the Quillwick beside it, so whoever can change the list, either program or a folder above them
// could have their own code run or served as root.
std::optional<std::string> untrustedList(const fs::path& list) {
    std::vector<fs::path> files{list};
    try {
        const PlistFile read = PlistFile::read(list);
        std::optional<std::string> program = read["Program"] ? read["Program"]->stringValue() : std::nullopt;
        if (const PlistValue* arguments = read.find("ProgramArguments"); !program && arguments && arguments->arrayValue() &&
                                                                          !arguments->arrayValue()->empty())
            program = arguments->arrayValue()->front().stringValue();
        if (program) files.insert(files.end(), {*program, fs::path(*program).parent_path() / "Quillwick"});
    } catch (const std::exception&) {
    }
    for (const fs::path& file : files)
        if (auto why = HelperSocket::othersMayChange(file)) return why;
    return std::nullopt;
}

}  // namespace

ManagedService::ManagedService(fs::path plistPath, LaunchdDomain domain, fs::path resolvedFolder)
    : plistPath_(std::move(plistPath)), resolvedFolder_(std::move(resolvedFolder)), domain_(domain),
      label_(plistPath_.stem().string()) {
    // The list's own Label names the service; the file name is only the fallback.
    try {
        if (const auto label = PlistFile::read(plistPath_)["Label"]; label && label->stringValue())
            label_ = *label->stringValue();
    } catch (const std::exception&) {
    }
}

ManagedService ManagedService::daemon(const fs::path& bundle, const std::string& plistName) {
    return ManagedService(bundle / "Contents" / "Library" / "LaunchDaemons" / plistName, LaunchdDomain::system());
}

ManagedService ManagedService::loginItem(const fs::path& bundle, const std::string& plistName) {
    return ManagedService(bundle / "Contents" / "Library" / "LoginItems" / plistName, LaunchdDomain::currentGUI(),
                          ApplicationSupport::folder() / "LoginItems");
}

bool ManagedService::isLoaded() const {
    return launchctl({"print", ServiceTarget{domain_, label_}.description()}).exitStatus == 0;
}

ManagedService::Status ManagedService::status() const {
    std::error_code ec;
    if (!fs::is_regular_file(plistPath_, ec)) return Status::notFound;
    if (!isLoaded()) return Status::notRegistered;
    if (fs::exists(SystemPaths::current().resolve("/private/var/db/launchd/needs-approval"), ec))
        return Status::requiresApproval;
    return Status::enabled;
}

fs::path ManagedService::listToLoad() const {
    if (resolvedFolder_.empty())
        return plistPath_;
    try {
        PlistFile list = PlistFile::read(plistPath_);
        const auto relative = list["BundleProgram"];
        if (!relative || !relative->stringValue())
            return plistPath_;
        // The bundle holds the list in Contents/Library/<folder>/.
        const fs::path bundle = plistPath_.parent_path().parent_path().parent_path().parent_path();
        PlistArray arguments{PlistValue((bundle / *relative->stringValue()).lexically_normal().string())};
        const PlistValue* given = list.find("ProgramArguments");
        if (const PlistArray* rest = given ? given->arrayValue() : nullptr; rest && !rest->empty())
            arguments.insert(arguments.end(), rest->begin() + 1, rest->end());
        list.set("Program", std::nullopt);
        list.set("ProgramArguments", PlistValue(std::move(arguments)));
        const fs::path copy = resolvedFolder_ / plistPath_.filename();
        fs::create_directories(resolvedFolder_);
        list.write(copy);
        return copy;
    } catch (const std::exception& e) {
        throw Error(e.what());
    }
}

void ManagedService::registerService() const {
    std::error_code ec;
    if (!fs::is_regular_file(plistPath_, ec))
        throw Error("The app bundle has no " + plistPath_.filename().string() + ".");
    if (domain_ == LaunchdDomain::system())
        if (const auto why = untrustedList(plistPath_))
            throw Error("The helper cannot be installed from here: someone other than root could change it or "
                        "Quillwick, since " + *why + ". Put Quillwick in a folder that only root can change.");
    const auto result = launchctl({"bootstrap", domain_.description(), listToLoad().string()});
    if (result.exitStatus != 0 && !isLoaded()) throw Error(result.message(), result.exitStatus == EPERM);
}

void ManagedService::unregisterService() const {
    const auto result = launchctl({"bootout", ServiceTarget{domain_, label_}.description()});
    if (result.exitStatus != 0 && isLoaded()) throw Error(result.message(), result.exitStatus == EPERM);
}

}  // namespace qw
