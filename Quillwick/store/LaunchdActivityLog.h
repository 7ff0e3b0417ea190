// LaunchdActivityLog: launchd's own recent messages about one job, read from the unified log with
// "log show" off the main thread. Main thread only; a result that arrives after the object is gone is
// dropped.
#pragma once

#include <QFuture>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace qw {

class LaunchdActivityLog : public QObject {
    Q_OBJECT
public:
    static constexpr int maximumLines = 500;

    explicit LaunchdActivityLog(QObject* parent = nullptr);

    const QStringList& lines() const { return lines_; }
    bool isLoading() const { return isLoading_; }
    const std::optional<QString>& error() const { return error_; }

    // The last `minutes` of launchd's lines that contain `label` (plain, case-sensitive), at most the
    // newest 500, in the log's order. The future finishes once they are stored; it never fails.
    QFuture<void> load(const QString& label, int minutes = 60);

signals:
    void linesChanged();
    void isLoadingChanged(bool isLoading);
    void errorChanged();

private:
    void setLines(QStringList lines);
    void setLoading(bool loading);
    void setError(std::optional<QString> error);

    QStringList lines_;
    bool isLoading_ = false;
    std::optional<QString> error_;
};

}  // namespace qw
