#include "Quillwick/launchd/JobDiagnostics.h"

#include <algorithm>

#include "Quillwick/launchd/KeepAlive.h"
#include "Quillwick/launchd/LaunchdSchema.h"

namespace qw::Diagnostics {

namespace {

using Severity = Issue::Severity;

void add(std::vector<Issue>& out, Severity severity, std::string title, std::string explanation,
         std::optional<Fix> fix = std::nullopt) {
    out.push_back(Issue{severity, std::move(title), std::move(explanation), std::move(fix)});
}

// The failing last exit, when launchd reports one.
std::optional<RuntimeState::ExitStatus> failure(const Job& job) {
    auto exit = job.lastExit();
    if (exit && exit->isFailure()) return exit;
    return std::nullopt;
}

void runtimeIssues(const Job& job, std::vector<Issue>& out) {
    if (const auto exit = failure(job)) {
        const std::string base = exit->explanation().value_or("The program stopped with " + exit->description() + ".");
        // A LaunchOnlyOnce job is not started again, whatever KeepAlive says; nor is one whose KeepAlive
        // holds no condition.
        const KeepAlive keepAlive = job.definition ? job.definition->keepAlive() : KeepAlive::never();
        if (!keepAlive.isNever() && !keepAlive.hasNoCondition() && !job.definition->launchOnlyOnce())
            add(out, Severity::error, "This job keeps failing and being restarted",
                base + " Because KeepAlive is set, launchd starts it again each time, and will throttle it once it "
                       "has failed often enough. Fix the program or its arguments; raising the restart rate will "
                       "not help.");
        else
            add(out, Severity::error, "This job stopped with an error", base);
    }
    if (job.isDisabled)
        add(out, Severity::note, "This job is disabled",
            "launchd has a record saying not to load this job. The record lives in launchd's own database rather "
            "than in the plist, so it survives edits to the file and even deleting and recreating it.",
            Fix::enable());
}

// " The other copy is <path>." or " The other copies are <a>, <b> and <c>."; nothing without paths.
std::string otherCopies(const std::vector<std::string>& paths) {
    if (paths.empty()) return {};
    std::string text = paths.size() == 1 ? " The other copy is " : " The other copies are ";
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (i) text += i + 1 == paths.size() ? " and " : ", ";
        text += paths[i];
    }
    return text + ".";
}

void fileIssues(const Job& job, const FileFacts& facts, const std::unordered_set<std::string>& duplicateLabels,
                const std::vector<std::string>& otherFiles, std::vector<Issue>& out) {
    const JobDefinition* definition = job.definition ? &*job.definition : nullptr;
    if (definition && definition->loadFailure) {
        add(out, Severity::error, "This file is not a valid property list",
            "launchd cannot read it, so the job does not exist as far as the system is concerned. " +
                *definition->loadFailure);
        return;
    }
    if (definition && definition->file.root.empty() && facts.plistExists) {
        add(out, Severity::warning, "This file declares no job",
            "It is a valid property list containing nothing at all, so launchd reads it and finds no job to run. "
            "Files like this are usually left behind by software that has been uninstalled, and can be deleted.");
        return;
    }
    if (facts.plistIsLooselyPermissioned)
        add(out, Severity::error, "Anyone can edit this job's file",
            "The plist is writable by users other than its owner. launchd refuses to load a job in that state, "
            "because whoever can edit the file can choose what runs — as root, for a daemon.",
            Fix::repairPermissions());
    if (facts.plistIsWronglyOwned)
        add(out, Severity::error, "This job's file is not owned by root",
            "Everything in /Library/LaunchAgents and /Library/LaunchDaemons has to be owned by root, for the same "
            "reason as above: the file decides what runs for every user on the Mac.",
            Fix::repairPermissions());
    if (definition && definition->location) {
        const std::string label = definition->label();
        const std::string fileName = definition->location->url.stem().string();
        // Set against the file's name, a label ending in ".plist" reads the same as it: name that fault.
        const std::string mismatch = label.ends_with(".plist")
                                         ? "The job is called “" + label +
                                               "”, but a label should not end in “.plist”: the name its file "
                                               "suggests is “" + fileName + "”."
                                         : "The job is called “" + label + "” but its file is named “" + fileName +
                                               ".plist”.";
        if (!label.empty() && label != fileName)
            add(out, Severity::warning, "The label does not match the filename",
                mismatch + " launchd uses the label, so the job works — but every command and every other tool "
                           "goes looking for it under the name the file suggests, and does not find it.",
                Fix::setLabelToFilename(fileName));
    }
    if (duplicateLabels.contains(job.label))
        add(out, Severity::warning, "Another job has the same label",
            "More than one file on this Mac declares the label “" + job.label +
                "”. Only one of them can be loaded, and which one wins depends on the order things were "
                "bootstrapped — so edits may appear to have no effect because the other copy is the one running." +
                otherCopies(otherFiles));
    // launchd refuses the file as it stands: only the repair offered above can help.
    const bool refusedByLaunchd = facts.plistIsLooselyPermissioned || facts.plistIsWronglyOwned;
    if (definition && !job.status)
        add(out, Severity::note, "This job is not loaded",
            "The file is in place but launchd has not been told about it, so nothing will start it. Loading it "
            "now also makes it load automatically from then on.",
            refusedByLaunchd ? std::nullopt : std::optional(Fix::load()));
}

void pathIssues(const Job& job, const JobDefinition& definition, const FileFacts& facts, std::vector<Issue>& out) {
    for (const auto& folder : facts.missingLogDirectories)
        add(out, Severity::warning, "The log folder does not exist",
            "The job writes its output into " + folder +
                ", which is not there. launchd creates the log file but not the folder around it, so the program "
                "starts with no output and no explanation.",
            Fix::createDirectory(folder));
    for (const auto& path : facts.missingWatchPaths)
        add(out, Severity::warning, "A watched path does not exist",
            "WatchPaths includes " + path +
                ", which is not there. launchd watches paths that exist when the job is loaded; one that appears "
                "later does not start being watched on its own.");
    if (failure(job) && definition.logPaths().empty())
        add(out, Severity::note, "This job keeps no log",
            "It has failed, and neither StandardOutPath nor StandardErrorPath is set — so whatever the program said "
            "about why is gone. Setting StandardErrorPath is usually the fastest way to find out what is wrong.");
}

std::string relativePathExplanation(const JobDefinition& definition, const std::string& path) {
    const auto search = programSearch(definition);
    if (!search)
        return "launchd does not search PATH and does not run the command through a shell, so “" + path +
               "” will only be found if WorkingDirectory or RootDirectory happens to make it resolve. Use the full "
               "path.";
    const std::string looks = "launchd looks for “" + search->name + "” in ";
    if (search->folders.empty()) return looks + "the job's own PATH, which names no folder. Use the full path.";
    return looks + JobDefinition::englishJoin(search->folders) +
           (search->jobsOwnPath ? ", the job's own PATH," : ", the PATH it gives every job (not your shell's),") +
           " and it is in none of them. Use the full path.";
}

void definitionIssues(const Job& job, const JobDefinition& definition, const FileFacts& facts,
                      std::vector<Issue>& out) {
    // The file's own "Label": the label accessor falls back to the file name and is never empty here.
    const auto* label = definition.find("Label");
    const std::string* labelText = label ? label->stringPointer() : nullptr;
    if (!labelText || labelText->empty())
        add(out, Severity::error, "This job has no Label",
            "Every launchd job needs a Label, and it should match the filename.");

    const auto path = definition.executablePath();
    if (!path) {
        add(out, Severity::error, "This job has nothing to run",
            "Neither Program nor ProgramArguments is set, so there is no command for launchd to start.");
    } else {
        // A program found through PATH is judged, and named, by the file found.
        const std::string program = facts.executableOnPath.value_or(*path);
        if (!facts.executableExists)
            add(out, Severity::error, "The program does not exist",
                "There is nothing at " + program +
                    ". This is the most common reason a job fails silently — often because the program was "
                    "uninstalled, or because the path came from a shell where it resolved through PATH. launchd "
                    "does not search PATH.");
        else if (!facts.executableIsExecutable)
            add(out, Severity::error, "The program cannot be run",
                program + " exists but is not executable. If it is a script, give it the execute bit with chmod +x "
                          "— and a shebang line, because launchd will not run it through a shell.");
        if (!path->starts_with('/') && !facts.executableOnPath)
            add(out, Severity::warning, "The program is a relative path", relativePathExplanation(definition, *path));
    }

    if (!definition.hasStartTrigger())
        add(out, Severity::warning, "Nothing will ever start this job",
            "The job has no RunAtLoad, no schedule, no watched paths, no sockets and no Mach services — so launchd "
            "will load it and then wait forever for a reason to run it that cannot arrive.");

    const auto* runAtLoad = definition.find("RunAtLoad");
    const auto* interval = definition.find("StartInterval");
    if (runAtLoad && runAtLoad->boolValue().value_or(false) && definition.keepAlive().isAlways() && interval &&
        interval->intValue())
        add(out, Severity::warning, "StartInterval will not do anything here",
            "KeepAlive restarts the program the moment it exits, so it is always running and the interval never "
            "gets a chance to start it. Use one or the other: KeepAlive for something that should stay up, "
            "StartInterval for something that should run periodically and exit.");

    pathIssues(job, definition, facts, out);
}

void keyIssues(const JobDefinition& definition, std::vector<Issue>& out) {
    auto keys = definition.file.root.keys();
    std::sort(keys.begin(), keys.end());
    const bool inDaemonFolder = definition.location && definition.location->directory.isDaemon();
    const auto& typos = LaunchdSchema::typos();
    for (const auto& key : keys) {
        if (const auto typo = typos.find(key); typo != typos.end()) {
            add(out, Severity::warning, "“" + key + "” looks like a typo",
                "launchd ignores keys it does not recognise, without saying so, so this setting is quietly doing "
                "nothing. The spelling launchd knows is “" + typo->second + "”.");
            continue;
        }
        const auto* known = LaunchdSchema::key(key);
        if (!known) continue;
        const PlistValue* value = definition.find(key);
        if (const auto range = LaunchdSchema::integerRange(key);
            range && value->kind() == PlistValue::Kind::integer && !range->contains(*value))
            add(out, Severity::warning, "“" + key + "” is out of range",
                "launchd takes " + key + " only when it is " + range->text() +
                    ", and ignores this value with no more than a line in its own log, so the setting is quietly "
                    "doing nothing.");
        if (known->isDeprecated)
            add(out, Severity::note, "“" + key + "” is deprecated",
                known->deprecationNote.value_or("This key is no longer honoured by launchd."));
        if (known->applicability == LaunchdSchema::Applicability::daemons && !inDaemonFolder)
            add(out, Severity::warning, "“" + key + "” has no effect on an agent",
                "This key only means something for a daemon. An agent already runs as the user whose login session "
                "it belongs to.");
    }
}

}  // namespace

std::vector<Issue> issues(const Job& job, const FileFacts& facts,
                          const std::unordered_set<std::string>& duplicateLabels,
                          const std::vector<std::string>& otherFiles) {
    std::vector<Issue> out;
    runtimeIssues(job, out);
    if (!job.isSystem()) fileIssues(job, facts, duplicateLabels, otherFiles, out);
    if (job.definition && !job.definition->loadFailure && !job.definition->file.root.empty()) {
        definitionIssues(job, *job.definition, facts, out);
        keyIssues(*job.definition, out);
    }
    sortBySeverity(out);
    return out;
}

}  // namespace qw::Diagnostics
