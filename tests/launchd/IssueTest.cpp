#include "Quillwick/launchd/Issue.h"

#include <gtest/gtest.h>

namespace qw {
namespace {

TEST(Issue, idIsSeverityAndTitle) {
    EXPECT_EQ((Issue{Issue::Severity::warning, "A watched path does not exist", "x", std::nullopt}).id(),
              "1:A watched path does not exist");
    EXPECT_EQ((Issue{Issue::Severity::error, "This job is disabled", "", Fix::enable()}).id(),
              "2:This job is disabled");
    EXPECT_EQ((Issue{Issue::Severity::note, "n", "", std::nullopt}).id(), "0:n");
    // Same id, different issues: equality looks at everything.
    EXPECT_NE((Issue{Issue::Severity::note, "n", "a", std::nullopt}), (Issue{Issue::Severity::note, "n", "b", std::nullopt}));
}

TEST(Issue, severityRawValuesAndOrder) {
    EXPECT_EQ(Issue::severityFromRawValue(2), Issue::Severity::error);
    EXPECT_EQ(Issue::severityFromRawValue(1), Issue::Severity::warning);
    EXPECT_EQ(Issue::severityFromRawValue(0), Issue::Severity::note);
    EXPECT_FALSE(Issue::severityFromRawValue(3));
    EXPECT_FALSE(Issue::severityFromRawValue(-1));
    EXPECT_LT(Issue::Severity::note, Issue::Severity::warning);
    EXPECT_LT(Issue::Severity::warning, Issue::Severity::error);

    std::vector<Issue> list{{Issue::Severity::note, "n1", "", {}},    {Issue::Severity::warning, "w1", "", {}},
                            {Issue::Severity::error, "e1", "", {}},   {Issue::Severity::note, "n2", "", {}},
                            {Issue::Severity::warning, "w2", "", {}}, {Issue::Severity::error, "e2", "", {}}};
    sortBySeverity(list);
    std::vector<std::string> titles;
    for (const auto& i : list) titles.push_back(i.title);
    EXPECT_EQ(titles, (std::vector<std::string>{"e1", "e2", "w1", "w2", "n1", "n2"}));
}

TEST(Fix, titles) {
    EXPECT_EQ(Fix::setLabelToFilename("com.example.job").title(), "Set Label to “com.example.job”");
    EXPECT_EQ(Fix::createDirectory("/tmp/x").title(), "Create Folder");
    EXPECT_EQ(Fix::repairPermissions().title(), "Repair Permissions");
    EXPECT_EQ(Fix::load().title(), "Load");
    EXPECT_EQ(Fix::enable().title(), "Enable");
    EXPECT_NE(Fix::createDirectory("/a"), Fix::createDirectory("/b"));
}

}  // namespace
}  // namespace qw
