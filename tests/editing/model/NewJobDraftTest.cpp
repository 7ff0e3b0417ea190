#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "Quillwick/editing/model/NewJobDraft.h"
#include "support/SandboxRoot.h"

namespace qw {
namespace {

TEST(NewJobDraftTest, previewNamesTheJobComExampleJobUntilALabelIsTyped) {
    test::SandboxRoot root;
    NewJobDraft draft;
    JobDefinition preview = draft.previewDefinition();
    EXPECT_EQ(preview.label(), "com.example.job");
    EXPECT_TRUE(preview.standardOutPath()->ends_with("/com.example.job.log"));
    EXPECT_EQ(preview.location->url, root.paths().userLaunchAgents() / "com.example.job.plist");
    EXPECT_FALSE(draft.canCreate());
}

TEST(NewJobDraftTest, switchingTemplatesKeepsSharedInputsAndFillsDefaults) {
    test::SandboxRoot root;
    NewJobDraft draft;
    draft.values = {{"program", "/bin/echo"}, {"arguments", "hi"}};
    draft.selectTemplate(JobTemplate::interval());
    EXPECT_EQ(draft.values, (JobTemplate::Values{{"program", "/bin/echo"}, {"arguments", "hi"}, {"seconds", "3600"}}));
    draft.selectTemplate(JobTemplate::login());
    EXPECT_FALSE(draft.values.contains("seconds"));
    draft.selectTemplate(JobTemplate::schedule());
    EXPECT_EQ(draft.value("hour"), "9");
    EXPECT_EQ(draft.value("minute"), "0");
}

TEST(NewJobDraftTest, createNeedsAValidUnusedLabelAndAProgram) {
    test::SandboxRoot root;
    std::filesystem::create_directories(root.paths().userLaunchAgents());
    std::ofstream(root.paths().userLaunchAgents() / "com.example.backup.plist") << "<plist/>";
    NewJobDraft draft;
    draft.values["program"] = " ";
    for (const std::string& bad : std::vector<std::string>{"-x", ".x", "a b", std::string(256, 'a')}) {
        draft.label = bad;
        EXPECT_FALSE(draft.labelIsValid()) << bad;
        EXPECT_FALSE(draft.canCreate());
    }
    draft.label = "com.example.backup";
    const std::string path = (root.paths().userLaunchAgents() / "com.example.backup.plist").string();
    EXPECT_EQ(draft.duplicateNotice(), "A job with this name already exists at " + path + ".");
    EXPECT_FALSE(draft.canCreate());
    draft.label = "com.example.fresh";
    EXPECT_TRUE(draft.canCreate());
    draft.values["program"] = "";
    EXPECT_FALSE(draft.canCreate());
}

TEST(NewJobDraftTest, previewIssuesHoldOnlyErrorsAndWarnings) {
    test::SandboxRoot root;
    NewJobDraft draft;
    draft.label = "com.example.missing";
    draft.values["program"] = "/no/such/program";
    auto issues = draft.previewIssues();
    ASSERT_FALSE(issues.empty());
    for (const Issue& issue : issues) EXPECT_NE(issue.severity, Issue::Severity::note) << issue.title;

    Job job = draft.jobToLoad();
    EXPECT_EQ(job.label, "com.example.missing");
    EXPECT_EQ(job.definition->location->url, root.paths().userLaunchAgents() / "com.example.missing.plist");
    EXPECT_FALSE(job.status);
}

TEST(NewJobDraftTest, anIntervalLaunchdIgnoresIsRefused) {
    test::SandboxRoot root;
    NewJobDraft draft;
    draft.label = "com.example.tick";
    draft.values["program"] = "/bin/true";
    draft.selectTemplate(JobTemplate::interval());
    const auto checked = [&] { return std::ranges::any_of(draft.previewIssues(), [](const Issue& i) { return i.title == "“StartInterval” is out of range"; }); };
    for (const char* refused : {"0", "-5"}) {
        draft.values["seconds"] = refused;
        EXPECT_EQ(draft.inputProblem("seconds"), "Must be 1 or more") << refused;
        EXPECT_FALSE(draft.canCreate());
        EXPECT_TRUE(checked());
    }
    // Text that is no number writes the default, which launchd takes.
    for (const char* taken : {"1", "+60", "soon"}) {
        draft.values["seconds"] = taken;
        EXPECT_EQ(draft.inputProblem("seconds"), std::nullopt) << taken;
        EXPECT_TRUE(draft.canCreate());
        EXPECT_FALSE(checked());
    }
}

// Create makes the log folder the template names, so the preview does not warn that it is missing.
TEST(NewJobDraftTest, thePreviewDoesNotWarnAboutTheLogFolderCreateMakes) {
    test::SandboxRoot root;
    std::filesystem::remove_all(root.paths().libraryLogs() / "Quillwick");
    NewJobDraft draft;
    draft.selectTemplate(JobTemplate::boot());
    draft.label = "com.example.boot";
    draft.values["program"] = "/bin/true";
    for (const Issue& issue : draft.previewIssues()) EXPECT_NE(issue.title, "The log folder does not exist");
}

}  // namespace
}  // namespace qw
