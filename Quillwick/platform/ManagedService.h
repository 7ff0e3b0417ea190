// The stand-in for the platform's service management: a launchd job that the application registers from
// a property list inside its own bundle. The helper daemon lives in Contents/Library/LaunchDaemons and is
// registered in the system domain; the login item lives in Contents/Library/LoginItems and is registered
// in the user's gui domain. Registering bootstraps the list into the stand-in launchd, which starts it;
// the status is read from launchd on every call. A login item's list names its program inside the bundle
// (BundleProgram), as on the Mac; the stand-in launchd reads only absolute paths, so registering loads a
// copy that names the program in the bundle the application runs from, wherever that bundle now lies.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include "helperkit/LaunchdDomain.h"

namespace qw {

class ManagedService {
public:
    // The platform's raw values.
    enum class Status { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

    // A refusal of launchd; what() is its message.
    struct Error : std::runtime_error {
        explicit Error(const std::string& message, bool notPermitted = false)
            : std::runtime_error(message), notPermitted(notPermitted) {}
        // launchd does not let this user make the change.
        bool notPermitted;
    };

    // The helper daemon of the given bundle, e.g. daemon(bundle, "com.tarnmoor.quillwick.helper.plist").
    static ManagedService daemon(const std::filesystem::path& bundle, const std::string& plistName);
    // A login item of the given bundle, in the current user's gui domain; its resolved copy goes into the
    // application's own Application Support folder.
    static ManagedService loginItem(const std::filesystem::path& bundle, const std::string& plistName);

    // notFound when the bundle lacks the list; requiresApproval when it is loaded but the machine holds it
    // for the user's approval (the stand-in's private/var/db/launchd/needs-approval); enabled when loaded.
    Status status() const;
    // Both block until launchctl is done and throw Error on a refusal. Registering what is already
    // loaded, or unregistering what is not, is not an error.
    void registerService() const;
    void unregisterService() const;

    const std::filesystem::path& plistPath() const { return plistPath_; }
    const std::string& label() const { return label_; }
    const LaunchdDomain& domain() const { return domain_; }

private:
    ManagedService(std::filesystem::path plistPath, LaunchdDomain domain, std::filesystem::path resolvedFolder = {});
    bool isLoaded() const;
    // The list launchd loads: the bundle's own, or its copy with the program resolved.
    std::filesystem::path listToLoad() const;

    std::filesystem::path plistPath_;
    // Empty for the helper daemon: root must never load a list from a folder the user can write.
    std::filesystem::path resolvedFolder_;
    LaunchdDomain domain_;
    std::string label_;
};

}  // namespace qw
