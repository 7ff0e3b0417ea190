#include "helperkit/PeerRequirement.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "support/SandboxRoot.h"

namespace qw {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// Whom the files are given to: a uid with no passwd entry, a plain user of no group.
constexpr uid_t someoneElse = 4242;

fs::path made(const fs::path& path, unsigned mode, uid_t owner = 0, bool folder = false) {
    fs::create_directories(path.parent_path());
    if (folder)
        fs::create_directory(path);
    else
        std::ofstream(path) << "program";
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    EXPECT_EQ(::chown(path.c_str(), owner, owner), 0);
    return path;
}

TEST(PeerRequirement, onlyWhatNoOneButRootCanChangeIsTrusted) {
    if (::geteuid() != 0) GTEST_SKIP() << "Needs root to give files away";
    test::TemporaryFolder folder;  // under /tmp, which is sticky and open to all
    const fs::path& at = folder.path();
    made(at / "root", 0755, 0, true);
    const fs::path trusted = made(at / "root/program", 0755);
    made(at / "sticky", 01777, 0, true);
    made(at / "open", 0777, 0, true);
    made(at / "shared", 0775, 0, true);
    made(at / "theirs", 0755, someoneElse, true);
    fs::create_symlink(trusted, at / "root/link");
    fs::create_symlink(made(at / "theirs/program", 0755), at / "root/link-out");
    fs::create_symlink(trusted, at / "sticky/planted");
    ASSERT_EQ(::lchown((at / "sticky/planted").c_str(), someoneElse, someoneElse), 0);

    const struct {
        fs::path path;
        std::string refusal;  // empty: trusted
    } cases[] = {
        {trusted, ""},
        {made(at / "sticky/program", 0755), ""},
        {at / "root/link", ""},
        {made(at / "root/writable", 0775), (at / "root/writable").string() + " may be written by others than its owner (mode 775)"},
        {made(at / "open/program", 0755), (at / "open").string() + " may be written by others than its owner (mode 777)"},
        {made(at / "shared/program", 0755), (at / "shared").string() + " may be written by others"},
        {made(at / "sticky/dropped", 0755, someoneElse), (at / "sticky/dropped").string() + " belongs to uid 4242, not to root"},
        {at / "theirs/program", (at / "theirs").string() + " belongs to uid 4242"},
        {at / "root/link-out", (at / "theirs").string() + " belongs to uid 4242"},
        {at / "sticky/planted", (at / "sticky/planted").string() + " belongs to uid 4242"},
        {at / "root/missing", (at / "root/missing").string() + " cannot be looked at"},
    };
    for (const auto& c : cases) {
        const auto refusal = HelperSocket::othersMayChange(c.path);
        if (c.refusal.empty())
            EXPECT_EQ(refusal, std::nullopt) << c.path;
        else
            EXPECT_THAT(refusal.value_or("trusted"), HasSubstr(c.refusal)) << c.path;
    }

    // In a sandbox its owner stands in for root.
    const SystemPaths::Override sandbox(SystemPaths::forRoot(at / "theirs"));
    EXPECT_EQ(HelperSocket::othersMayChange(at / "theirs/program"), std::nullopt);
}

}  // namespace
}  // namespace qw
