// ConfigureDraft: the Configure tab's working copy of one job's definition, and what the tab derives
// from it — whether the job may be edited, whether the copy differs from the file, which keys to show
// in which section, which to offer for adding. Nothing here touches the disk: the tab hands the copy to
// the operation router on Save.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Quillwick/launchd/Job.h"
#include "Quillwick/launchd/LaunchdSchema.h"

namespace qw {

class ConfigureDraft {
public:
    // `readOnly` is the router's answer for the job (a system folder).
    ConfigureDraft(Job job, bool readOnly);

    const Job& job() const { return job_; }
    // A new value of the shown job. Another id retakes the draft; the same id keeps unsaved edits, but
    // a draft without edits follows the new file, so a change saved elsewhere is not undone by Save.
    void setJob(Job job, bool readOnly);

    // Takes the draft from the job when there is none yet (the tab came into view).
    void take();
    void revert();
    // After a successful save of `saved`: the draft follows the file again unless it was edited since.
    void saved(const JobDefinition& saved);

    const std::optional<JobDefinition>& draft() const { return draft_; }
    // The file as the draft was taken from it, or as last saved: a save writes only while the file on
    // disk still reads as this, so an outside change is never overwritten.
    const std::optional<JobDefinition>& basis() const { return basis_; }
    // The binding's read: the draft, or a bare definition for the job's label when there is none.
    JobDefinition value() const;
    void setValue(JobDefinition definition);

    bool isEditable() const;
    // The file could not be read: there is nothing to edit, and saving would replace it with nothing.
    bool isUnreadable() const { return job_.definition && job_.definition->loadFailure.has_value(); }
    bool hasChanges() const;

    void addKey(const LaunchdSchema::Key& key);
    void removeKey(const std::string& name);
    static PlistValue defaultValue(const LaunchdSchema::Key& key);

    // The catalogue keys of a section that the draft holds, in catalogue order.
    std::vector<const LaunchdSchema::Key*> keysShown(LaunchdSchema::Section section) const;
    // The keys of a section that the add menu offers: not held, not deprecated.
    std::vector<const LaunchdSchema::Key*> keysOffered(LaunchdSchema::Section section) const;
    std::vector<std::string> unknownKeys() const;

private:
    Job job_;
    bool readOnly_;
    std::optional<JobDefinition> draft_;
    std::optional<JobDefinition> basis_;
};

}  // namespace qw
