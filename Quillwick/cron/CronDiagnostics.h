// CronDiagnostics: the pitfalls that make cron jobs fail silently on macOS — a program that is missing
// or not executable, a bare name cron's short PATH will not find, "%" and "~" in the command, a
// schedule that runs every minute or ORs its two day fields, "@reboot", output thrown away, folders
// behind the privacy controls. Reads the existence and permissions of one path; no cron issue has a Fix.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Quillwick/cron/Crontab.h"
#include "Quillwick/launchd/Issue.h"

namespace qw::CronDiagnostics {

// The command, schedule and output checks in that order, errors first.
std::vector<Issue> issues(const CronJob& job, const Crontab& crontab);

std::vector<Issue> commandIssues(std::string_view command, const Crontab& crontab);
std::vector<Issue> scheduleIssues(const CronSchedule& schedule);
std::vector<Issue> outputIssues(std::string_view command, const Crontab& crontab);

// The first word (split at spaces) that is not an assignment; the first word when all are; "" for none.
std::string executable(std::string_view command);
// Whether the file at a path carries any execute bit; false when it cannot be read.
bool isExecutable(const std::string& path);

}  // namespace qw::CronDiagnostics
