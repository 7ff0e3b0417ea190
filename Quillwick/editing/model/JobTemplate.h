// JobTemplate: a ready-made starting point for a new launchd job — which folder it goes into, the few
// inputs the user fills in, and how those inputs and a label become a whole job definition. The six
// templates are built once, on first use, and never change; building touches no file and never fails.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "Quillwick/launchd/JobDefinition.h"
#include "helperkit/JobDirectory.h"

namespace qw {

class JobTemplate {
public:
    struct Parameter {
        // Chooses the sheet's control only; every value is kept and handed over as text.
        enum class Kind : std::uint8_t { text, path, directory, integer, time };

        std::string id;  // the key of the value in the sheet's map
        std::string title;
        std::string help;
        Kind kind = Kind::text;
        std::string placeholder;
        std::string defaultValue;

        bool operator==(const Parameter&) const = default;
    };

    // Parameter id to the text typed; any id may be missing.
    using Values = std::map<std::string, std::string>;
    using Builder = JobDefinition (*)(const std::string& label, const Values& values);

    const std::string& id() const { return id_; }
    const std::string& name() const { return name_; }
    const std::string& summary() const { return summary_; }
    const std::string& symbol() const { return symbol_; }  // SF Symbols name
    JobDirectory directory() const { return directory_; }
    const std::vector<Parameter>& parameters() const { return parameters_; }
    // Creating a job anywhere but the user's own agents asks for an administrator.
    bool needsAdministrator() const { return directory_ != JobDirectory::userAgents; }

    // A definition with no location, no load failure, in XML.
    JobDefinition build(const std::string& label, const Values& values) const { return builder_(label, values); }

    static const JobTemplate& login();
    static const JobTemplate& interval();
    static const JobTemplate& schedule();
    static const JobTemplate& watch();
    static const JobTemplate& server();
    static const JobTemplate& boot();
    // The six, in catalogue order.
    static const std::vector<JobTemplate>& all();
    // Compared exactly; nullptr when no template has the id.
    static const JobTemplate* named(std::string_view id);

    // What every template shares: Label, ProgramArguments (program, then the arguments split at
    // spaces), one log file for both output streams, ProcessType Background.
    static JobDefinition baseDefinition(const std::string& label, const Values& values, bool daemon);

    bool operator==(const JobTemplate& other) const { return id_ == other.id_; }

private:
    JobTemplate(std::string id, std::string name, std::string summary, std::string symbol, JobDirectory directory,
                std::vector<Parameter> parameters, Builder builder);

    std::string id_;
    std::string name_;
    std::string summary_;
    std::string symbol_;
    JobDirectory directory_;
    std::vector<Parameter> parameters_;
    Builder builder_;
};

}  // namespace qw
