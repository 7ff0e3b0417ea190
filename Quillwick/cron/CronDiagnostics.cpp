#include "Quillwick/cron/CronDiagnostics.h"

#include <sys/stat.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "Quillwick/cron/CronText.h"
#include "Quillwick/launchd/FileFacts.h"
#include "helperkit/SystemPaths.h"

namespace qw::CronDiagnostics {

namespace {

Issue issue(Issue::Severity severity, std::string title, std::string explanation) {
    return Issue{severity, std::move(title), std::move(explanation), std::nullopt};
}

// cron hands the command to sh, which runs these itself: no PATH search happens for them.
bool isShellBuiltin(std::string_view word) {
    static const std::set<std::string_view> words = {
        "!",     "{",        "}",        "[[",     "]]",      ".",      ":",       "[",     "alias",  "bg",
        "break", "builtin",  "case",     "cd",     "command", "continue", "do",    "done",  "echo",   "elif",
        "else",  "esac",     "eval",     "exec",   "exit",    "export", "false",   "fg",    "fi",     "for",
        "function", "getopts", "hash",   "if",     "jobs",    "kill",   "local",   "printf", "pwd",   "read",
        "readonly", "return", "select",  "set",    "shift",   "source", "test",    "then",  "time",   "times",
        "trap",  "true",     "type",     "ulimit", "umask",   "unalias", "unset",  "until", "wait",   "while"};
    return words.contains(word);
}

bool isOperatorCharacter(char c) { return c == ';' || c == '&' || c == '|' || c == '(' || c == ')' || c == '<' || c == '>'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

// What sh makes of a command, as far as the checks need it: where an unquoted "#" starts a comment,
// and whether it leaves a tilde that starts a path unexpanded (quoted, or inside a word other than an
// assignment's value).
struct ShellReading {
    std::string_view code;  // the command up to its comment
    bool literalTilde = false;
};

// Scripts within scripts are read again only this deep, so a pathological line costs little.
constexpr int deepestScript = 8;

// "~/x" and "~user/x" start a path; "HEAD~1" does not.
bool startsPath(std::string_view text, std::size_t tilde) {
    std::size_t at = tilde + 1;
    while (at < text.size() && (std::isalnum(static_cast<unsigned char>(text[at])) || text[at] == '.' ||
                                text[at] == '_' || text[at] == '-'))
        ++at;
    return at < text.size() && text[at] == '/';
}

// Whether the next word is the script of a shell's -c, which that shell reads (and expands) again.
bool isScriptArgument(const std::vector<std::string>& words) {
    static const std::set<std::string_view> shells = {"sh", "bash", "dash", "zsh", "ksh"};
    static const std::set<std::string_view> prefixes = {"exec", "env", "nice", "nohup", "command"};
    // A shell and its options come first: past a few words, no script follows.
    if (words.size() > 12) return false;
    std::size_t at = 0;
    while (at < words.size() && (prefixes.contains(words[at]) || words[at].find('=') != std::string::npos)) ++at;
    if (at >= words.size()) return false;
    const std::string_view program = words[at];
    const auto slash = program.rfind('/');
    if (!shells.contains(slash == std::string_view::npos ? program : program.substr(slash + 1))) return false;
    if (at + 1 >= words.size()) return false;
    for (std::size_t i = at + 1; i < words.size(); ++i)
        if (!words[i].starts_with('-') || words[i].starts_with("--")) return false;
    return words.back().find('c') != std::string::npos;
}

// Where the command substitution opened just before `from` closes, or npos.
std::size_t substitutionEnd(std::string_view text, std::size_t from) {
    int depth = 1;
    bool single = false, dbl = false;
    for (std::size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (single) {
            single = c != '\'';
        } else if (c == '\\') {
            ++i;
        } else if (dbl) {
            dbl = c != '"';
        } else if (c == '\'') {
            single = true;
        } else if (c == '"') {
            dbl = true;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && --depth == 0) {
            return i;
        }
    }
    return std::string_view::npos;
}

ShellReading readShell(std::string_view command, int depth = 0) {
    ShellReading reading{command, false};
    bool single = false, dbl = false, escaped = false;
    bool wordStart = true;       // the next character begins a word
    bool assignment = false;     // in a word that began "NAME="
    bool nameSoFar = true;       // the word so far could be the NAME of an assignment
    bool afterAssignmentMark = false;  // right after the "=" or a ":" of an assignment
    std::vector<std::string> words;    // the simple command's words so far, quotes removed
    std::string word;
    bool inWord = false;
    bool wordTilde = false;      // the word holds a tilde sh leaves as it is
    const auto literal = [&](std::size_t at) {
        if (startsPath(command, at)) wordTilde = true;
    };
    const auto readAgain = [&](std::string_view script) {
        if (depth < deepestScript && readShell(script, depth + 1).literalTilde) reading.literalTilde = true;
    };
    const auto endWord = [&] {
        if (!inWord) return;
        // The shell of a -c reads its script again: what counts is what that reading leaves.
        if (isScriptArgument(words) && depth < deepestScript) readAgain(word);
        else if (wordTilde) reading.literalTilde = true;
        words.push_back(std::move(word));
        word.clear();
        inWord = false;
        wordTilde = false;
    };
    // Inside double quotes a command substitution is a command line of its own. One left open is a
    // syntax error that sh runs nothing after, so the search for the others stops there too.
    bool unclosed = false;
    const auto substitution = [&](std::size_t& i) {
        if (unclosed) return false;
        std::size_t end = std::string_view::npos;
        std::size_t from = i + 1;
        if (command[i] == '$' && i + 1 < command.size() && command[i + 1] == '(') {
            from = i + 2;
            end = substitutionEnd(command, from);
        } else if (command[i] == '`') {
            end = command.find('`', from);
        }
        if (end == std::string_view::npos) {
            unclosed = true;
            return false;
        }
        readAgain(command.substr(from, end - from));
        word.append(command.substr(i, end + 1 - i));
        i = end;
        return true;
    };
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        const bool starts = wordStart;
        const bool valueStart = afterAssignmentMark;
        wordStart = false;
        afterAssignmentMark = false;
        if (escaped) {
            escaped = false;
            nameSoFar = false;
            if (dbl && c != '$' && c != '`' && c != '"' && c != '\\') word += '\\';
            word += c;
            if (c == '~') literal(i);
            continue;
        }
        if (single) {
            if (c == '\'') single = false;
            else word += c;
            if (c == '~') literal(i);
            continue;
        }
        if (dbl) {
            if (c == '\\') escaped = true;
            else if (c == '"') dbl = false;
            else if ((c == '$' || c == '`') && substitution(i)) continue;
            else word += c;
            if (c == '~') literal(i);
            continue;
        }
        if (isBlank(c) || isOperatorCharacter(c)) {
            endWord();
            // Redirections stay within the simple command; the other operators end it.
            if (c != '<' && c != '>' && !isBlank(c)) words.clear();
            wordStart = true;
            assignment = false;
            nameSoFar = true;
            continue;
        }
        inWord = true;
        if (starts) {
            assignment = false;
            nameSoFar = true;
        }
        switch (c) {
        case '#':
            if (starts) {
                reading.code = command.substr(0, i);
                return reading;
            }
            break;
        case '~':
            if (!starts && !valueStart) literal(i);
            break;
        case '\\': escaped = true; break;
        case '\'': single = true; break;
        case '"': dbl = true; break;
        case '=':
            if (nameSoFar && !starts) assignment = true;
            afterAssignmentMark = assignment;
            break;
        case ':': afterAssignmentMark = assignment; break;
        default: break;
        }
        if (c != '\\' && c != '\'' && c != '"') word += c;
        const bool nameCharacter = c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (!starts && c >= '0' && c <= '9');
        if (!nameCharacter) nameSoFar = false;
    }
    endWord();
    return reading;
}

// The folders of the user's own that macOS guards, as a command may spell them.
bool touchesProtectedFolder(std::string_view code) {
    const SystemPaths& paths = SystemPaths::current();
    std::vector<std::string> homes = {"~", "$HOME", "${HOME}", "\"$HOME\"", "\"${HOME}\"", paths.home().string()};
    const std::string root = paths.root().string();
    if (paths.isSandboxed() && homes.back().starts_with(root + "/")) homes.push_back(homes.back().substr(root.size()));
    const auto isPathCharacter = [](char c) {
        return c == '/' || c == '.' || c == '-' || c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
               (c >= 'A' && c <= 'Z');
    };
    for (const std::string_view folder : {"Documents", "Desktop", "Downloads", "Library/Mail"}) {
        for (const std::string& home : homes) {
            const std::string spelled = home + "/" + std::string(folder);
            for (auto at = code.find(spelled); at != std::string_view::npos; at = code.find(spelled, at + 1)) {
                const std::size_t end = at + spelled.size();
                const bool startsWord = at == 0 || !isPathCharacter(code[at - 1]);
                const bool endsName = end == code.size() || code[end] == '/' || !isPathCharacter(code[end]);
                if (startsWord && endsName) return true;
            }
        }
    }
    return false;
}

// Whether sh must search PATH for the program word and cron's own PATH (/usr/bin:/bin on the machine)
// lacks it. A word holding "/" or "$", or starting with "~", is no name to search for.
bool needsPathSearch(std::string_view program) {
    while (program.starts_with('(')) program.remove_prefix(1);
    if (program.empty() || isShellBuiltin(program)) return false;
    if (program.find_first_of("/$") != std::string_view::npos || program.starts_with('~')) return false;
    const auto found = Diagnostics::searchPath(program, {"/usr/bin", "/bin"});
    return !found || !found->runnable;
}

// cron cuts the command at the first "%" that no backslash escapes; "\\%" escapes the backslash only.
bool hasUnescapedPercent(std::string_view command) {
    bool escaped = false;
    for (const char c : command) {
        if (escaped) escaped = false;
        else if (c == '\\') escaped = true;
        else if (c == '%') return true;
    }
    return false;
}

// MAILTO set to nothing ("", '' or empty) switches cron's mail off.
bool mailIsOff(const std::string& value) {
    const std::string_view text = CronText::trimmed(value);
    return text.empty() || text == "\"\"" || text == "''";
}

Issue refusedIssue(const std::string& reason) {
    return issue(Issue::Severity::error, "cron refuses this schedule",
                 reason + " The line never runs, and crontab will not install a crontab that holds it: no change "
                          "to this crontab can be saved until the line is deleted or corrected with crontab -e.");
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
    const ShellReading shell = readShell(command);
    const std::string program = executable(shell.code);
    if (program.starts_with('/')) {
        // Looked up where it would run, as the job checks do; messages name that path.
        const std::string path = Diagnostics::programFile(program);
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            found.push_back(issue(Issue::Severity::error, "The command does not exist", "There is nothing at " + path + "."));
        } else if (!isExecutable(path)) {
            found.push_back(issue(Issue::Severity::error, "The command cannot be run",
                                  path + " exists but has no execute permission. If it is a script, give it the "
                                         "execute bit with chmod +x and a shebang line."));
        }
    } else if (!program.empty() && !crontab.environment().contains("PATH") && needsPathSearch(program)) {
        found.push_back(issue(Issue::Severity::warning, "This relies on PATH, and cron's PATH is not yours",
                              "cron runs commands with a minimal PATH — usually just /usr/bin:/bin — and none of "
                              "your shell's configuration. “" + program +
                                  "” will not be found if it lives in /opt/homebrew/bin or /usr/local/bin. Use "
                                  "the full path, or set PATH= at the top of the crontab."));
    }
    if (hasUnescapedPercent(command)) {
        found.push_back(issue(Issue::Severity::error, "An unescaped % will break this command",
                              "In a crontab, % means a newline: cron cuts the command at the first % and feeds the "
                              "rest to it as standard input. A date format like %Y-%m-%d silently becomes an empty "
                              "command line. Escape each one as \\%."));
    }
    if (shell.literalTilde) {
        found.push_back(issue(Issue::Severity::warning, "A tilde may not expand",
                              "cron does not run the command through a login shell, so ~ is only expanded in some "
                              "positions and not others. Write the full path to your home folder instead."));
    }
    return found;
}

std::vector<Issue> scheduleIssues(const CronSchedule& schedule) {
    std::vector<Issue> found;
    // A line cron refuses never runs, so nothing else about when it runs matters.
    if (const auto reason = schedule.refusal()) {
        found.push_back(refusedIssue(*reason));
        return found;
    }
    if (const auto reason = schedule.neverRuns()) {
        found.push_back(issue(Issue::Severity::warning, "This never runs",
                              *reason + " crontab installs the line all the same, but cron never starts it."));
        return found;
    }
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
    if (schedule.runsEveryMinute()) {
        found.push_back(issue(Issue::Severity::warning, "This runs every minute",
                              "The minute field is *, so this starts sixty times an hour. If that is not deliberate, "
                              "set a minute — and note that cron starts a new copy whether or not the last one "
                              "finished."));
    }
    if (schedule.joinsDaysByOr()) {
        found.push_back(issue(Issue::Severity::warning, "Day of month and day of week are an OR, not an AND",
                              "When both are set, cron runs the job on days matching *either* field, which is almost "
                              "never what people mean by writing both. Leave one as * unless you want the union."));
    }
    return found;
}

std::vector<Issue> outputIssues(std::string_view command, const Crontab& crontab) {
    std::vector<Issue> found;
    const std::string_view code = readShell(command).code;
    const auto environment = crontab.environment();
    const auto mailto = environment.find("MAILTO");
    const bool mailOff = mailto != environment.end() && mailIsOff(mailto->second);
    if (code.find_first_of(">|") == std::string_view::npos && (mailto == environment.end() || mailOff)) {
        const std::string redirect = "Redirect the output to a file — append >> /path/to/log 2>&1 — or you will "
                                     "have nothing to read when it misbehaves.";
        found.push_back(issue(Issue::Severity::note, "This job's output goes nowhere",
                              mailOff ? "MAILTO is empty, so cron mails nothing and whatever this command prints is "
                                        "lost. " + redirect
                                      : "cron mails whatever a command prints to the local user, and on a Mac with "
                                        "no mail transfer agent that mail is discarded. " + redirect));
    }
    if (touchesProtectedFolder(code)) {
        found.push_back(issue(Issue::Severity::warning, "This touches a folder macOS protects",
                              "Documents, Desktop, Downloads and a few others are behind privacy controls. A cron job "
                              "reaching into one fails silently unless /usr/sbin/cron has been given Full Disk Access "
                              "in System Settings — which grants it to every cron job you have, not just this one."));
    }
    return found;
}

std::vector<Issue> issues(const CronJob& job, const Crontab& crontab) {
    std::vector<Issue> all;
    const auto reason = job.refusal();
    if (reason && !job.schedule.refusal()) {
        // The "*" was meant as a time field: read as the program, it would only mislead.
        all.push_back(refusedIssue(*reason));
    } else {
        all = commandIssues(job.command, crontab);
        for (auto& i : scheduleIssues(job.schedule)) all.push_back(std::move(i));
    }
    for (auto& i : outputIssues(job.command, crontab)) all.push_back(std::move(i));
    sortBySeverity(all);
    return all;
}

}  // namespace qw::CronDiagnostics
