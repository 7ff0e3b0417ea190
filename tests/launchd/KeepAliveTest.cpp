#include <gtest/gtest.h>

#include "Quillwick/launchd/KeepAlive.h"

namespace qw {
namespace {

using Conditions = KeepAlive::Conditions;

TEST(KeepAliveTest, readsEveryKindOfValue) {
    struct Case {
        const char* name;
        std::optional<PlistValue> value;
        KeepAlive expected;
    };
    Conditions successFalseCrashed;
    successFalseCrashed.successfulExit = false;
    successFalseCrashed.crashed = true;
    Conditions numericFlags;
    numericFlags.networkState = true;
    numericFlags.afterInitialDemand = false;
    Conditions paths;
    paths.pathState = {{"/a", true}};
    paths.otherJobEnabled = {{"com.example.other", false}};

    const Case cases[] = {
        {"absent", std::nullopt, KeepAlive::never()},
        {"string", PlistValue("true"), KeepAlive::never()},
        {"real", PlistValue(1.0), KeepAlive::never()},
        {"array", PlistValue::array({true}), KeepAlive::never()},
        {"date", PlistValue(PlistDate{5}), KeepAlive::never()},
        {"false", PlistValue(false), KeepAlive::never()},
        {"zero", PlistValue(0), KeepAlive::never()},
        {"true", PlistValue(true), KeepAlive::always()},
        {"five", PlistValue(5), KeepAlive::always()},
        {"empty dictionary", PlistValue(PlistDictionary{}), KeepAlive::conditional({})},
        {"unknown keys only", PlistValue::dictionary({{"Whatever", true}}), KeepAlive::conditional({})},
        {"two flags", PlistValue::dictionary({{"SuccessfulExit", false}, {"Crashed", true}}),
         KeepAlive::conditional(successFalseCrashed)},
        {"integer flags, bad types dropped",
         PlistValue::dictionary({{"NetworkState", 2}, {"AfterInitialDemand", 0}, {"Crashed", "yes"},
                                 {"SuccessfulExit", 1.0}}),
         KeepAlive::conditional(numericFlags)},
        {"path and job maps",
         PlistValue::dictionary({{"PathState", PlistValue::dictionary({{"/a", 1}, {"/b", "yes"}})},
                                 {"OtherJobEnabled", PlistValue::dictionary({{"com.example.other", false}})}}),
         KeepAlive::conditional(paths)},
        {"path state as array", PlistValue::dictionary({{"PathState", PlistValue::array({"/a"})}}),
         KeepAlive::conditional({})},
    };
    for (const Case& c : cases) {
        const KeepAlive read = c.value ? KeepAlive::fromPlistValue(*c.value) : KeepAlive::fromPlistValue(nullptr);
        EXPECT_EQ(read, c.expected) << c.name;
    }
}

TEST(KeepAliveTest, writesWhatLaunchdExpects) {
    EXPECT_FALSE(KeepAlive::never().plistValue());
    EXPECT_EQ(KeepAlive::always().plistValue(), PlistValue(true));
    // A conditional value with nothing set would otherwise write an empty dictionary.
    EXPECT_EQ(KeepAlive::conditional({}).plistValue(), PlistValue(true));

    Conditions demand;
    demand.afterInitialDemand = true;
    EXPECT_EQ(KeepAlive::conditional(demand).plistValue(), PlistValue::dictionary({{"AfterInitialDemand", true}}));

    Conditions all;
    all.successfulExit = false;
    all.crashed = true;
    all.afterInitialDemand = false;
    all.networkState = true;
    all.pathState = {{"/a", true}, {"/b", false}};
    all.otherJobEnabled = {{"com.example.x", true}};
    const auto written = KeepAlive::conditional(all).plistValue();
    ASSERT_TRUE(written);
    EXPECT_EQ(written->dictionaryValue()->find("SuccessfulExit")->kind(), PlistValue::Kind::boolean);
    EXPECT_EQ(KeepAlive::fromPlistValue(*written), KeepAlive::conditional(all));
}

TEST(KeepAliveTest, summarySaysWhenTheJobIsRestarted) {
    struct Case {
        PlistValue value;
        std::string summary;
    };
    const Case cases[] = {
        {false, "is not restarted when it stops"},
        {true, "is restarted whenever it stops"},
        // launchd acts on no condition here, as the editor and the stand-in launchd agree.
        {PlistDictionary{}, "is not restarted when it stops"},
        {PlistValue::dictionary({{"Restart", true}}), "is not restarted when it stops"},
        {PlistValue::dictionary({{"SuccessfulExit", false}, {"Crashed", true}}), "is restarted when it fails or it crashes"},
        {PlistValue::dictionary({{"SuccessfulExit", true}}), "is restarted when it finishes successfully"},
        {PlistValue::dictionary({{"Crashed", false}}), "is restarted under certain conditions"},
        {PlistValue::dictionary({{"NetworkState", false}}), "is restarted under certain conditions"},
        {PlistValue::dictionary({{"AfterInitialDemand", true}}), "is restarted under certain conditions"},
        // These hold the job running; they are not restarts after an exit.
        {PlistValue::dictionary({{"OtherJobEnabled", PlistValue::dictionary({{"x", true}})},
                                 {"PathState", PlistValue::dictionary({{"/a", false}, {"/b", true}})},
                                 {"NetworkState", true}}),
         "is kept running while /a does not exist or /b exists or x is loaded or the network is up"},
        {PlistValue::dictionary({{"Crashed", true}, {"PathState", PlistValue::dictionary({{"/etc/rc.local", true}})}}),
         "is restarted when it crashes and kept running while /etc/rc.local exists"},
    };
    for (const Case& c : cases) EXPECT_EQ(KeepAlive::fromPlistValue(c.value).summary(), c.summary);
}

TEST(KeepAliveTest, casesAndConditionsCompareStructurally) {
    EXPECT_NE(KeepAlive::always(), KeepAlive::conditional({}));
    EXPECT_NE(KeepAlive::never(), KeepAlive::conditional({}));
    Conditions unset;
    Conditions setFalse;
    setFalse.crashed = false;
    EXPECT_NE(unset, setFalse);
    EXPECT_NE(unset.hash(), setFalse.hash());
    EXPECT_EQ(KeepAlive::conditional(setFalse).hash(), KeepAlive::conditional(setFalse).hash());
}

}  // namespace
}  // namespace qw
