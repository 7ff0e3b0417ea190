#include <gtest/gtest.h>

#include <set>

#include "Quillwick/launchd/LaunchdSchema.h"

namespace qw {
namespace {

namespace S = LaunchdSchema;

TEST(LaunchdSchemaTest, catalogueHasSixtyUniqueKeysGroupedBySectionInOrder) {
    const auto& all = S::allKeys();
    ASSERT_EQ(all.size(), 60u);

    std::set<std::string> names;
    for (const S::Key& key : all) EXPECT_TRUE(names.insert(key.name).second) << "duplicate " << key.name;
    EXPECT_EQ(S::keysByName().size(), 60u);

    for (std::size_t i = 1; i < all.size(); ++i) {
        EXPECT_LE(int(all[i - 1].section), int(all[i].section)) << all[i].name << " is out of its section";
    }

    const std::size_t expectedCounts[] = {2, 18, 12, 1, 3, 7, 3, 10, 4};
    std::vector<std::string> concatenated;
    for (S::Section section : S::Section::allCases()) {
        auto keys = S::keys(section);
        EXPECT_EQ(keys.size(), expectedCounts[int(section)]) << section.rawValue();
        for (const S::Key& key : keys) {
            EXPECT_EQ(key.section, section) << key.name;
            concatenated.push_back(key.name);
        }
    }
    std::vector<std::string> allNames;
    for (const S::Key& key : all) allNames.push_back(key.name);
    EXPECT_EQ(concatenated, allNames);

    EXPECT_EQ(S::keys(S::Section::environment).front().name, "EnvironmentVariables");
    EXPECT_EQ(S::keys(S::Section::execution).front().name, "ProgramArguments");
    EXPECT_EQ(S::keys(S::Section::identity).front().name, "Label");
    EXPECT_EQ(all.back().name, "NoEnvironmentVariables");
}

TEST(LaunchdSchemaTest, everyKeyExplainsItself) {
    // The keys whose help is only a summary; every other key has a detail as well.
    const std::set<std::string> summaryOnly = {
        "GroupName", "InitGroups", "POSIXSpawnType", "RunLoopType", "MaterializeDatalessFiles",
        "LimitLoadToHardware", "LimitLoadFromHardware", "DisabledInSafeBoot", "JetsamProperties",
        "MultipleInstances", "Version", "NoEnvironmentVariables", "EnableGlobbing", "OnDemand",
        "inetdCompatibility", "ServiceIPC", "HopefullyExitsLast",
    };
    int deprecatedCount = 0;
    int privateCount = 0;
    for (const S::Key& key : S::allKeys()) {
        EXPECT_FALSE(key.summary.empty()) << key.name;
        EXPECT_EQ(key.summary.find('\n'), std::string::npos) << key.name;
        EXPECT_EQ(key.detail.has_value(), !summaryOnly.count(key.name)) << key.name;
        if (key.detail) {
            EXPECT_FALSE(key.detail->empty()) << key.name;
        }
        EXPECT_TRUE(key.conflicts.empty()) << key.name;
        EXPECT_EQ(key.isDeprecated, key.deprecationNote.has_value()) << key.name;
        if (key.allowedValues) {
            EXPECT_FALSE(key.allowedValues->empty()) << key.name;
        }
        deprecatedCount += key.isDeprecated;
        privateCount += key.isPrivate;
    }
    EXPECT_EQ(deprecatedCount, 5);
    EXPECT_EQ(privateCount, 10);

    const S::Key* keepAlive = S::key("KeepAlive");
    ASSERT_TRUE(keepAlive);
    EXPECT_NE(keepAlive->detail->find("\n\n"), std::string::npos);  // two paragraphs
    EXPECT_EQ(keepAlive->shape, S::Shape::booleanOrConditions({"SuccessfulExit", "Crashed", "NetworkState", "PathState",
                                                               "OtherJobEnabled", "AfterInitialDemand"}));
    EXPECT_NE(keepAlive->shape, S::Shape::booleanOrConditions({"Crashed"}));
    EXPECT_NE(keepAlive->shape, S::Shape(S::Shape::Kind::boolean));
}

TEST(LaunchdSchemaTest, applicabilityAndAllowedValuesWhereLaunchdRestrictsThem) {
    for (const char* name : {"UserName", "GroupName", "InitGroups"})
        EXPECT_EQ(S::key(name)->applicability, S::Applicability::daemons) << name;
    EXPECT_EQ(S::key("LimitLoadToSessionType")->applicability, S::Applicability::agents);
    EXPECT_EQ(S::key("RunAtLoad")->applicability, S::Applicability::any);

    EXPECT_EQ(S::key("ProcessType")->allowedValues,
              (std::vector<std::string>{"Background", "Standard", "Adaptive", "Interactive"}));
    EXPECT_EQ(S::key("RunLoopType")->allowedValues, (std::vector<std::string>{"NSRunLoop", "dispatch"}));
    int withAllowedValues = 0;
    for (const S::Key& key : S::allKeys()) withAllowedValues += key.allowedValues.has_value();
    EXPECT_EQ(withAllowedValues, 4);
}

TEST(LaunchdSchemaTest, lookupsAreExactAndTyposPointAtRealKeys) {
    EXPECT_TRUE(S::isKnown("KeepAlive"));
    EXPECT_FALSE(S::isKnown("keepalive"));
    EXPECT_FALSE(S::isKnown("Keepalive"));
    EXPECT_FALSE(S::isKnown(""));
    EXPECT_EQ(S::key("Umask")->shape, S::Shape::Kind::integer);
    EXPECT_EQ(S::key("Umask"), &S::keysByName().at("Umask"));

    const auto& typos = S::typos();
    EXPECT_EQ(typos.size(), 12u);
    for (const auto& [misspelling, name] : typos) {
        EXPECT_FALSE(S::isKnown(misspelling)) << misspelling;
        EXPECT_TRUE(S::isKnown(name)) << name;
    }
    EXPECT_EQ(typos.at("Keepalive"), "KeepAlive");
    EXPECT_FALSE(typos.count("keepalive"));
}

TEST(LaunchdSchemaTest, sectionsReadBackFromTheirTitlesOnly) {
    for (S::Section section : S::Section::allCases()) {
        EXPECT_EQ(S::Section::fromRawValue(section.rawValue()), section);
        EXPECT_FALSE(section.summary().empty());
    }
    EXPECT_EQ(S::Section::fromRawValue("When It Runs"), S::Section::scheduling);
    EXPECT_FALSE(S::Section::fromRawValue("scheduling"));
    EXPECT_FALSE(S::Section::fromRawValue("when it runs"));
}

}  // namespace
}  // namespace qw
