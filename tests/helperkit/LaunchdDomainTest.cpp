#include "helperkit/LaunchdDomain.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace qw {
namespace {

using Kind = LaunchdDomain::Kind;

TEST(LaunchdDomain, parsesExactlyTheFiveTextForms) {
    struct Case {
        std::string text;
        std::optional<LaunchdDomain> expected;
    };
    const Case cases[] = {
        {"system", LaunchdDomain::system()},
        {"gui/501", LaunchdDomain::gui(501)},
        {"user/0", LaunchdDomain::user(0)},
        {"user/4294967295", LaunchdDomain::user(4294967295u)},
        {"user/+7", LaunchdDomain::user(7)},
        {"session/-1", LaunchdDomain::session(-1)},
        {"session/-2147483648", LaunchdDomain::session(-2147483647 - 1)},
        {"pid/2147483647", LaunchdDomain::pid(2147483647)},
        {"user/4294967296", std::nullopt},
        {"user/-1", std::nullopt},
        {"pid/2147483648", std::nullopt},
        {"session/-2147483649", std::nullopt},
        {"gui/99999999999999999999999", std::nullopt},
        {"system/", std::nullopt},
        {"system/0", std::nullopt},
        {"gui", std::nullopt},
        {"gui/", std::nullopt},
        {"gui//501", std::nullopt},
        {"gui/501/", std::nullopt},
        {"GUI/501", std::nullopt},
        {"launchd/1", std::nullopt},
        {"gui/ 501", std::nullopt},
        {"gui/501 ", std::nullopt},
        {"gui/5x", std::nullopt},
        {"gui/-", std::nullopt},
        {"gui/0x10", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(LaunchdDomain::parse(c.text), c.expected);
    }
}

TEST(LaunchdDomain, descriptionsParseBackToTheSameDomain) {
    const LaunchdDomain domains[] = {LaunchdDomain::system(), LaunchdDomain::gui(501), LaunchdDomain::user(4294967295u),
                                     LaunchdDomain::session(-1), LaunchdDomain::pid(1)};
    const std::string texts[] = {"system", "gui/501", "user/4294967295", "session/-1", "pid/1"};
    for (std::size_t i = 0; i < std::size(domains); ++i) {
        EXPECT_EQ(domains[i].description(), texts[i]);
        EXPECT_EQ(LaunchdDomain::parse(texts[i]), domains[i]);
    }
    std::unordered_set<LaunchdDomain> set(std::begin(domains), std::end(domains));
    EXPECT_EQ(set.size(), std::size(domains));
    EXPECT_NE(LaunchdDomain::gui(501), LaunchdDomain::user(501));
}

TEST(LaunchdDomain, onlyTheCurrentUsersOwnDomainsNeedNoRoot) {
    const std::uint32_t me = currentUserID();
    const std::uint32_t other = me + 1;
    EXPECT_FALSE(LaunchdDomain::gui(me).requiresRoot());
    EXPECT_FALSE(LaunchdDomain::user(me).requiresRoot());
    EXPECT_FALSE(LaunchdDomain::currentGUI().requiresRoot());
    EXPECT_TRUE(LaunchdDomain::gui(other).requiresRoot());
    EXPECT_TRUE(LaunchdDomain::user(other).requiresRoot());
    EXPECT_TRUE(LaunchdDomain::system().requiresRoot());
    EXPECT_FALSE(LaunchdDomain::session(-1).requiresRoot());
    EXPECT_FALSE(LaunchdDomain::pid(1).requiresRoot());
}

TEST(ServiceTarget, theLastSlashEndsTheDomain) {
    struct Case {
        std::string text;
        std::optional<ServiceTarget> expected;
    };
    const Case cases[] = {
        {"gui/501/com.example.job", ServiceTarget{LaunchdDomain::gui(501), "com.example.job"}},
        {"system/com.example.job", ServiceTarget{LaunchdDomain::system(), "com.example.job"}},
        {"system/not a valid label", ServiceTarget{LaunchdDomain::system(), "not a valid label"}},
        {"gui/501/", std::nullopt},
        {"com.example.job", std::nullopt},
        {"gui/com.example.job", std::nullopt},
        {"gui/501/a/b", std::nullopt},
        {"/com.example.job", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto target = ServiceTarget::parse(c.text);
        EXPECT_EQ(target, c.expected);
        if (target) {
            EXPECT_EQ(target->description(), c.text);
        }
    }
}

TEST(ServiceTarget, labelRule) {
    const std::string valid[] = {"com.example.job", "a", "_job", "job-", "A.b-c_9", std::string(255, 'x')};
    const std::string invalid[] = {"",     ".",         "..",    ".job",       "job.",    "-job",
                                   "a b",  "job/1",     "caf\xC3\xA9", "tab\t", std::string(256, 'x'),
                                   std::string("nul\0", 4)};
    for (const auto& l : valid) EXPECT_TRUE(ServiceTarget::isValidLabel(l)) << l;
    for (const auto& l : invalid) EXPECT_FALSE(ServiceTarget::isValidLabel(l)) << l;
}

}  // namespace
}  // namespace qw
