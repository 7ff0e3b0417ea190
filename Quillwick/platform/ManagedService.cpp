#include "Quillwick/platform/ManagedService.h"

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

}  // namespace

ManagedService::ManagedService(fs::path plistPath, LaunchdDomain domain)
    : plistPath_(std::move(plistPath)), domain_(domain), label_(plistPath_.stem().string()) {
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
    return ManagedService(bundle / "Contents" / "Library" / "LoginItems" / plistName, LaunchdDomain::currentGUI());
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

void ManagedService::registerService() const {
    std::error_code ec;
    if (!fs::is_regular_file(plistPath_, ec))
        throw Error("The app bundle has no " + plistPath_.filename().string() + ".");
    const auto result = launchctl({"bootstrap", domain_.description(), plistPath_.string()});
    if (result.exitStatus != 0 && !isLoaded()) throw Error(result.message());
}

void ManagedService::unregisterService() const {
    const auto result = launchctl({"bootout", ServiceTarget{domain_, label_}.description()});
    if (result.exitStatus != 0 && isLoaded()) throw Error(result.message());
}

}  // namespace qw
