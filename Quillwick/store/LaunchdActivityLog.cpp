#include "Quillwick/store/LaunchdActivityLog.h"

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <string>

#include "helperkit/Subprocess.h"
#include "helperkit/SystemPaths.h"

namespace qw {
namespace {

using Outcome = std::optional<Subprocess::Result>;  // none: the tool could not be run

Outcome showLog(int minutes) {
    try {
        return Subprocess::run(SystemPaths::current().logTool().string(),
                               {"show", "--last", std::to_string(minutes) + "m", "--style", "compact", "--predicate",
                                "process == \"launchd\""});
    } catch (const Subprocess::Failure&) {
        return std::nullopt;
    }
}

}  // namespace

LaunchdActivityLog::LaunchdActivityLog(QObject* parent) : QObject(parent) {}

QFuture<void> LaunchdActivityLog::load(const QString& label, int minutes) {
    setLoading(true);
    setError(std::nullopt);
    return QtConcurrent::run(QThreadPool::globalInstance(), [minutes] { return showLog(minutes); })
        .then(this, [this, needle = label.toStdString()](Outcome outcome) {
            if (!outcome) {
                setError(QStringLiteral("Could not read the system log."));
                setLines({});
            } else if (outcome->exitStatus != 0) {
                setError(QString::fromStdString(outcome->message()));
                setLines({});
            } else {
                QStringList kept;
                std::string_view text = outcome->standardOutput;
                while (!text.empty()) {
                    const auto end = text.find('\n');
                    const auto line = text.substr(0, end);
                    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
                    if (!line.empty() && line.find(needle) != std::string_view::npos)
                        kept.append(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
                }
                if (kept.size() > maximumLines) kept.erase(kept.begin(), kept.end() - maximumLines);
                setLines(std::move(kept));
            }
            setLoading(false);
        });
}

void LaunchdActivityLog::setLines(QStringList lines) {
    if (lines_ == lines) return;
    lines_ = std::move(lines);
    emit linesChanged();
}

void LaunchdActivityLog::setLoading(bool loading) {
    if (isLoading_ == loading) return;
    isLoading_ = loading;
    emit isLoadingChanged(loading);
}

void LaunchdActivityLog::setError(std::optional<QString> error) {
    if (error_ == error) return;
    error_ = std::move(error);
    emit errorChanged();
}

}  // namespace qw
