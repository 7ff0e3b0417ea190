#include "Quillwick/app/JobBrowsing.h"

#include <QStringList>

namespace qw {
namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

bool contains(const std::string& haystack, const QString& needle) {
    return q(haystack).contains(needle, Qt::CaseInsensitive);
}

}  // namespace

QString statusLine(const Job& job) {
    static const QString dot = QStringLiteral(" · ");
    if (job.status && job.status->pid)
        return "Running" + dot + "pid " + QString::number(*job.status->pid);
    if (job.isDisabled)
        return "Disabled";
    if (job.status && job.status->lastExit && job.status->lastExit->isFailure())
        return "Failed" + dot + q(job.status->lastExit->description());
    if (job.isRuntimeOnly())
        return "Registered by an app";
    if (!job.status)
        return "Not loaded";
    if (job.directory)
        return q(std::string(job.directory->title()));
    return "Loaded";
}

QString problemMarkerHelp() { return QStringLiteral("This job has problems"); }

QString rowAccessibleText(const Job& job, bool hasProblem) {
    QStringList parts{q(job.label), statusLine(job)};
    if (hasProblem)
        parts << problemMarkerHelp();
    return parts.join(QStringLiteral(", "));
}

QString trimmedSearch(const QString& search) {
    qsizetype start = 0;
    qsizetype end = search.size();
    auto blank = [](QChar c) { return c == ' ' || c == '\t'; };
    while (start < end && blank(search[start]))
        ++start;
    while (end > start && blank(search[end - 1]))
        --end;
    return search.mid(start, end - start);
}

bool matchesSearch(const Job& job, const QString& text) {
    if (contains(job.label, text))
        return true;
    if (!job.definition)
        return false;
    const JobDefinition& d = *job.definition;
    const std::vector<std::string> arguments = d.programArguments();
    const std::optional<std::string> program = d.program();
    if (program ? contains(*program, text) : (!arguments.empty() && contains(arguments.front(), text)))
        return true;
    if (d.location && contains(d.location->url.string(), text))
        return true;
    std::string commandLine;
    if (arguments.empty()) {
        commandLine = program.value_or("");
    } else {
        for (std::size_t i = 0; i < arguments.size(); ++i)
            commandLine += (i ? " " : "") + arguments[i];
    }
    return contains(commandLine, text);
}

std::vector<Job> visibleJobs(const std::vector<Job>& jobs, const std::function<bool(const Job&)>& keep,
                             const QString& search) {
    const QString text = trimmedSearch(search);
    std::vector<Job> out;
    for (const Job& job : jobs)
        if (keep(job) && (text.isEmpty() || matchesSearch(job, text)))
            out.push_back(job);
    return out;
}

}  // namespace qw
