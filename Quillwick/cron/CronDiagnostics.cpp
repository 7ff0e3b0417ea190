#include "Quillwick/cron/CronDiagnostics.h"

#include <sys/stat.h>

#include "helperkit/SystemPaths.h"

namespace qw::CronDiagnostics {

namespace {

Issue issue(Issue::Severity severity, std::string title, std::string explanation) {
    return Issue{severity, std::move(title), std::move(explanation), std::nullopt};
}

}  // namespace

std::string executable(std::string_view command) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < command.size()) {
        const auto space = command.find(' ', at);
        const std::size_t end = space == std::string_view::npos ? command.size() : space;
        if (end > at) words.push_back(command.substr(at, end - at));
        at = end + 1;
    }
    if (words.empty()) return {};
    for (const auto word : words)
        if (word.find('=') == std::string_view::npos) return std::string(word);
    return std::string(words.front());
}

bool isExecutable(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & 0111) != 0;
}

std::vector<Issue> commandIssues(std::string_view command, const Crontab& crontab) {
    std::vector<Issue> found;
    const std::string program = executable(command);
    if (program.starts_with('/')) {
        // In a sandbox the program lies under the machine's root, and messages name the real path.
        const std::string path = SystemPaths::current().resolve(program).string();
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            found.push_back(issue(Issue::Severity::error, "The command does not exist", "There is nothing at " + path + "."));
        } else if (!isExecutable(path)) {
            found.push_back(issue(Issue::Severity::error, "The command cannot be run",
                                  path + " exists but has no execute permission. If it is a script, give it the "
                                         "execute bit with chmod +x and a shebang line."));
        }
    } else if (!program.empty() && !crontab.environment().contains("PATH")) {
        found.push_back(issue(Issue::Severity::warning, "This relies on PATH, and cron's PATH is not yours",
                              "cron runs commands with a minimal PATH — usually just /usr/bin:/bin — and none of "
                              "your shell's configuration. “" + program +
                                  "” will not be found if it lives in /opt/homebrew/bin or /usr/local/bin. Use "
                                  "the full path, or set PATH= at the top of the crontab."));
    }
    if (command.find('%') != std::string_view::npos && command.find("\\%") == std::string_view::npos) {
        found.push_back(issue(Issue::Severity::error, "An unescaped % will break this command",
                              "In a crontab, % means a newline: cron cuts the command at the first % and feeds the "
                              "rest to it as standard input. A date format like %Y-%m-%d silently becomes an empty "
                              "command line. Escape each one as \\%."));
    }
    if (command.find('~') != std::string_view::npos) {
        found.push_back(issue(Issue::Severity::warning, "A tilde may not expand",
                              "cron does not run the command through a login shell, so ~ is only expanded in some "
                              "positions and not others. Write the full path to your home folder instead."));
    }
    return found;
}

std::vector<Issue> scheduleIssues(const CronSchedule& schedule) {
    std::vector<Issue> found;
    if (schedule.isSpecial()) {
        if (schedule.word() == "@reboot") {
            found.push_back(issue(Issue::Severity::note, "@reboot is unreliable on macOS",
                                  "cron itself is started on demand, so @reboot fires whenever cron happens to start "
                                  "rather than dependably at startup. A launchd job with RunAtLoad is the supported "
                                  "way to run something at boot or login."));
        }
        return found;
    }
    const auto& fields = schedule.fieldValues();
    if (fields.size() != 5) return found;
    if (fields[0] == "*") {
        found.push_back(issue(Issue::Severity::warning, "This runs every minute",
                              "The minute field is *, so this starts sixty times an hour. If that is not deliberate, "
                              "set a minute — and note that cron starts a new copy whether or not the last one "
                              "finished."));
    }
    if (fields[2] != "*" && fields[4] != "*") {
        found.push_back(issue(Issue::Severity::warning, "Day of month and day of week are an OR, not an AND",
                              "When both are set, cron runs the job on days matching *either* field, which is almost "
                              "never what people mean by writing both. Leave one as * unless you want the union."));
    }
    return found;
}

std::vector<Issue> outputIssues(std::string_view command, const Crontab& crontab) {
    std::vector<Issue> found;
    if (command.find('>') == std::string_view::npos && command.find("| ") == std::string_view::npos &&
        !crontab.environment().contains("MAILTO")) {
        found.push_back(issue(Issue::Severity::note, "This job's output goes nowhere",
                              "cron mails whatever a command prints to the local user, and on a Mac with no mail "
                              "transfer agent that mail is discarded. Redirect the output to a file — append >> "
                              "/path/to/log 2>&1 — or you will have nothing to read when it misbehaves."));
    }
    for (const std::string_view folder : {"/Documents", "/Desktop", "/Downloads", "Library/Mail"}) {
        if (command.find(folder) == std::string_view::npos) continue;
        found.push_back(issue(Issue::Severity::warning, "This touches a folder macOS protects",
                              "Documents, Desktop, Downloads and a few others are behind privacy controls. A cron job "
                              "reaching into one fails silently unless /usr/sbin/cron has been given Full Disk Access "
                              "in System Settings — which grants it to every cron job you have, not just this one."));
        break;
    }
    return found;
}

std::vector<Issue> issues(const CronJob& job, const Crontab& crontab) {
    std::vector<Issue> all = commandIssues(job.command, crontab);
    for (auto& i : scheduleIssues(job.schedule)) all.push_back(std::move(i));
    for (auto& i : outputIssues(job.command, crontab)) all.push_back(std::move(i));
    sortBySeverity(all);
    return all;
}

}  // namespace qw::CronDiagnostics
