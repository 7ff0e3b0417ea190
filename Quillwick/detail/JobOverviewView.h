// JobOverviewView: the detail pane's first tab — a read-only summary in plain English of what one job
// runs, when, why it last stopped, where it lives and what it was given. It reads the job as the store
// knows it and, when the pane could load it, the run-time state; it runs nothing and reads no file.
#pragma once

#include <optional>

#include <QString>
#include <QStringList>
#include <QWidget>

#include "Quillwick/launchd/Job.h"
#include "Quillwick/launchd/RuntimeState.h"

class QGridLayout;
class QScrollArea;
class QVBoxLayout;

namespace qw {

class JobOverviewView : public QWidget {
    Q_OBJECT
public:
    JobOverviewView(Job job, std::optional<RuntimeState> runtime, QWidget* parent = nullptr);

    // Each redraws the whole tab from the two inputs.
    void setJob(Job job);
    void setRuntime(std::optional<RuntimeState> runtime);

    const Job& job() const { return job_; }
    const std::optional<RuntimeState>& runtime() const { return runtime_; }

    // What the sections say, from the two inputs alone.
    static std::optional<QString> whyItStopped(const Job& job, const std::optional<RuntimeState>& runtime);
    static std::optional<QString> commandLine(const Job& job, const std::optional<RuntimeState>& runtime);
    static QStringList logPaths(const Job& job, const std::optional<RuntimeState>& runtime);

private:
    void rebuild();
    QWidget* section(QVBoxLayout* column, const QString& title, const char* name, QWidget* body);
    QWidget* detailsRows(QWidget* parent) const;
    QWidget* environmentRows(QWidget* parent) const;

    Job job_;
    std::optional<RuntimeState> runtime_;
    QScrollArea* scroll_;
};

}  // namespace qw
