// Job: one launchd job as the application lists it — the union of its file (if any), its line of
// "launchctl list" (if launchd has it loaded) and launchd's disabled record. Never reads the disk or
// runs anything: every member is computed from the five stored fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "Quillwick/launchd/JobDefinition.h"
#include "Quillwick/launchd/LaunchctlListEntry.h"
#include "Quillwick/launchd/RuntimeState.h"
#include "helperkit/JobDirectory.h"
#include "helperkit/LaunchdDomain.h"

namespace qw {

struct Job {
    enum class Health { running, loadedIdle, failed, disabled, notLoaded };

    std::string label;
    std::optional<JobDefinition> definition;   // none for a job launchd has without a file
    std::optional<LaunchctlListEntry> status;  // none when launchd does not list it
    bool isDisabled = false;
    std::optional<JobDirectory> directory;     // absent exactly when definition is

    // The folder's raw value (or "runtime"), ":" and the label.
    std::string id() const;

    bool isLoaded() const { return status.has_value(); }
    bool isRunning() const { return status && status->pid; }
    std::optional<std::int32_t> pid() const { return status ? status->pid : std::nullopt; }
    std::optional<RuntimeState::ExitStatus> lastExit() const { return status ? status->lastExit : std::nullopt; }
    Health health() const;

    bool isSystem() const;
    bool isApple() const;
    bool isRegisteredByApp() const;
    bool isInstalled() const;
    bool isRuntimeOnly() const { return !definition.has_value(); }
    LaunchdDomain domain() const;  // system for the daemon folders, else the current user's gui domain
    ServiceTarget serviceTarget() const { return {domain(), label}; }

    std::size_t hash() const;
    bool operator==(const Job&) const = default;
};

}  // namespace qw

template <>
struct std::hash<qw::Job> {
    std::size_t operator()(const qw::Job& j) const noexcept { return j.hash(); }
};
