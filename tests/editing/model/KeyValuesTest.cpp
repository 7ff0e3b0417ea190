#include <gtest/gtest.h>

#include "Quillwick/editing/model/CalendarFields.h"
#include "Quillwick/editing/model/DictionaryEntries.h"
#include "Quillwick/editing/model/KeepAliveChoice.h"
#include "Quillwick/editing/model/KeyValues.h"

namespace qw {
namespace {

using namespace KeyValues;
const LaunchdSchema::Key& key(std::string_view name) { return *LaunchdSchema::key(name); }
JobDefinition with(PlistDictionary root) { return JobDefinition(PlistFile(std::move(root), PlistFormat::xml)); }

TEST(KeyValuesTest, valuesOfTheWrongKindReadAsEmptyAndAreReplacedByTheRightKind) {
    JobDefinition d = with({{"RunAtLoad", 1}, {"StartInterval", 3600.9}, {"ProcessType", PlistValue::array({"Odd", 2})}});
    EXPECT_TRUE(boolean(d, key("RunAtLoad")));
    setBoolean(d, key("RunAtLoad"), false);
    EXPECT_EQ(*d["RunAtLoad"], PlistValue(false));

    EXPECT_EQ(integer(d, key("StartInterval")), PlistValue(3600));
    EXPECT_EQ(*d["StartInterval"], PlistValue(3600.9));
    setInteger(d, key("StartInterval"), 60);
    EXPECT_EQ(*d["StartInterval"], PlistValue(60));

    EXPECT_EQ(text(d, key("ProcessType")), "Odd");
    EXPECT_EQ(readOnlyText(d, key("inetdCompatibility")), "—");
}

TEST(KeyValuesTest, aOneStringListStaysAStringUntilASecondElementArrives) {
    JobDefinition d = with({{"AssociatedBundleIdentifiers", "com.app"}, {"WatchPaths", PlistValue::array({"/a"})}});
    EXPECT_EQ(list(d, key("AssociatedBundleIdentifiers")), std::vector<std::string>{"com.app"});
    setList(d, key("AssociatedBundleIdentifiers"), {"com.other"});
    EXPECT_EQ(*d["AssociatedBundleIdentifiers"], PlistValue("com.other"));
    setList(d, key("AssociatedBundleIdentifiers"), {"com.other", "com.third"});
    EXPECT_EQ(*d["AssociatedBundleIdentifiers"], PlistValue::array({"com.other", "com.third"}));
    setList(d, key("AssociatedBundleIdentifiers"), {"com.other"});
    EXPECT_EQ(*d["AssociatedBundleIdentifiers"], PlistValue::array({"com.other"}));

    setList(d, key("WatchPaths"), {});
    EXPECT_EQ(*d["WatchPaths"], PlistValue(PlistArray{}));
}

TEST(KeyValuesTest, severalSessionTypesGetTheListSoNoneIsCutAndFolderKeysChooseFolders) {
    JobDefinition one = with({{"LimitLoadToSessionType", "Aqua"}});
    JobDefinition two = with({{"LimitLoadToSessionType", PlistValue::array({"Aqua", "Background"})}});
    EXPECT_EQ(controlFor(key("LimitLoadToSessionType"), one), Control::picker);
    EXPECT_EQ(controlFor(key("LimitLoadToSessionType"), two), Control::list);
    EXPECT_FALSE(listHoldsPaths(key("LimitLoadToSessionType")));
    EXPECT_TRUE(listHoldsPaths(key("AssociatedBundleIdentifiers")));
    EXPECT_FALSE(listHoldsPaths(key("ProgramArguments")));
    for (const char* name : {"WorkingDirectory", "RootDirectory", "QueueDirectories"}) EXPECT_TRUE(wantsDirectory(key(name)));
    EXPECT_FALSE(wantsDirectory(key("StandardOutPath")));
}

TEST(KeyValuesTest, integerDictionariesDropWhatDoesNotReadAsAnInteger) {
    JobDefinition d = with({{"SoftResourceLimits", PlistValue::dictionary({{"NumberOfFiles", 256.9}, {"Core", "x"}})}});
    EXPECT_EQ(integerDictionary(d, key("SoftResourceLimits")), (TextDictionary{{"NumberOfFiles", "256"}}));
    setIntegerDictionary(d, key("SoftResourceLimits"), {{"NumberOfFiles", "300"}, {"Stack", "1 0"}, {"Data", ""}});
    EXPECT_EQ(*d["SoftResourceLimits"], PlistValue::dictionary({{"NumberOfFiles", 300}}));

    JobDefinition env = with({{"EnvironmentVariables", PlistValue::dictionary({{"A", "1"}, {"N", 2}})}});
    EXPECT_EQ(textDictionary(env, key("EnvironmentVariables")), (TextDictionary{{"A", "1"}}));
    setTextDictionary(env, key("EnvironmentVariables"), {{"A", "2"}});
    EXPECT_EQ(*env["EnvironmentVariables"], PlistValue::dictionary({{"A", "2"}}));
}

TEST(KeepAliveChoiceTest, theConditionalChoiceIsConditionsWithNoneSet) {
    using namespace KeepAliveChoice;
    EXPECT_EQ(valueFor(Mode::conditional), KeepAlive::conditional({}));
    EXPECT_EQ(mode(KeepAlive::always()), Mode::always);

    KeepAlive v = setting(KeepAlive::always(), Condition::afterCrash, true);
    EXPECT_EQ(*v.plistValue(), PlistValue::dictionary({{"Crashed", true}}));
    // Unticking the only condition keeps the choice with nothing set, stored as restarting on nothing.
    const KeepAlive none = setting(v, Condition::afterCrash, false);
    EXPECT_EQ(mode(none), Mode::conditional);
    JobDefinition d(PlistFile(PlistDictionary{{"KeepAlive", true}}, PlistFormat::xml));
    KeyValues::setKeepAlive(d, none);
    EXPECT_EQ(*d["KeepAlive"], PlistValue(PlistDictionary{}));
}

TEST(KeepAliveChoiceTest, checkboxesShareSuccessfulExitAndKeepWhatTheyDoNotEdit) {
    using namespace KeepAliveChoice;
    KeepAlive::Conditions c;
    c.successfulExit = false;
    c.afterInitialDemand = true;
    c.pathState = {{"/tmp/x", true}};
    KeepAlive v = KeepAlive::conditional(c);
    EXPECT_TRUE(isTicked(v, Condition::afterFailure));
    EXPECT_FALSE(isTicked(v, Condition::afterSuccess));
    EXPECT_TRUE(hasUneditableConditions(v));

    KeepAlive after = setting(v, Condition::afterSuccess, true);
    EXPECT_FALSE(isTicked(after, Condition::afterFailure));
    EXPECT_EQ(after.conditions().successfulExit, true);
    EXPECT_EQ(after.conditions().afterInitialDemand, true);
    EXPECT_EQ(after.conditions().pathState, c.pathState);
    EXPECT_EQ(setting(after, Condition::afterSuccess, false).conditions().successfulExit, std::nullopt);
}

TEST(CalendarFieldsTest, typedTextIsTakenOnlyWithinTheFieldsBounds) {
    const auto& hour = CalendarFields::all[0];
    const auto& weekday = CalendarFields::all[3];
    const auto& day = CalendarFields::all[2];
    struct Case {
        const CalendarFields::Field& field;
        std::string text;
        std::optional<std::int64_t> expected;
    };
    const Case cases[] = {{hour, "24", 7},      {hour, "23", 23},      {hour, "+5", 5},          {hour, "05", 5},
                          {hour, "", std::nullopt}, {hour, " 5", 7}, {hour, "a", 7},           {weekday, "0", 0},
                          {weekday, "7", 7},    {weekday, "8", 7},    {day, "0", 7}};
    for (const Case& c : cases)
        EXPECT_EQ(CalendarFields::valueFromText(c.text, c.field, 7), c.expected) << c.field.title << " " << c.text;
    EXPECT_EQ(CalendarFields::text(5), "5");
}

TEST(DictionaryEntriesTest, newKeysAreNumberedFromTwoAndRenamesRefuseEmptyOrTakenNames) {
    using DictionaryEntries::Map;
    EXPECT_EQ(DictionaryEntries::nextNewKey({}), "NEW_KEY");
    EXPECT_EQ(DictionaryEntries::nextNewKey({{"NEW_KEY", ""}}), "NEW_KEY_2");
    EXPECT_EQ(DictionaryEntries::nextNewKey({{"NEW_KEY", ""}, {"NEW_KEY_3", ""}}), "NEW_KEY_2");
    EXPECT_EQ(DictionaryEntries::nextNewKey({{"NEW_KEY_2", ""}}), "NEW_KEY");

    Map m{{"PATH", "/bin"}, {"HOME", "/h"}};
    EXPECT_EQ(DictionaryEntries::renamed(m, "PATH", "LANG"), (Map{{"LANG", "/bin"}, {"HOME", "/h"}}));
    EXPECT_EQ(DictionaryEntries::renameProblem(m, "PATH", ""), "A key cannot be empty.");
    EXPECT_EQ(DictionaryEntries::renameProblem(m, "PATH", "HOME"), "There is already a key named “HOME”.");
    EXPECT_EQ(DictionaryEntries::renamed(m, "PATH", "HOME"), m);
    EXPECT_EQ(DictionaryEntries::renameProblem(m, "PATH", "PATH"), std::nullopt);
}

}  // namespace
}  // namespace qw
