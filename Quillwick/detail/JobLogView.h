// JobLogView: the Log tab. Follows each output file of the job live and shows launchd's own lines about
// it from the last hour; a segmented picker chooses the source and a field filters the lines.
#pragma once

#include <QFuture>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <map>
#include <memory>
#include <optional>

#include "Quillwick/launchd/Job.h"
#include "Quillwick/launchd/RuntimeState.h"

class QButtonGroup;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedLayout;

namespace qw {

class ElidedLabel;
class EmptyStateView;
class LaunchdActivityLog;
class LogLines;
class LogTail;

class JobLogView : public QWidget {
    Q_OBJECT
public:
    struct Source {
        enum class Kind { file, launchd };
        Kind kind = Kind::launchd;
        QString path;  // only for a file

        static Source file(QString path) { return {Kind::file, std::move(path)}; }
        static Source launchd() { return {}; }
        bool operator==(const Source&) const = default;
        friend size_t qHash(const Source& s, size_t seed = 0) { return qHashMulti(seed, int(s.kind), s.path); }
    };

    JobLogView(Job job, std::optional<RuntimeState> runtime, QWidget* parent = nullptr);
    ~JobLogView() override;
    void setJob(Job job);
    void setRuntime(std::optional<RuntimeState> runtime);

    // The output files: the job file's, else the run-time state's, never /dev/null, /dev/console or twice.
    QStringList logPaths() const;
    QString title(const QString& path) const;

    // Replaces every follower with a fresh one per output file and picks the first file; with none,
    // reads launchd's log.
    void restartTails();
    QFuture<void> loadActivity();

    const Source& source() const { return source_; }
    void setSource(const Source& source);  // as the picker does
    LogTail* tail(const QString& path) const;
    LaunchdActivityLog& activity() const { return *activity_; }
    LogLines* lines() const { return lines_; }
    QString footerPath() const;  // the whole path the footer shows, or ""

protected:
    void showEvent(QShowEvent* event) override;

private:
    void replaceActivity();
    void stopTails();
    void rebuildPicker();
    void refresh();
    // After a change of the job or its run-time state: follow the new files if they differ.
    void followChangedPaths();

    Job job_;
    std::optional<RuntimeState> runtime_;
    Source source_;
    std::map<QString, std::unique_ptr<LogTail>> tails_;
    std::unique_ptr<LaunchdActivityLog> activity_;
    QString filter_;

    QStringList followed_;        // the paths of the last start
    bool started_ = false;        // the tab has come into view for this job
    bool activityAsked_ = false;  // a query ran on this job's activity log

    QHBoxLayout* picker_;
    QButtonGroup* pickerGroup_;
    QList<Source> pickerSources_;
    QLineEdit* filterField_;
    QStackedLayout* content_;
    QWidget* progress_;
    EmptyStateView* noLog_;
    LogLines* lines_;
    std::optional<Source> linesShowing_;  // the source whose lines the list holds
    QWidget* notice_;
    ElidedLabel* pathLabel_;
    QPushButton* reload_;
};

}  // namespace qw
