// NewJobDraft: what the New Job sheet holds and derives — the chosen template, the label and inputs
// typed, the definition that would be written, the checks that decide whether Create is allowed, and
// the problems the job checker already sees. It writes nothing; the existence tests read the disk.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Quillwick/editing/model/JobTemplate.h"
#include "Quillwick/launchd/Issue.h"
#include "Quillwick/launchd/Job.h"

namespace qw {

class NewJobDraft {
public:
    NewJobDraft() = default;  // the first template, nothing typed, load after creating

    const JobTemplate& jobTemplate() const { return *template_; }
    // Keeps what was typed under the new template's parameter ids, fills the rest with their
    // defaults, and drops the values of ids the new template does not have.
    void selectTemplate(const JobTemplate& chosen);

    std::string label;
    JobTemplate::Values values;
    bool loadAfterCreating = true;

    std::string value(const std::string& parameterId) const;
    // The label, or "com.example.job" while none is typed.
    std::string previewName() const;
    // The template's definition, located where the file would go.
    JobDefinition previewDefinition() const;
    // The definition Create writes: named after the typed label.
    JobDefinition definitionToCreate() const;
    // The job Create loads.
    Job jobToLoad() const;

    bool labelIsValid() const;
    // "A job with this name already exists at <path>." when the file is there.
    std::optional<std::string> duplicateNotice() const;
    // Why launchd would ignore what an input makes of its key ("Must be 1 or more"), or nothing when it
    // takes it. Text that is no number falls back to the template's default, which it takes.
    std::optional<std::string> inputProblem(const std::string& parameterId) const;
    bool canCreate() const;
    // The checker's errors and warnings for the preview, in its order. Inputs still empty are not
    // judged: nothing typed yet is no mistake yet; nor are log folders, which Create makes.
    std::vector<Issue> previewIssues() const;
    // When the preview runs; nothing while a watched path, which the sentence names, is still empty.
    std::string scheduleSentence() const;

    static constexpr const char* labelHint =
        "Use letters, digits, dots, dashes and underscores — by convention, reverse-DNS like com.example.backup.";

private:
    const JobTemplate* template_ = &JobTemplate::all().front();
};

}  // namespace qw
