#include "Quillwick/editing/model/ConfigureDraft.h"

namespace qw {

ConfigureDraft::ConfigureDraft(Job job, bool readOnly) : job_(std::move(job)), readOnly_(readOnly) {}

void ConfigureDraft::setJob(Job job, bool readOnly) {
    const bool sameJob = job.id() == job_.id();
    const bool followsFile = draft_ && !hasChanges();
    job_ = std::move(job);
    readOnly_ = readOnly;
    if (!sameJob || followsFile) revert();
}

void ConfigureDraft::take() {
    if (!draft_) revert();
}

void ConfigureDraft::revert() { draft_ = basis_ = job_.definition; }

void ConfigureDraft::saved(const JobDefinition& saved) {
    basis_ = saved;
    basis_->loadFailure.reset();
    // Only once the store holds what was written, and only when nothing was typed meanwhile.
    if (draft_ && draft_->file.root == saved.file.root && job_.definition && job_.definition->file.root == saved.file.root)
        revert();
}

JobDefinition ConfigureDraft::value() const {
    if (draft_) return *draft_;
    return JobDefinition(job_.label, std::nullopt);
}

void ConfigureDraft::setValue(JobDefinition definition) { draft_ = std::move(definition); }

bool ConfigureDraft::isEditable() const { return job_.definition && !readOnly_ && !isUnreadable(); }

bool ConfigureDraft::hasChanges() const {
    return draft_ && job_.definition && draft_->file.root != job_.definition->file.root;
}

void ConfigureDraft::addKey(const LaunchdSchema::Key& key) {
    if (draft_) draft_->set(key.name, defaultValue(key));
}

void ConfigureDraft::removeKey(const std::string& name) {
    JobDefinition definition = value();
    definition.set(name, std::nullopt);
    setValue(std::move(definition));
}

PlistValue ConfigureDraft::defaultValue(const LaunchdSchema::Key& key) {
    using Kind = LaunchdSchema::Shape::Kind;
    switch (key.shape.kind()) {
    case Kind::string:
    case Kind::path:
    case Kind::executablePath:
        return PlistValue("");
    case Kind::integer:
        return PlistValue(0);
    case Kind::boolean:
    case Kind::booleanOrConditions:
        return PlistValue(true);
    case Kind::stringArray:
    case Kind::pathArray:
    case Kind::stringOrStringArray:
        return PlistValue(PlistArray{});
    case Kind::stringDictionary:
    case Kind::integerDictionary:
    case Kind::structured:
        return PlistValue(PlistDictionary{});
    case Kind::calendarInterval:
        return PlistValue::dictionary({{"Hour", 9}, {"Minute", 0}});
    case Kind::data:
        return PlistValue(PlistData{});
    }
    return PlistValue("");
}

std::vector<const LaunchdSchema::Key*> ConfigureDraft::keysShown(LaunchdSchema::Section section) const {
    std::vector<const LaunchdSchema::Key*> keys;
    if (!draft_) return keys;
    for (const LaunchdSchema::Key& key : LaunchdSchema::keys(section)) {
        if (draft_->find(key.name)) keys.push_back(&key);
    }
    return keys;
}

std::vector<const LaunchdSchema::Key*> ConfigureDraft::keysOffered(LaunchdSchema::Section section) const {
    std::vector<const LaunchdSchema::Key*> keys;
    for (const LaunchdSchema::Key& key : LaunchdSchema::keys(section)) {
        if (!key.isDeprecated && !(draft_ && draft_->find(key.name))) keys.push_back(&key);
    }
    return keys;
}

std::vector<std::string> ConfigureDraft::unknownKeys() const { return draft_ ? draft_->unknownKeys() : std::vector<std::string>{}; }

}  // namespace qw
