#include "Quillwick/editing/model/NewJobDraft.h"

#include <algorithm>
#include <string_view>
#include <system_error>
#include <utility>

#include "Quillwick/editing/model/KeyValues.h"
#include "Quillwick/launchd/FileFacts.h"
#include "Quillwick/launchd/JobDiagnostics.h"
#include "helperkit/LaunchdDomain.h"

namespace qw {

void NewJobDraft::selectTemplate(const JobTemplate& chosen) {
    if (chosen.id() == template_->id()) return;
    JobTemplate::Values fresh;
    for (const JobTemplate::Parameter& p : chosen.parameters()) {
        auto typed = values.find(p.id);
        fresh[p.id] = typed != values.end() ? typed->second : p.defaultValue;
    }
    values = std::move(fresh);
    template_ = &chosen;
}

std::string NewJobDraft::value(const std::string& parameterId) const {
    auto it = values.find(parameterId);
    return it == values.end() ? std::string() : it->second;
}

std::string NewJobDraft::previewName() const { return label.empty() ? "com.example.job" : label; }

JobDefinition NewJobDraft::previewDefinition() const {
    JobDefinition definition = template_->build(previewName(), values);
    definition.location = JobLocation::forLabel(template_->directory(), previewName());
    return definition;
}

JobDefinition NewJobDraft::definitionToCreate() const {
    JobDefinition definition = previewDefinition();
    definition.location = JobLocation::forLabel(template_->directory(), label);
    return definition;
}

Job NewJobDraft::jobToLoad() const {
    Job job;
    job.label = label;
    job.definition = definitionToCreate();
    job.directory = template_->directory();
    return job;
}

bool NewJobDraft::labelIsValid() const { return ServiceTarget::isValidLabel(label); }

std::optional<std::string> NewJobDraft::duplicateNotice() const {
    if (label.empty()) return std::nullopt;
    const std::filesystem::path path = JobLocation::forLabel(template_->directory(), label).url;
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return std::nullopt;
    return "A job with this name already exists at " + path.string() + ".";
}

std::optional<std::string> NewJobDraft::inputProblem(const std::string& parameterId) const {
    // The inputs that become a key whose numbers launchd limits.
    static constexpr std::pair<std::string_view, std::string_view> limited[] = {{"seconds", "StartInterval"}};
    for (const auto& [id, key] : limited) {
        if (id != parameterId || !values.contains(parameterId)) continue;
        const JobDefinition preview = previewDefinition();
        if (const PlistValue* number = preview.find(key)) return KeyValues::integerProblem(*LaunchdSchema::key(key), *number);
    }
    return std::nullopt;
}

bool NewJobDraft::canCreate() const {
    if (!labelIsValid() || duplicateNotice() || value("program").empty()) return false;
    return std::ranges::none_of(template_->parameters(), [this](const auto& p) { return inputProblem(p.id).has_value(); });
}

std::vector<Issue> NewJobDraft::previewIssues() const {
    Job job;
    job.definition = previewDefinition();
    job.label = job.definition->label();
    job.directory = template_->directory();
    Diagnostics::FileFacts facts(job);
    std::erase(facts.missingWatchPaths, std::string());
    facts.missingLogDirectories.clear();
    // An empty program is "relative" to the checker, which says so; the field has not been filled in yet.
    const bool noProgram = job.definition->executablePath() == "";
    std::vector<Issue> issues;
    for (Issue& issue : Diagnostics::issues(job, facts, {})) {
        if (issue.severity == Issue::Severity::note) continue;
        if (noProgram && issue.title == "The program is a relative path") continue;
        issues.push_back(std::move(issue));
    }
    return issues;
}

std::string NewJobDraft::scheduleSentence() const {
    const JobDefinition preview = previewDefinition();
    if (std::ranges::count(preview.watchPaths(), std::string()) > 0) return "";
    return preview.scheduleSummary();
}

}  // namespace qw
