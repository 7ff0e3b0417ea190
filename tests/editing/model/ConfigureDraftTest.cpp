#include <gtest/gtest.h>

#include "Quillwick/editing/model/ConfigureDraft.h"

namespace qw {
namespace {

Job jobWith(PlistDictionary root, JobDirectory directory = JobDirectory::userAgents, std::string label = "com.example.a") {
    Job job;
    job.label = label;
    job.directory = directory;
    job.definition = JobDefinition(PlistFile(std::move(root), PlistFormat::binary),
                                   JobLocation::forLabel(directory, label));
    return job;
}

const LaunchdSchema::Key& key(std::string_view name) { return *LaunchdSchema::key(name); }

TEST(ConfigureDraftTest, editsSurviveARescanOfTheSameJobButNotAnotherJob) {
    ConfigureDraft draft(jobWith({{"Label", "com.example.a"}}), false);
    EXPECT_FALSE(draft.draft());
    draft.take();
    draft.addKey(key("RunAtLoad"));
    EXPECT_TRUE(draft.hasChanges());

    // The store rescans: same id, a file changed elsewhere; the unsaved edit stays.
    draft.setJob(jobWith({{"Label", "com.example.a"}, {"Disabled", true}}), false);
    EXPECT_TRUE(draft.draft()->find("RunAtLoad"));
    EXPECT_FALSE(draft.draft()->find("Disabled"));

    draft.setJob(jobWith({{"Label", "com.example.b"}}, JobDirectory::userAgents, "com.example.b"), false);
    EXPECT_EQ(draft.draft()->label(), "com.example.b");
    EXPECT_FALSE(draft.hasChanges());
}

TEST(ConfigureDraftTest, anUneditedDraftFollowsTheFileSoSaveCannotUndoAnotherTabsChange) {
    ConfigureDraft draft(jobWith({{"Label", "com.example.a"}}), false);
    draft.take();
    draft.setJob(jobWith({{"Label", "com.example.a"}, {"RunAtLoad", true}}), false);
    EXPECT_TRUE(draft.draft()->find("RunAtLoad"));
    EXPECT_FALSE(draft.hasChanges());
}

TEST(ConfigureDraftTest, changingAValueBackLeavesNoChangesAndSaveRetakesTheStoredFile) {
    ConfigureDraft draft(jobWith({{"Label", "com.example.a"}, {"RunAtLoad", true}}), false);
    draft.take();
    JobDefinition edited = draft.value();
    edited.set("RunAtLoad", PlistValue(false));
    draft.setValue(edited);
    EXPECT_TRUE(draft.hasChanges());
    edited.set("RunAtLoad", PlistValue(true));
    draft.setValue(edited);
    EXPECT_FALSE(draft.hasChanges());

    edited.set("StartInterval", PlistValue(60));
    draft.setValue(edited);
    const JobDefinition written = *draft.draft();
    Job reloaded = jobWith(written.file.root);
    draft.setJob(reloaded, false);
    draft.saved(written);
    EXPECT_FALSE(draft.hasChanges());
    EXPECT_EQ(draft.draft(), reloaded.definition);
}

TEST(ConfigureDraftTest, onlyAReadableFileOutsideTheSystemFoldersIsEditable) {
    EXPECT_TRUE(ConfigureDraft(jobWith({}), false).isEditable());
    EXPECT_FALSE(ConfigureDraft(jobWith({}, JobDirectory::systemDaemons), true).isEditable());

    Job broken = jobWith({});
    broken.definition->loadFailure = "Could not read com.example.a.plist: bad";
    ConfigureDraft unreadable(broken, false);
    EXPECT_TRUE(unreadable.isUnreadable());
    EXPECT_FALSE(unreadable.isEditable());

    Job runtime;
    runtime.label = "com.app.helper";
    ConfigureDraft noFile(runtime, false);
    EXPECT_FALSE(noFile.isEditable());
    EXPECT_EQ(noFile.value().file.root, (PlistDictionary{{"Label", "com.app.helper"}}));
}

TEST(ConfigureDraftTest, addedKeysGetTheirShapesDefaultAndLeaveTheAddMenu) {
    ConfigureDraft draft(jobWith({{"Label", "com.example.a"}, {"_Private", 1}, {"Keepalive", true}}), false);
    draft.take();
    draft.addKey(key("RunAtLoad"));
    draft.addKey(key("StartCalendarInterval"));
    draft.addKey(key("EnvironmentVariables"));
    EXPECT_EQ(*draft.value()["RunAtLoad"], PlistValue(true));
    EXPECT_EQ(*draft.value()["StartCalendarInterval"], PlistValue::dictionary({{"Hour", 9}, {"Minute", 0}}));
    EXPECT_EQ(*draft.value()["EnvironmentVariables"], PlistValue(PlistDictionary{}));

    auto names = [](const std::vector<const LaunchdSchema::Key*>& keys) {
        std::vector<std::string> result;
        for (auto* k : keys) result.push_back(k->name);
        return result;
    };
    auto shown = names(draft.keysShown(LaunchdSchema::Section::scheduling));
    EXPECT_NE(std::find(shown.begin(), shown.end(), "RunAtLoad"), shown.end());
    auto offered = names(draft.keysOffered(LaunchdSchema::Section::scheduling));
    EXPECT_EQ(std::find(offered.begin(), offered.end(), "RunAtLoad"), offered.end());
    for (const LaunchdSchema::Key& k : LaunchdSchema::allKeys()) {
        for (auto* o : draft.keysOffered(k.section)) EXPECT_FALSE(o->isDeprecated) << o->name;
    }
    EXPECT_EQ(draft.unknownKeys(), (std::vector<std::string>{"Keepalive", "_Private"}));

    draft.removeKey("_Private");
    draft.removeKey("Keepalive");
    EXPECT_TRUE(draft.unknownKeys().empty());
}

}  // namespace
}  // namespace qw
