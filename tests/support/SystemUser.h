// A real user of this machine for one test, removed afterwards; an administrator is put in sudo. Its
// name is the given prefix and the test's pid, so that runs side by side do not meet.
#pragma once

#include <pwd.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "helperkit/Subprocess.h"
#include "support/Eventually.h"

namespace qw::test {

class SystemUser {
public:
    SystemUser(const std::string& prefix, bool administrator) : name_(prefix + std::to_string(::getpid())) {
        std::vector<std::string> arguments{"-M", "-N", "-s", "/usr/sbin/nologin"};
        if (administrator) arguments.insert(arguments.end(), {"-G", "sudo"});
        arguments.push_back(name_);
        whileLocked("/usr/sbin/useradd", arguments);
        if (const passwd* entry = ::getpwnam(name_.c_str())) {
            uid_ = entry->pw_uid;
            gid_ = entry->pw_gid;
        }
    }
    ~SystemUser() {
        if (exists()) whileLocked("/usr/sbin/userdel", {"-f", name_});
    }
    SystemUser(const SystemUser&) = delete;
    SystemUser& operator=(const SystemUser&) = delete;

    bool exists() const { return uid_ != 0; }
    const std::string& name() const { return name_; }
    uid_t uid() const { return uid_; }
    gid_t gid() const { return gid_; }

private:
    // useradd and userdel give up at once (status 10) while another holds the user database's lock.
    static void whileLocked(const std::string& program, const std::vector<std::string>& arguments) {
        eventually([&] { return Subprocess::run(program, arguments).exitStatus != 10; });
    }

    std::string name_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
};

}  // namespace qw::test
